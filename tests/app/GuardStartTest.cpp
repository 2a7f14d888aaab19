// A guard that cannot be started is tried again after a pause that grows to 30 s, never at once,
// and the mixer log says that the volume has no guard. The guard that starts in the end is this
// test program again (its main() runs the guard).

#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QLoggingCategory>
#include <cerrno>

#include "app/CrashGuard.h"

namespace hushwell::testing {
namespace {

using namespace std::chrono_literals;

// What fails: 1 the program's fork, 2 the second fork, 3 the guard at its start (as an exec that
// failed); 0 nothing. Plain values, read in the children too.
int g_failing = 0;
pid_t g_test = 0;
int g_forks = 0;  // in the test's own process
std::string g_log;

int failingFork() {
    const bool first = getpid() == g_test;
    g_forks += first ? 1 : 0;
    if (g_failing == (first ? 1 : 2)) {
        errno = EAGAIN;
        return -1;
    }
    const pid_t child = fork();
    if (child == 0 && !first && g_failing == 3) {
        _exit(127);
    }
    return child;
}

class AGuardThatCannotStart : public ::testing::TestWithParam<int> {};

TEST_P(AGuardThatCannotStart, IsTriedAgainAfterAGrowingPause) {
    g_failing = GetParam();
    g_test = getpid();
    g_forks = 0;
    g_log.clear();
    QLoggingCategory::setFilterRules("hushwell.mixer.info=true");
    const QtMessageHandler before =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& line) {
            g_log += line.toStdString() + "\n";
        });
    std::vector<std::chrono::milliseconds> pauses;
    std::function<void()> retry;
    int told = 0;
    CrashGuard guard([&told] { ++told; }, {failingFork, [&](auto pause, auto again) {
                                               pauses.push_back(pause);
                                               retry = std::move(again);
                                           }});
    const std::vector<std::chrono::milliseconds> growing{500ms, 1s, 2s, 4s, 8s, 16s, 30s, 30s};
    for (std::size_t tries = 1; tries <= growing.size(); ++tries) {
        const auto limit = std::chrono::steady_clock::now() + 10s;  // turns a storm into a failure
        while (pauses.size() < tries && std::chrono::steady_clock::now() < limit) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        ASSERT_EQ(pauses.size(), tries) << g_forks << " forks, and no pause";
        EXPECT_EQ(g_forks, static_cast<int>(tries));
        if (tries < growing.size()) {
            std::exchange(retry, nullptr)();
        }
    }
    EXPECT_EQ(pauses, growing);
    EXPECT_NE(g_log.find("the volume has no guard; next try in 0.5 s\n"), std::string::npos);
    g_failing = 0;
    const int toldBefore = told;
    std::exchange(retry, nullptr)();
    EXPECT_EQ(told, toldBefore + 1) << "the new guard was not told the record";
    EXPECT_NE(g_log.find("guard: started: the volume has a guard again"), std::string::npos)
        << g_log;
    qInstallMessageHandler(before);
}

INSTANTIATE_TEST_SUITE_P(Failing, AGuardThatCannotStart, ::testing::Values(1, 2, 3),
                         [](const auto& test) {
                             return std::string(test.param == 1   ? "TheFirstFork"
                                                : test.param == 2 ? "TheSecondFork"
                                                                  : "TheGuardAtItsStart");
                         });

}  // namespace
}  // namespace hushwell::testing
