// The window with the program's real mixer stack, against the private PulseAudio server: while
// the server is stopped (SIGSTOP: it accepts the connection and never answers), the window still
// answers the keyboard at once.

#include <gtest/gtest.h>

#include <QApplication>
#include <QSlider>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>

#include "engine/Core.h"
#include "mixer/BackgroundVolume.h"
#include "mixer/MixerChoice.h"
#include "settings/FileSettingsStore.h"
#include "settings/SettingsFile.h"
#include "support/AudioSandbox.h"
#include "support/Fakes.h"
#include "ui/MainWindow.h"

namespace hushwell::testing {
namespace {

using Steady = std::chrono::steady_clock;

TEST(StalledServer, TheWindowAnswersTheKeyboardWhileTheServerIsStopped) {
    AudioSandbox::instance();
    run("pactl set-default-sink speakers");
    BackgroundVolume volume(
        std::make_unique<FirstThatOpens>(platformProviders()), [](std::function<void()> task) {
            QMetaObject::invokeMethod(qApp, std::move(task), Qt::QueuedConnection);
        });
    FakeClock clock;
    TempDir dir;
    FileSettingsStore store(SettingsLocation::at(dir.path() / kSettingsFileName));
    MainWindow window(clock);
    Core core(volume, clock, window, store);
    window.attach(core);
    ASSERT_EQ(core.startUp(), StartUpOutcome::NoSettingsFile);
    auto* slider = window.findChild<QSlider*>("Slider1");
    slider->setFocus();

    const pid_t server = AudioSandbox::instance().serverPid();
    kill(server, SIGSTOP);
    std::vector<double> answers;  // ms from a key press to its level in the model
    const auto stopped = Steady::now();
    for (int press = 1; Steady::now() - stopped < std::chrono::seconds(10); ++press) {
        const auto start = Steady::now();
        QTest::keyClick(slider, Qt::Key_Up);
        answers.push_back(std::chrono::duration<double, std::milli>(Steady::now() - start).count());
        EXPECT_EQ(core.model.level(Level::Down), std::min(20 + press, kMaxLevel));
        QTest::qWait(250);  // the event loop goes on: ticks, the mixer's reports
    }
    kill(server, SIGCONT);
    std::sort(answers.begin(), answers.end());
    std::printf(
        "   %zu key presses while the server was stopped: answered in median %.2f ms, "
        "at most %.2f ms\n",
        answers.size(), answers[answers.size() / 2], answers.back());
    // Far above what a window that never waits takes, far below the mixer's own deadline: a
    // window that waited for the stopped server would be here.
    EXPECT_LT(answers.back(), 200.0);
    core.shutDown.restoreUpLevel();
}

}  // namespace
}  // namespace hushwell::testing
