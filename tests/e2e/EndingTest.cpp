#include <gtest/gtest.h>

#include <csignal>
#include <thread>

#include "e2e/ProgramFixture.h"

namespace hushwell::testing {
namespace {

void key(unsigned long window, const std::string& keys) {
    run("xdotool windowfocus --sync " + std::to_string(window) + " key --delay 40 " + keys);
}

class EndingTest : public ProgramFixture {
protected:
    void SetUp() override {
        ProgramFixture::SetUp();
        writeSettings(kAlwaysDown);
    }
};

struct Ending {
    const char* name;
    int signal;  // 0: the window is closed
};

class EveryEnding : public EndingTest, public ::testing::WithParamInterface<Ending> {};

TEST_P(EveryEnding, PutsTheUpLevelBack) {
    Program program(dir.path());
    ASSERT_NE(program.waitForWindow(), 0u) << program.log();
    ASSERT_EQ(waitForVolume(kDown), Volumes(2, kDown)) << "the first tick lowers the volume";
    if (GetParam().signal == 0) {
        program.close();
    } else {
        program.signal(GetParam().signal);
    }
    EXPECT_EQ(program.wait(), 0) << program.log();
    EXPECT_EQ(sinkVolumes("speakers"), Volumes(2, kUp));
}

INSTANTIATE_TEST_SUITE_P(Endings, EveryEnding,
                         ::testing::Values(Ending{"WindowClosed", 0}, Ending{"Interrupt", SIGINT},
                                           Ending{"Terminate", SIGTERM}, Ending{"HangUp", SIGHUP}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

// A signal while start-up shows a message: the program ends at once, with the Up level back where
// a volume control was located.
struct StartUpMessage {
    const char* name;
    const char* settings;  // the settings file
    bool audio;            // whether the program reaches the private server
    long volumeAfter;      // the sink once the program has ended
};

void PrintTo(const StartUpMessage& c, std::ostream* out) {
    *out << c.name;
}

class ASignalDuringAStartUpMessage : public EndingTest,
                                     public ::testing::WithParamInterface<StartUpMessage> {};

TEST_P(ASignalDuringAStartUpMessage, EndsTheProgram) {
    const StartUpMessage& c = GetParam();
    writeSettings(c.settings);
    writeFile(dir.path() / "asound.conf", "pcm.!default { type hw card 97 }\n");
    std::vector<std::string> environment;
    if (!c.audio) {
        environment = {
            "PULSE_SERVER=unix:" + (dir.path() / "none").string(),
            "ALSA_CONFIG_PATH=/usr/share/alsa/alsa.conf:" + (dir.path() / "asound.conf").string()};
    }
    Program program(dir.path(), environment);
    ASSERT_NE(program.waitForMessageBox(), 0u) << program.log();
    program.signal(SIGTERM);
    EXPECT_EQ(program.wait(), 0) << "still running: " << program.running() << program.log();
    EXPECT_EQ(sinkVolumes("speakers"), Volumes(2, c.volumeAfter));
    EXPECT_EQ(readSettings(), c.settings);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, ASignalDuringAStartUpMessage,
    ::testing::Values(
        StartUpMessage{"LoadError",
                       "20,90\r\n,,,,,,,\r\n,,,,,,,\r\n 0 , 0 , 9 , 0 , 0 , 0 , 0 , 0 \r\n", true,
                       90 * 655},  // the levels read before the fault are kept
        StartUpMessage{"NoMixer", "20,90\r\n", false, 30000}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(EndingTest, ASignalDuringTheClosePromptRaisesTheVolumeAndSavesNothing) {
    Program program(dir.path());
    const unsigned long window = program.waitForWindow();
    ASSERT_NE(window, 0u) << program.log();
    ASSERT_EQ(waitForVolume(kDown), Volumes(2, kDown));
    key(window, "Up");  // an unsaved edit: the Down level is now 21
    ASSERT_EQ(waitForVolume(21 * 655), Volumes(2, 21 * 655));
    program.close();
    ASSERT_NE(program.waitForMessageBox(), 0u) << "the close prompt";
    program.signal(SIGTERM);
    EXPECT_EQ(program.wait(), 0) << program.log();
    EXPECT_EQ(sinkVolumes("speakers"), Volumes(2, kUp));
    EXPECT_EQ(readSettings(), kAlwaysDown);
}

TEST_F(EndingTest, ClosingTheWindowUnderAnOpenMessageBoxWaitsForTheBox) {
    Program program(dir.path());
    const unsigned long window = program.waitForWindow();
    ASSERT_NE(window, 0u) << program.log();
    ASSERT_EQ(waitForVolume(kDown), Volumes(2, kDown));
    // From the Down slider, Help is the 19th control in the Tab order.
    std::string tabs;
    for (int i = 0; i < 19; ++i) {
        tabs += " Tab";
    }
    key(window, tabs + " space");
    ASSERT_NE(program.waitForMessageBox(), 0u) << "the Help box";
    program.close();  // the window is blocked by the box: the program goes on, volume and all
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_TRUE(program.running());
    program.signal(SIGTERM);  // and however it then ends, the Up level comes back
    EXPECT_EQ(program.wait(), 0) << program.log();
    EXPECT_EQ(sinkVolumes("speakers"), Volumes(2, kUp));
}

TEST_F(EndingTest, TheAudioServerDyingAndComingBackLeavesTheWindowWorking) {
    Program program(dir.path());
    const unsigned long window = program.waitForWindow();
    ASSERT_NE(window, 0u) << program.log();
    ASSERT_EQ(waitForVolume(kDown), Volumes(2, kDown));

    AudioSandbox::instance().stop();
    key(window, "Up");  // Down level 21, sent to a server that is gone
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ASSERT_TRUE(program.running()) << program.log();
    EXPECT_EQ(program.title(), "DOWN");

    AudioSandbox::instance().start();
    key(window, "Up");  // Down level 22 reaches the new server
    EXPECT_EQ(waitForVolume(22 * 655), Volumes(2, 22 * 655));
    key(window, "Page_Up");  // and the window still answers: 27
    EXPECT_EQ(waitForVolume(27 * 655), Volumes(2, 27 * 655));
    program.signal(SIGTERM);
    EXPECT_EQ(program.wait(), 0);
    EXPECT_EQ(sinkVolumes("speakers"), Volumes(2, kUp));
}

}  // namespace
}  // namespace hushwell::testing
