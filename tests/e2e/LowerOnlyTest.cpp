// Lowering one program only: the chosen program's streams go to the Down level and back, new ones
// included, while the other program and the output stay as they are, however the run ends.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <thread>

#include "e2e/ProgramFixture.h"
#include "support/PlayingStream.h"

namespace hushwell::testing {
namespace {

using namespace std::chrono_literals;

// Levels 20 and 100; pair 1 holds the volume down from the hour's start until `ahead` from now
// (waiting out the hour's end first when that mark would fall past it).
std::string downUntilIn(std::chrono::seconds ahead) {
    return "20,100\r\n,,,,,,,\r\n" + markIn(ahead) +
           ",,,,,,,\r\n 1 , 0 , 0 , 0 , 0 , 0 , 0 , 0 \r\n";
}

// The output keeps its own volume, kOutput, in every run.
class LowerOnlyTest : public GuardedProgramFixture {
protected:
    void SetUp() override {
        GuardedProgramFixture::SetUp();
        std::filesystem::create_directories(players);
        // The player is chosen in the options file; the settings file stays as it is.
        writeFile(dir.path() / "Hushwell_options.ini", "[Lower]\r\nOnly=radio\r\n");
        radio = std::make_unique<PlayingStream>(players, "radio");
        caller = std::make_unique<PlayingStream>(players, "caller");
        callerLevel = caller->volumes();
    }
    std::unique_ptr<Program> start(const std::string& settings) {
        writeSettings(settings);
        auto program = std::make_unique<Program>(dir.path(), std::vector<std::string>{kMixerLog});
        EXPECT_NE(program->waitForWindow(), 0u) << program->log();
        return program;
    }
    // Nothing but the chosen program was touched.
    void expectTheRestAsItWas(const Program& program) const {
        EXPECT_EQ(caller->volumes(), callerLevel)
            << "the other program was touched" << program.log();
        EXPECT_EQ(sinkVolumes("speakers"), Volumes(2, kOutput))
            << "the output was touched" << program.log();
    }
    // Kills the program and its guard together while the chosen program is held down.
    void killBothWhileHeld() {
        auto program = start(kAlwaysDown);
        ASSERT_TRUE(waitForStream(*radio, kDown)) << program->log();
        const pid_t guard = adoptedGuard();
        ASSERT_GT(guard, 0) << "no guard";
        kill(guard, SIGKILL);
        program->signal(SIGKILL);
        waitpid(guard, nullptr, 0);
        program->wait();
        std::this_thread::sleep_for(500ms);
        ASSERT_EQ(radio->volumes(), Volumes(2, kDown)) << "nobody put the Up level back yet";
    }

    const std::filesystem::path players = dir.path() / "players";
    std::unique_ptr<PlayingStream> radio;
    std::unique_ptr<PlayingStream> caller;
    Volumes callerLevel;
};

TEST_F(LowerOnlyTest, OnlyTheChosenProgramGoesDownAndBackUp) {
    auto program = start(downUntilIn(12s));
    EXPECT_TRUE(waitForStream(*radio, kDown)) << program->log();
    expectTheRestAsItWas(*program);

    const PlayingStream startedInTheBreak(players, "radio");
    const auto lowered = std::chrono::steady_clock::now();
    EXPECT_TRUE(waitForStream(startedInTheBreak, kDown, 3))
        << "a stream started during the break stayed at "
        << ::testing::PrintToString(startedInTheBreak.volumes()) << program->log();
    std::printf("   a stream started in the break went down after %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - lowered)
                                           .count()));

    EXPECT_TRUE(waitForStream(*radio, kUp, 15)) << program->log();
    EXPECT_TRUE(waitForStream(startedInTheBreak, kUp, 2)) << program->log();
    expectTheRestAsItWas(*program);
    program->signal(SIGTERM);
    EXPECT_EQ(program->wait(), 0) << program->log();
    expectTheRestAsItWas(*program);
}

TEST_F(LowerOnlyTest, AKillDuringTheBreakGivesTheChosenProgramItsUpLevelBack) {
    auto program = start(kAlwaysDown);
    ASSERT_TRUE(waitForStream(*radio, kDown)) << program->log();
    program->signal(SIGKILL);
    program->wait();
    EXPECT_TRUE(waitForStream(*radio, kUp))
        << "the player was left turned down: " << ::testing::PrintToString(radio->volumes())
        << program->log();
    expectTheRestAsItWas(*program);
    const std::string log = program->log();
    EXPECT_NE(log.find("guard: apply 65500 to radio: 1 stream"), std::string::npos) << log;
}

TEST_F(LowerOnlyTest, AfterTheGuardDiedTooTheNextStartPutsTheProgramBack) {
    ASSERT_NO_FATAL_FAILURE(killBothWhileHeld());
    writeFile(dir.path() / "Hushwell_options.ini", "[Lower]\r\nOnly=\r\n");  // chosen since
    auto next = start(kQuiet);
    EXPECT_TRUE(waitForStream(*radio, kUp))
        << "the next start left " << ::testing::PrintToString(radio->volumes()) << next->log();
    std::this_thread::sleep_for(1500ms);  // the first ticks applied what they apply
    expectTheRestAsItWas(*next);
    EXPECT_EQ(heldRecordsIn(dir.path() / "state" / "hushwell"), std::vector<std::string>{});
    next->signal(SIGTERM);
    EXPECT_EQ(next->wait(), 0) << next->log();
}

// The player stops during the break, so its Up level finds no stream; a desktop's server keeps the
// Down level for the player's next stream. The next start lowers the whole computer instead: the
// Up level stays owed to the player until one of its streams took it.
TEST_F(LowerOnlyTest, AnUpLevelOwedToAProgramOutlivesAnotherChoice) {
    if (audioServerKind() != AudioServer::PulseAudio) {
        GTEST_SKIP() << "module-stream-restore is PulseAudio's";
    }
    // As on a desktop: the server brings back a program's stream at the volume it last had.
    const struct StreamRestore {
        std::string module = run("pactl load-module module-stream-restore | tr -d '\\n'");
        ~StreamRestore() { run("pactl unload-module " + module); }
    } restoring;
    auto program = start(kAlwaysDown);
    ASSERT_TRUE(waitForStream(*radio, kDown)) << program->log();
    radio.reset();
    program->signal(SIGTERM);
    EXPECT_EQ(program->wait(), 0) << program->log();
    for (pid_t guard = adoptedGuard(); guard > 0; guard = adoptedGuard()) {
        waitpid(guard, nullptr, 0);  // it finds nothing of the player's playing
    }
    writeFile(dir.path() / "Hushwell_options.ini", "[Lower]\r\nOnly=\r\n");
    auto next = start(kQuiet);
    const std::filesystem::path state = dir.path() / "state" / "hushwell";
    EXPECT_TRUE(waitForRecordHolding(state, "\nowed 5 radio\n")) << "forgotten: " << next->log();
    radio = std::make_unique<PlayingStream>(players, "radio");
    EXPECT_TRUE(waitForStream(*radio, kUp))
        << "the player came back at " << ::testing::PrintToString(radio->volumes()) << next->log();
    next->signal(SIGTERM);
    EXPECT_EQ(next->wait(), 0) << next->log();
    EXPECT_EQ(heldRecordsIn(state), std::vector<std::string>{});
}

}  // namespace
}  // namespace hushwell::testing
