#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QLoggingCategory>
#include <cerrno>
#include <string>

#include "app/CrashGuard.h"
#include "support/FakeVolume.h"

namespace hushwell::testing {
namespace {

// What the program tells its guard of the program it lowers goes in a field of fixed size: a
// name that fits arrives whole; a longer one arrives as its start, marked so, for the guard to
// match every playing program that begins so rather than a name that is not the program's.
TEST(GuardMessage, CarriesTheLoweredProgramWholeOrItsStart) {
    const std::string fits(sizeof CrashGuard::Message::lowered, 'a');
    const std::string longer(sizeof CrashGuard::Message::lowered + 40, 'b');
    const struct {
        const char* name;
        std::string program;
        std::string arrives;
        bool whole;
    } cases[] = {
        {"the output", "", "", true},
        {"a short name", "radio", "radio", true},
        {"a name with spaces and a line's end", "Web Radio\nPlayer", "Web Radio\nPlayer", true},
        {"a name that fills the field", fits, fits, true},
        {"a name longer than the field", longer, longer.substr(0, fits.size()), false},
    };
    for (const auto& c : cases) {
        CrashGuard::Message message;
        message.setLowered(longer);  // what an earlier message held leaves nothing behind
        message.setLowered(c.program);
        EXPECT_EQ(message.loweredName(), c.arrives) << c.name;
        EXPECT_EQ(message.loweredWhole(), c.whole) << c.name;
    }
}

// The guard gives the Up value to what was held: the output, the program named, or, when only
// the name's start arrived, every playing program whose name begins so.
TEST(GuardMessage, TheUpValueGoesToWhatWasHeld) {
    const std::size_t field = sizeof CrashGuard::Message::lowered;
    const std::string longer(field + 40, 'b');
    const std::string sameStart = longer.substr(0, field) + "c";
    const struct {
        const char* name;
        std::string program;
        bool takes;
        std::vector<std::string> calls;
        PutBack result;
    } cases[] = {
        {"the output", "", true, {"set 65500"}, PutBack::Done},
        {"a program", "radio", true, {"setProgram radio 65500"}, PutBack::Done},
        {"a program, refused", "radio", false, {"setProgram radio 65500"}, PutBack::NotTaken},
        // Its next stream may still start at the Down level: the record stays.
        {"a program not playing",
         "player",
         true,
         {"setProgram player 65500"},
         PutBack::NothingPlaying},
        {"the start of a long name",
         longer,
         true,
         {"setProgram " + longer + " 65500", "setProgram " + sameStart + " 65500"},
         PutBack::Done},
        {"the start of a long name, nothing plays",
         std::string(field + 1, 'z'),
         true,
         {},
         PutBack::NothingPlaying},
    };
    for (const auto& c : cases) {
        FakeProvider volume;
        volume.programVolume = true;
        volume.takes = c.takes;
        volume.streams = {{"radio", 1}, {longer, 1}, {sameStart, 2}, {"caller", 1}};
        CrashGuard::Message last;
        last.setLowered(c.program);
        EXPECT_EQ(putBackOn(volume, last, 65500), c.result) << c.name;
        EXPECT_EQ(volume.calls, c.calls) << c.name;
    }
}

// A guard that cannot be started. What fails (the parameter): 1 the program's fork, 2 the second
// fork, 3 the guard at its start (as an exec that failed). Plain values: children read them too.
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

// It is tried again after a pause that grows to 30 s, never at once, and the mixer log says that
// the volume has no guard. The guard that starts in the end is this test program (see main()).
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
    int newGuards = 0;
    CrashGuard guard([&newGuards] { ++newGuards; }, {failingFork, [&](auto pause, auto again) {
                                                         pauses.push_back(pause);
                                                         retry = std::move(again);
                                                     }});
    using namespace std::chrono_literals;
    const std::vector<std::chrono::milliseconds> growing{500ms, 1s, 2s, 4s, 8s, 16s, 30s, 30s};
    for (std::size_t tries = 1;; ++tries) {
        const auto limit = std::chrono::steady_clock::now() + 10s;  // turns a storm into a failure
        while (pauses.size() < tries && std::chrono::steady_clock::now() < limit) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        ASSERT_EQ(pauses.size(), tries) << g_forks << " forks, and no pause";
        ASSERT_EQ(g_forks, static_cast<int>(tries));
        if (tries == growing.size()) {
            break;
        }
        std::exchange(retry, nullptr)();
    }
    EXPECT_EQ(pauses, growing);
    EXPECT_NE(g_log.find("the volume has no guard; next try in 0.5 s\n"), std::string::npos);
    g_failing = 0;
    std::exchange(retry, nullptr)();
    EXPECT_EQ(newGuards, GetParam() == 3 ? 8 : 1) << "the new guard was not told the record";
    EXPECT_NE(g_log.find("guard: started: the volume has a guard again"), std::string::npos);
    qInstallMessageHandler(before);
}

INSTANTIATE_TEST_SUITE_P(Failing, AGuardThatCannotStart, ::testing::Values(1, 2, 3));

}  // namespace
}  // namespace hushwell::testing
