// The window with the program's real mixer stack, against the private PulseAudio server: while
// the server is stopped (SIGSTOP: it accepts the connection and never answers), the window still
// answers the keyboard, because no mixer call runs on its thread; and what was asked lands once
// the server answers again.

#include <gtest/gtest.h>

#include <QApplication>
#include <QSlider>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

#include "engine/Core.h"
#include "mixer/MixerChoice.h"
#include "mixer/VolumeOwner.h"
#include "settings/FileSettingsStore.h"
#include "settings/SettingsFile.h"
#include "support/AudioSandbox.h"
#include "support/Fakes.h"
#include "ui/MainWindow.h"

namespace hushwell::testing {
namespace {

using Steady = std::chrono::steady_clock;
using Volumes = std::vector<long>;

// On the way to the real mixer: counts the calls that may reach the server, and those made on the
// window's thread. (watch() only says where events go.)
class CallThreads final : public MasterVolume {
public:
    explicit CallThreads(std::unique_ptr<MasterVolume> mixer) : m_mixer(std::move(mixer)) {}

    bool open() override { return note(), m_mixer->open(); }
    std::optional<std::int32_t> locate() override { return note(), m_mixer->locate(); }
    std::optional<std::string> set(std::int32_t value) override {
        return note(), m_mixer->set(value);
    }
    bool setOn(const std::string& output, std::int32_t value) override {
        return note(), m_mixer->setOn(output, value);
    }
    void watch(const EventHandler& handler) override { m_mixer->watch(handler); }

    std::atomic<int> calls{0};
    std::atomic<int> onWindowThread{0};

private:
    void note() {
        ++calls;
        if (std::this_thread::get_id() == m_window) {
            ++onWindowThread;
        }
    }
    std::unique_ptr<MasterVolume> m_mixer;
    std::thread::id m_window = std::this_thread::get_id();
};

TEST(StalledServer, TheWindowAnswersTheKeyboardWhileTheServerIsStopped) {
    AudioSandbox::instance();
    run("pactl set-default-sink speakers");
    auto threads =
        std::make_unique<CallThreads>(std::make_unique<ChosenProvider>(platformProviders()));
    CallThreads& mixer = *threads;
    VolumeOwner volume(std::move(threads), [](std::function<void()> task) {
        QMetaObject::invokeMethod(qApp, std::move(task), Qt::QueuedConnection);
    });
    FakeClock clock;
    TempDir dir;
    FileSettingsStore store(SettingsLocation::at(dir.path() / kSettingsFileName));
    MainWindow window(clock);
    Core core(volume, clock, window, store);
    window.attach(core);
    ASSERT_EQ(core.startUp(), StartUpOutcome::NoSettingsFile);
    // The Up slider: while no pair holds the volume down, every press is a call to the mixer.
    auto* slider = window.findChild<QSlider*>("Slider2");
    slider->setFocus();
    const int callsBefore = mixer.calls;

    const pid_t server = AudioSandbox::instance().serverPid();
    kill(server, SIGSTOP);
    std::vector<double> answers;  // ms from a key press to its level in the model
    const auto stopped = Steady::now();
    int level = 100;
    while (Steady::now() - stopped < std::chrono::seconds(10)) {
        const auto start = Steady::now();
        QTest::keyClick(slider, Qt::Key_Down);
        answers.push_back(std::chrono::duration<double, std::milli>(Steady::now() - start).count());
        EXPECT_EQ(core.model.level(Level::Up), --level);
        QTest::qWait(250);  // the event loop goes on: ticks, the mixer's reports
    }
    const int callsWhileStopped = mixer.calls - callsBefore;
    kill(server, SIGCONT);
    std::sort(answers.begin(), answers.end());
    std::printf(
        "   %zu key presses while the server was stopped: answered in median %.2f ms, "
        "at most %.2f ms\n",
        answers.size(), answers[answers.size() / 2], answers.back());
    EXPECT_GT(callsWhileStopped, 0);
    EXPECT_EQ(mixer.onWindowThread, 0) << "mixer calls made on the window's thread";
    const long last = level * 655;
    EXPECT_TRUE(QTest::qWaitFor([&] { return sinkVolumes("speakers") == Volumes(2, last); }, 10000))
        << "the last Up level did not land: " << ::testing::PrintToString(sinkVolumes("speakers"));
    core.shutDown.restoreUpLevel();
}

}  // namespace
}  // namespace hushwell::testing
