// The time of one apply through each real provider, against the PulseAudio server that
// PULSE_SERVER names (ALSA reaches it through the PulseAudio plugin, as scripts/bench.sh sets up),
// and of one apply to the streams of one program, with 1 and 4 of its streams playing beside
// another program's; and of one apply while the capture follows a player that asks 20 ms of
// latency.

#include <benchmark/benchmark.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "mixer/alsa/AlsaMixer.h"
#include "mixer/pulse/PulseCapture.h"
#include "mixer/pulse/PulseMixer.h"
#include "support/ExecutableCopy.h"

namespace {

using namespace hushwell;

void applyOnce(benchmark::State& state, std::unique_ptr<MasterVolume> (*make)()) {
    const std::unique_ptr<MasterVolume> mixer = make();
    const std::optional<std::int32_t> scale = mixer->open() ? mixer->locate() : std::nullopt;
    if (!scale) {
        state.SkipWithError("the mixer did not open");
        return;
    }
    bool down = false;
    for (auto _ : state) {
        down = !down;
        if (!mixer->set(down ? *scale / 5 : *scale)) {
            state.SkipWithError("an apply failed");
            break;
        }
    }
}

std::unique_ptr<MasterVolume> pulse() {
    return pulseMasterVolume();
}
std::unique_ptr<MasterVolume> alsa() {
    return alsaMasterVolume();
}
// Copies of pacat playing silence, each under its program's name (libpulse records the binary's
// name as the stream's application.process.binary); they end with the object.
class Players {
public:
    Players() {
        char folder[] = "/tmp/hushwell-bench-players.XXXXXX";
        m_folder = mkdtemp(folder);
    }
    ~Players() {
        for (pid_t pid : m_pids) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        std::filesystem::remove_all(m_folder);
    }
    Players(const Players&) = delete;
    Players& operator=(const Players&) = delete;
    void start(const std::string& program, int latencyMs = 0) {
        const std::filesystem::path copy = m_folder / program;
        if (!std::filesystem::exists(copy)) {
            hushwell::testing::copyExecutable("/usr/bin/pacat", copy);
        }
        const std::string latency = "--latency-msec=" + std::to_string(latencyMs);
        const pid_t pid = fork();
        if (pid == 0) {
            execl(copy.c_str(), program.c_str(), "/dev/zero",
                  latencyMs > 0 ? latency.c_str() : static_cast<char*>(nullptr),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        m_pids.push_back(pid);
    }

private:
    std::filesystem::path m_folder;
    std::vector<pid_t> m_pids;
};

void applyToProgram(benchmark::State& state) {
    const auto streams = static_cast<int>(state.range(0));
    Players players;
    players.start("caller");
    for (int i = 0; i < streams; ++i) {
        players.start("radio");
    }
    const std::unique_ptr<MasterVolume> mixer = pulseMasterVolume();
    const std::optional<std::int32_t> scale = mixer->open() ? mixer->locate() : std::nullopt;
    if (!scale) {
        state.SkipWithError("the mixer did not open");
        return;
    }
    for (int attempt = 0; attempt < 100 && mixer->setProgram("radio", *scale) != streams;
         ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    bool down = false;
    for (auto _ : state) {
        down = !down;
        if (mixer->setProgram("radio", down ? *scale / 5 : *scale) != streams) {
            state.SkipWithError("an apply missed a stream");
            break;
        }
    }
}

// The capture, not prompt, wakes once a pause while pieces come every few ms: a volume call must
// not wait for that (an apply past the provider's deadline fails the run).
void applyWhileCapturing(benchmark::State& state) {
    Players players;
    players.start("radio", 20);
    const std::unique_ptr<AudioCapture> capture = pulseCapture();
    capture->setPrompt(false);
    capture->start("",
                   [](std::span<const float>, double, std::chrono::steady_clock::time_point) {});
    std::this_thread::sleep_for(std::chrono::seconds(1));
    applyOnce(state, pulse);
    capture->stop();
}

BENCHMARK_CAPTURE(applyOnce, PulseAudio, pulse)->Unit(benchmark::kMicrosecond);
BENCHMARK(applyWhileCapturing)->Unit(benchmark::kMicrosecond);
BENCHMARK(applyToProgram)->Arg(1)->Arg(4)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(applyOnce, ALSA, alsa)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
