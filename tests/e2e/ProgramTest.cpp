#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "e2e/ProgramFixture.h"

namespace hushwell::testing {
namespace {

class ProgramTest : public ProgramFixture {};

TEST_F(ProgramTest, AKeyboardMoveSetsTheVolumeAndClosingPutsTheUpLevelBack) {
    writeSettings(kQuiet);
    Program program(dir.path(), {kMixerLog});
    const unsigned long window = program.waitForWindow();
    ASSERT_NE(window, 0u) << program.log();
    EXPECT_EQ(sinkVolumes("speakers"), Volumes(2, kOutput));  // start-up applies nothing

    // The focus starts on the Down slider: Up raises the Down level from 20 to 21.
    run("xdotool windowfocus --sync " + std::to_string(window) + " key Up");
    EXPECT_EQ(waitForVolume(21 * 655), Volumes(2, 21 * 655));
    EXPECT_NE(program.log().find("hushwell.mixer: apply 13755: applied"), std::string::npos)
        << program.log();

    program.close();  // no unsaved edits but the level: the close prompt comes up
    const unsigned long question = program.waitForMessageBox();
    ASSERT_NE(question, 0u);
    run("xdotool windowfocus --sync " + std::to_string(question) + " key n");
    EXPECT_EQ(program.wait(), 0) << program.log();
    EXPECT_EQ(sinkVolumes("speakers"), Volumes(2, 100 * 655));
    EXPECT_EQ(readSettings(), kQuiet);
}

TEST_F(ProgramTest, WithNoAudioAnywhereItSaysSoAndKeepsRunning) {
    writeFile(dir.path() / "asound.conf",
              "pcm.!default { type hw card 97 }\n"
              "ctl.!default { type hw card 97 }\n");
    Program program(dir.path(), {kMixerLog, "PULSE_SERVER=unix:" + (dir.path() / "none").string(),
                                 "ALSA_CONFIG_PATH=/usr/share/alsa/alsa.conf:" +
                                     (dir.path() / "asound.conf").string()});
    const unsigned long message = program.waitForMessageBox();
    ASSERT_NE(message, 0u) << "running: " << program.running() << "\n" << program.log();
    run("xdotool windowfocus --sync " + std::to_string(message) + " key Return");
    ASSERT_NE(program.waitForWindow(), 0u) << program.log();
    EXPECT_NE(program.log().find("hushwell.mixer: open: (none opened)"), std::string::npos)
        << program.log();
    EXPECT_TRUE(program.running());
    program.close();
    EXPECT_EQ(program.wait(), 0);
    EXPECT_EQ(sinkVolumes("speakers"), Volumes(2, kOutput));
}

}  // namespace
}  // namespace hushwell::testing
