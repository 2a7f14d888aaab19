// How close to its second each change of level lands, for the tick this program uses (a
// single-shot timer re-armed from the clock after every second boundary) and for a free-running
// 1000 ms timer started at a random phase. Runs the real tick, the real PulseAudio provider and a
// schedule that switches every few seconds against the PulseAudio server that PULSE_SERVER names,
// and watches the server's sink through a libpulse subscription.
//
// Usage: timing_bench [seconds of switching, default 120] [idle seconds, default 30]

#include <sys/resource.h>

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "Percentile.h"
#include "SinkWatcher.h"
#include "engine/Core.h"
#include "engine/TimeText.h"
#include "mixer/pulse/PulseMixer.h"
#include "settings/FileSettingsStore.h"
#include "support/Fakes.h"
#include "ui/SecondTicker.h"

namespace {

using namespace hushwell;
using WallClock = std::chrono::system_clock;

using bench::msSinceEpoch;
using bench::percentile;
using bench::SinkWatcher;

// The PulseAudio provider called at once on the tick's thread, noting the second of each apply.
class MeasuredMixer final : public SystemVolume {
public:
    struct Apply {
        double boundary;  // the second boundary the apply belongs to
        double at;        // when it was made
    };
    std::vector<Apply> applied;
    bool open() override { return m_mixer->open(); }
    std::optional<std::int32_t> locate() override { return m_mixer->locate(); }
    void setUpValue(std::int32_t) override {}
    void set(std::int32_t value) override {
        const double now = msSinceEpoch(WallClock::now());
        applied.push_back({now - std::fmod(now, 1000.0), now});
        (void)m_mixer->set(value);
    }
    void watch(const EventHandler&) override {}
    void finish() override {}

private:
    std::unique_ptr<MasterVolume> m_mixer = pulseMasterVolume();
};

struct Figures {
    std::vector<double> offsets;    // ms after its second boundary that each tick ran
    std::vector<double> latencies;  // ms from the second boundary to the server's announcement
    int skipped = 0;
    int doubled = 0;
    double idleCpuPercent = 0;
    double idleWakeupsPerMinute = 0;
};

std::string mark(int secondOfHour) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d:%02d", secondOfHour / 60 % 60, secondOfHour % 60);
    return text;
}

// One design, `aligned` or naive: `switching` seconds of a schedule that lowers the volume for one
// second every few seconds, then `idle` seconds with nothing due.
Figures measure(bool aligned, int switching, int idle) {
    MeasuredMixer mixer;
    SystemClock clock;
    testing::ScriptedUi ui;
    FileSettingsStore store(SettingsLocation::at("/nonexistent"));
    Core program(mixer, clock, ui, store);
    if (program.startUp() != StartUpOutcome::NoSettingsFile) {
        std::fprintf(stderr, "no PulseAudio server: set PULSE_SERVER\n");
        std::exit(1);
    }
    for (int i = 1; i < kPairCount; ++i) {
        program.editor.togglePair(i);
    }
    mixer.applied.clear();
    SinkWatcher watcher;
    watcher.waitUntilSubscribed();

    Figures figures;
    std::optional<long long> lastSecond;
    bool measuringIdle = false;
    auto onTick = [&] {
        const auto now = WallClock::now();
        const double ms = msSinceEpoch(now);
        const auto second = static_cast<long long>(ms / 1000.0);
        if (!measuringIdle) {
            figures.offsets.push_back(std::fmod(ms, 1000.0));
            if (lastSecond) {
                figures.doubled += second == *lastSecond;
                figures.skipped += static_cast<int>(std::max(0LL, second - *lastSecond - 1));
            }
        }
        lastSecond = second;
        // Once the last window has passed, the next is one second long, starting two seconds on.
        const TimeOfDay t = clock.now();
        const int secondOfHour = t.minute * 60 + t.second;
        const SettingPair& pair = program.model.pairs()[0];
        if (!measuringIdle && !textLess(timeText(t, ":"), pair.up) && secondOfHour < 3590) {
            program.editor.editMark(Level::Down, 0, mark(secondOfHour + 2));
            program.editor.editMark(Level::Up, 0, mark(secondOfHour + 4));
        }
        (void)program.tick.runAndTellTime(t);
    };

    SecondTicker ticker(clock);
    QTimer naive;
    QTimer rephase;
    if (aligned) {
        QObject::connect(&ticker, &SecondTicker::tick, onTick);
        ticker.start();
    } else {
        naive.setInterval(1000);
        QObject::connect(&naive, &QTimer::timeout, onTick);
        // A naive timer keeps the phase of the moment it was started. To sample phases as many
        // program starts would, it is started again at a fresh random phase every ten seconds.
        auto random = std::make_shared<std::mt19937>(std::random_device{}());
        auto restart = [&naive, &lastSecond, random] {
            naive.stop();
            lastSecond.reset();  // the gap of a restart is no skipped second of the timer
            QTimer::singleShot(std::uniform_int_distribution<int>(0, 999)(*random),
                               [&naive] { naive.start(); });
        };
        restart();
        QObject::connect(&rephase, &QTimer::timeout, restart);
        rephase.start(10000);
    }
    rusage before{};
    QTimer::singleShot(switching * 1000, [&] {
        measuringIdle = true;
        rephase.stop();
        program.editor.togglePair(0);
        getrusage(RUSAGE_SELF, &before);
    });
    QTimer::singleShot((switching + idle) * 1000, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();

    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    const auto cpuMs = [](const rusage& r) {
        return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000.0 +
               (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1000.0;
    };
    figures.idleCpuPercent = (cpuMs(after) - cpuMs(before)) / (idle * 1000.0) * 100.0;
    // A thread that wakes from sleep switches context voluntarily.
    figures.idleWakeupsPerMinute =
        static_cast<double>(after.ru_nvcsw - before.ru_nvcsw) * 60.0 / idle;

    // Each apply that changed the volume is followed by the server's announcement of it; one that
    // set the volume it already had (the first tick's) is announced by nothing.
    std::vector<double> events;
    for (const SinkWatcher::Change& change : watcher.take()) {
        events.push_back(change.at);
    }
    std::size_t next = 0;
    for (const MeasuredMixer::Apply& apply : mixer.applied) {
        while (next < events.size() && events[next] < apply.at) {
            ++next;
        }
        if (next < events.size() && events[next] < apply.at + 500.0) {
            figures.latencies.push_back(events[next++] - apply.boundary);
        }
    }
    return figures;
}

void print(const char* name, const Figures& f) {
    std::printf("%-8s tick offset ms: median %6.1f  p99 %6.1f  max %6.1f  (%zu ticks)\n", name,
                percentile(f.offsets, 50), percentile(f.offsets, 99), percentile(f.offsets, 100),
                f.offsets.size());
    std::printf("%-8s seconds skipped %d, seen twice %d\n", name, f.skipped, f.doubled);
    std::printf("%-8s boundary to server ms: median %6.1f  p99 %6.1f  max %6.1f  (%zu changes)\n",
                name, percentile(f.latencies, 50), percentile(f.latencies, 99),
                percentile(f.latencies, 100), f.latencies.size());
    std::printf("%-8s idle: CPU %.3f%% of one core, %.0f wake-ups a minute\n", name,
                f.idleCpuPercent, f.idleWakeupsPerMinute);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int switching = argc > 1 ? std::atoi(argv[1]) : 120;
    const int idle = argc > 2 ? std::atoi(argv[2]) : 30;
    std::printf("Switching for %d s, then idle for %d s, per design.\n", switching, idle);
    const Figures aligned = measure(true, switching, idle);
    print("aligned", aligned);
    const Figures naive = measure(false, switching, idle);
    print("naive", naive);
    const auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
    std::printf(
        "ratio aligned/naive: offset median %.3f, p99 %.3f; latency median %.3f, p99 %.3f\n",
        ratio(percentile(aligned.offsets, 50), percentile(naive.offsets, 50)),
        ratio(percentile(aligned.offsets, 99), percentile(naive.offsets, 99)),
        ratio(percentile(aligned.latencies, 50), percentile(naive.latencies, 50)),
        ratio(percentile(aligned.latencies, 99), percentile(naive.latencies, 99)));
    std::printf(
        "targets: offset p99 <= 15 ms, max <= 50 ms; none skipped or doubled; "
        "latency p99 <= 25 ms; idle CPU <= 0.05%%; one wake-up a second\n");
    return 0;
}
