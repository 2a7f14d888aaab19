// The guard: what the program leaves to it when it ends while the volume is held, however it
// ends, and while the sound server is away.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include "e2e/ProgramFixture.h"
#include "support/ExecutableCopy.h"

namespace hushwell::testing {
namespace {

using namespace std::chrono_literals;

bool upLevel(long value) {
    // The Up level, in the program's scale or, through a guard that fell back to ALSA, in ALSA's.
    return value >= kUp;
}

void printFigure(const char* what, const std::optional<std::chrono::milliseconds>& time) {
    if (time) {
        std::printf("   %s %lld ms\n", what, static_cast<long long>(time->count()));
    }
}

class GuardTest : public GuardedProgramFixture {
protected:
    void SetUp() override {
        GuardedProgramFixture::SetUp();
        writeSettings(kAlwaysDown);
    }
    // The program, with the user's state folder in its own folder.
    std::unique_ptr<Program> start(const std::vector<std::string>& launcher = {}) {
        const std::vector<std::string> environment{
            "XDG_STATE_HOME=" + (dir.path() / "state").string(), kMixerLog};
        if (launcher.empty()) {
            return std::make_unique<Program>(dir.path(), environment);
        }
        const auto exe = dir.path() / "hushwell";
        copyExecutable(HUSHWELL_PROGRAM, exe);
        std::vector<std::string> command{HUSHWELL_LAUNCHER};
        command.insert(command.end(), launcher.begin(), launcher.end());
        command.push_back(exe.string());
        return std::make_unique<Program>(dir.path(), command, environment);
    }
    // Starts the program and waits until the schedule holds the volume down.
    std::unique_ptr<Program> startHeldDown(const std::vector<std::string>& launcher = {}) {
        auto program = start(launcher);
        EXPECT_NE(program->waitForWindow(), 0u) << program->log();
        EXPECT_EQ(waitForVolume(kDown), Volumes(2, kDown)) << program->log();
        return program;
    }
    // Kills the program and its guard together while a pair holds the volume down, as the end
    // of a session does; `meanwhile` runs while it holds.
    void killBothWhileHeld(const std::function<void()>& meanwhile = {}) {
        auto program = startHeldDown();
        const pid_t guard = adoptedGuard();
        ASSERT_GT(guard, 0) << "no guard";
        if (meanwhile) {
            meanwhile();
        }
        kill(guard, SIGKILL);
        program->signal(SIGKILL);
        waitpid(guard, nullptr, 0);
        program->wait();
        std::this_thread::sleep_for(500ms);
        ASSERT_EQ(sinkVolumes("speakers"), Volumes(2, kDown)) << "nobody put the Up level back yet";
    }
    // A start with no pair on: it puts the Up level back first; how long that took.
    std::optional<std::chrono::milliseconds> nextStartPutsUpBack() {
        writeSettings(kQuiet);
        auto next = start();
        const auto restored = timeUntil("speakers", kUp, 5000ms);
        EXPECT_TRUE(restored.has_value())
            << "the next start left " << ::testing::PrintToString(sinkVolumes("speakers"))
            << next->log();
        return restored;
    }
};

// An orderly end while the server does not answer: the Up level does not land, so the guard is
// left to put it back once the server answers again.
TEST_F(GuardTest, AnOrderlyEndWhileTheServerIsStoppedLeavesTheJobToTheGuard) {
    auto program = startHeldDown();
    const pid_t server = AudioSandbox::instance().serverPid();
    kill(server, SIGSTOP);
    program->signal(SIGTERM);
    EXPECT_EQ(program->wait(), 0) << program->log();
    std::this_thread::sleep_for(1s);
    kill(server, SIGCONT);
    const auto restored = timeUntil("speakers", upLevel, 2000ms);
    EXPECT_TRUE(restored.has_value())
        << "the PC was left turned down: " << ::testing::PrintToString(sinkVolumes("speakers"))
        << program->log();
    printFigure("Up level back after the server resumed:", restored);
}

// Killed while the Up level the schedule asked for was refused (the server stopped): the guard
// knows it never landed.
TEST_F(GuardTest, KilledWhileARefusedUpIsPendingTheGuardPutsItBack) {
    // The pair holds the volume down from the start until 4 s from now.
    writeSettings("20,100\r\n,,,,,,,\r\n" + markIn(4s) +
                  ",,,,,,,\r\n 1 , 0 , 0 , 0 , 0 , 0 , 0 , 0 \r\n");
    auto program = startHeldDown();
    const pid_t server = AudioSandbox::instance().serverPid();
    kill(server, SIGSTOP);
    std::this_thread::sleep_for(6s);  // the Up transition falls while the server is stopped
    program->signal(SIGKILL);
    program->wait();
    kill(server, SIGCONT);
    const auto restored = timeUntil("speakers", upLevel, 5000ms);
    EXPECT_TRUE(restored.has_value())
        << "the PC was left turned down: " << ::testing::PrintToString(sinkVolumes("speakers"))
        << program->log();
    printFigure("Up level back after the server resumed:", restored);
}

// The program dies while the server restarts (a resume from sleep); the server brings the sink
// back at the level it had, the Down level. The guard keeps trying until it can put Up back.
TEST_F(GuardTest, TheGuardWaitsForAServerThatRestarts) {
    auto program = startHeldDown();
    AudioSandbox& sandbox = AudioSandbox::instance();
    sandbox.stop();
    program->signal(SIGKILL);
    program->wait();
    std::this_thread::sleep_for(3s);
    sandbox.start();
    run("pactl set-default-sink speakers");
    const auto restored = timeUntil("speakers", upLevel, 5000ms);
    EXPECT_TRUE(restored.has_value())
        << "the sink came back at " << ::testing::PrintToString(sinkVolumes("speakers"))
        << program->log();
    printFigure("Up level back after the server returned:", restored);
    // Only the program's own provider, while the server was away too: another that opens
    // meanwhile (ALSA on the sound card) would set a volume that is not the one held down.
    const std::string log = program->log();
    EXPECT_NE(log.find("guard: open: tried PulseAudio"), std::string::npos) << log;
    EXPECT_EQ(log.find("guard: open: tried ALSA"), std::string::npos) << log;
}

// A guard that tries while the server is away still ends promptly when asked to.
TEST_F(GuardTest, ATryingGuardEndsOnSigterm) {
    auto program = startHeldDown();
    const pid_t guard = adoptedGuard();
    ASSERT_GT(guard, 0) << "no guard";
    AudioSandbox& sandbox = AudioSandbox::instance();
    sandbox.stop();
    program->signal(SIGKILL);
    program->wait();
    std::this_thread::sleep_for(1s);
    const bool trying = adoptedGuard() == guard;
    const auto asked = std::chrono::steady_clock::now();
    kill(guard, SIGTERM);
    waitpid(guard, nullptr, 0);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - asked);
    sandbox.start();
    EXPECT_TRUE(trying) << "the guard gave up at once";
    std::printf("   the guard ended %lld ms after SIGTERM\n", static_cast<long long>(took.count()));
    EXPECT_LT(took, 10s);
}

// A kill of the whole session takes the guard too: the next start puts the Up level back first.
TEST_F(GuardTest, AfterTheGuardDiedWithTheProgramTheNextStartPutsUpBack) {
    ASSERT_NO_FATAL_FAILURE(killBothWhileHeld());
    printFigure("Up level back after the next start:", nextStartPutsUpBack());
    for (const auto& entry :
         std::filesystem::directory_iterator(dir.path() / "state" / "hushwell")) {
        EXPECT_NE(entry.path().filename().string().rfind("held", 0), 0u) << entry.path();
    }
}

// The earlier run's Up level goes back first, and then the level this run's schedule wants, even
// where that is another Up level: what is in force after a put-back is not taken for granted.
TEST_F(GuardTest, AfterThePutBackTheLevelOfThisRunFollows) {
    ASSERT_NO_FATAL_FAILURE(killBothWhileHeld());
    std::string settings = kQuiet;
    settings.replace(0, 6, "20,90");
    writeSettings(settings);
    auto next = start();
    EXPECT_TRUE(timeUntil("speakers", 90 * 655, 5000ms).has_value())
        << "the next start left " << ::testing::PrintToString(sinkVolumes("speakers"))
        << next->log();
}

// On a kernel without close_range() (or one a seccomp filter refuses), the guard still keeps
// nothing of the program's that would hide the program's death.
TEST_F(GuardTest, WithoutCloseRangeTheGuardStillNoticesTheEnd) {
    auto program = startHeldDown({"--no-close-range"});
    program->signal(SIGKILL);
    program->wait();
    EXPECT_TRUE(timeUntil("speakers", kUp).has_value())
        << "the PC was left turned down: " << ::testing::PrintToString(sinkVolumes("speakers"))
        << program->log();
}

// Started with standard input closed, the program does not hand its own sockets to the guard as
// its standard streams.
TEST_F(GuardTest, TheGuardsStandardStreamsAreTheNullDevice) {
    auto program = startHeldDown({"--close-stdin"});
    const pid_t guard = adoptedGuard();
    ASSERT_GT(guard, 0) << "no guard";
    const auto fds = std::filesystem::path("/proc") / std::to_string(guard) / "fd";
    EXPECT_EQ(std::filesystem::read_symlink(fds / "0"), "/dev/null");
    EXPECT_EQ(std::filesystem::read_symlink(fds / "1"), "/dev/null");
    int sockets = 0;
    for (const auto& entry : std::filesystem::directory_iterator(fds)) {
        sockets += std::filesystem::read_symlink(entry).string().rfind("socket:", 0) == 0;
    }
    EXPECT_EQ(sockets, 1) << "the guard holds a socket of the program's besides its own";
}

// A guard that died is replaced, and the new one does the job.
TEST_F(GuardTest, AGuardThatDiedIsReplaced) {
    auto program = startHeldDown();
    const pid_t guard = adoptedGuard();
    ASSERT_GT(guard, 0) << "no guard";
    kill(guard, SIGKILL);
    waitpid(guard, nullptr, 0);
    // A guard that ends within seconds of its start is replaced after a pause (0.5 s at first), and
    // a loaded machine adds to it: the limit only turns a replacement that never comes into a
    // failure.
    pid_t replacement = -1;
    for (int i = 0; i < 1000 && replacement < 0; ++i) {
        std::this_thread::sleep_for(10ms);
        replacement = adoptedGuard(guard);
    }
    ASSERT_GT(replacement, 0) << "no new guard";
    program->signal(SIGKILL);
    program->wait();
    EXPECT_TRUE(timeUntil("speakers", kUp).has_value())
        << "the PC was left turned down: " << ::testing::PrintToString(sinkVolumes("speakers"))
        << program->log();
}

// A copy on another server, which holds nothing, shares the state folder: it leaves this
// server's record alone, and the next start here still puts the Up level back.
TEST_F(GuardTest, ACopyOnAnotherServerLeavesThisServersRecordAlone) {
    TempDir other;
    const std::string server = HUSHWELL_SOURCE_DIR "/scripts/pulse-server.sh ";
    run(server + "start " + other.path().string());
    const std::shared_ptr<void> stopAtEnd(
        nullptr, [&](void*) { run(server + "stop " + other.path().string()); });
    writeFile(other.path() / "Hushwell_setup.txt", kQuiet);
    std::unique_ptr<Program> elsewhere;
    ASSERT_NO_FATAL_FAILURE(killBothWhileHeld([&] {
        elsewhere = std::make_unique<Program>(
            other.path(),
            std::vector<std::string>{"PULSE_SERVER=unix:" + (other.path() / "native").string(),
                                     "XDG_STATE_HOME=" + (dir.path() / "state").string()});
        EXPECT_NE(elsewhere->waitForWindow(), 0u) << elsewhere->log();
        std::this_thread::sleep_for(1s);  // its volume's record told to its guard
    }));
    (void)nextStartPutsUpBack();
}

// A record of an earlier version ("held") names no server: a start puts its Up value back where
// the output stands below it, as that version left it, and takes the record; on an output at or
// above it (the record of another server's copy) it leaves the output and the record alone.
TEST_F(GuardTest, AnEarlierVersionsRecordGoesBackOnlyWhereItMatches) {
    const struct {
        const char* name;
        long standsAt;
        bool putBack;
    } cases[] = {
        {"the output below its Up value", kDown, true},
        {"the output above it", 65536, false},
    };
    const auto earlier = dir.path() / "state" / "hushwell" / "held";
    for (const auto& c : cases) {
        std::filesystem::create_directories(earlier.parent_path());
        writeFile(earlier, "50000 65536 1\n");
        run("pactl set-sink-volume speakers " + std::to_string(c.standsAt));
        writeSettings(kQuiet);
        auto program = start();
        ASSERT_NE(program->waitForWindow(), 0u) << c.name << program->log();
        bool applied = false;
        for (int attempt = 0; attempt < 100 && !applied; ++attempt) {
            applied = program->log().find("apply 50000: applied") != std::string::npos;
            std::this_thread::sleep_for(c.putBack ? 50ms : 20ms);
        }
        EXPECT_EQ(applied, c.putBack) << c.name << program->log();
        EXPECT_EQ(std::filesystem::exists(earlier), !c.putBack) << c.name;
        program->signal(SIGTERM);
        program->wait();
        std::filesystem::remove_all(earlier.parent_path());  // the next case starts afresh
    }
}

}  // namespace
}  // namespace hushwell::testing
