// A guard that could not be started: tried again after a pause that grows, never in a storm, with
// the mixer log saying that the volume has no guard. Forks fail on demand here; the guard that
// finally starts is this test program again (its main() runs the guard).

#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QLoggingCategory>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/CrashGuard.h"

namespace hushwell::testing {
namespace {

using namespace std::chrono_literals;

enum class Failing { TheFirstFork, TheSecondFork, TheGuardAtItsStart };

struct FailedStart {
    const char* name;
    Failing failing;
    const char* logged;
};

void PrintTo(const FailedStart& s, std::ostream* out) {
    *out << s.name;
}

// Read in the children too: plain values set before any fork.
Failing g_failing = Failing::TheFirstFork;
bool g_fails = true;
pid_t g_test = 0;
std::atomic<int> g_forks{0};  // forks in the test's own process

int failingFork() {
    if (getpid() == g_test) {
        ++g_forks;
        if (g_fails && g_failing == Failing::TheFirstFork) {
            errno = EAGAIN;
            return -1;
        }
        return fork();
    }
    if (g_fails && g_failing == Failing::TheSecondFork) {
        errno = EAGAIN;
        return -1;
    }
    const pid_t guard = fork();
    if (guard == 0 && g_fails && g_failing == Failing::TheGuardAtItsStart) {
        _exit(127);  // as an exec that failed
    }
    return guard;
}

std::string g_log;

void keepLine(QtMsgType, const QMessageLogContext&, const QString& line) {
    g_log += line.toStdString() + "\n";
}

bool processUntil(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (!done() && std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(1ms);
    }
    return done();
}

class AGuardThatCannotStart : public ::testing::TestWithParam<FailedStart> {};

TEST_P(AGuardThatCannotStart, IsTriedAgainAfterAGrowingPause) {
    g_failing = GetParam().failing;
    g_fails = true;
    g_test = getpid();
    g_forks = 0;
    g_log.clear();
    QLoggingCategory::setFilterRules("hushwell.mixer.info=true");
    const QtMessageHandler before = qInstallMessageHandler(keepLine);
    std::vector<std::chrono::milliseconds> pauses;
    std::function<void()> retry;
    int replaced = 0;
    CrashGuard::System system;
    system.fork = failingFork;
    system.later = [&](std::chrono::milliseconds pause, std::function<void()> again) {
        pauses.push_back(pause);
        retry = std::move(again);
    };
    {
        CrashGuard guard([&replaced] { ++replaced; }, system);
        const std::vector<std::chrono::milliseconds> growing{500ms, 1s, 2s, 4s, 8s, 16s, 30s, 30s};
        for (std::size_t tries = 1; tries <= growing.size(); ++tries) {
            ASSERT_TRUE(processUntil([&] { return pauses.size() == tries; }))
                << "no pause after try " << tries << ": " << g_forks << " forks";
            EXPECT_EQ(g_forks, static_cast<int>(tries)) << "tries without a pause";
            if (tries < growing.size()) {
                std::exchange(retry, nullptr)();
            }
        }
        EXPECT_EQ(pauses, growing);
        EXPECT_NE(g_log.find(std::string("guard: ") + GetParam().logged +
                             ": the volume has no guard; next try in 0.5 s\n"),
                  std::string::npos)
            << g_log;

        g_fails = false;
        const int told = replaced;
        std::exchange(retry, nullptr)();
        EXPECT_TRUE(processUntil([&] { return replaced == told + 1; }))
            << "the guard that started was not told the record";
        EXPECT_NE(g_log.find("guard: started: the volume has a guard again"), std::string::npos)
            << g_log;
        EXPECT_EQ(pauses.size(), growing.size());
    }
    qInstallMessageHandler(before);
}

INSTANTIATE_TEST_SUITE_P(
    Failing, AGuardThatCannotStart,
    ::testing::Values(FailedStart{"TheFirstFork", Failing::TheFirstFork,
                                  "could not be started (fork: Resource temporarily unavailable)"},
                      FailedStart{"TheSecondFork", Failing::TheSecondFork,
                                  "could not be started (fork: Resource temporarily unavailable)"},
                      FailedStart{"TheGuardAtItsStart", Failing::TheGuardAtItsStart,
                                  "ended as it started"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

}  // namespace
}  // namespace hushwell::testing
