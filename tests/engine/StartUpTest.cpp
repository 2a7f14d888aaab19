#include <gtest/gtest.h>

#include "support/EngineFixture.h"

namespace hushwell::testing {
namespace {

using Log = std::vector<std::string>;

class StartUpTest : public EngineTest {
protected:
    void writeSettings() {
        writeFile(settingsFile(),
                  settingsText("20", "90", pairsWith({{0, {"12:00", "13:30", 1}}})));
    }
    void expectLayoutPairs() {
        for (int i = 0; i < kPairCount; ++i) {
            EXPECT_EQ(engine.pairs()[i].down, "00:00");
            EXPECT_EQ(engine.pairs()[i].active, kActive);
        }
        EXPECT_EQ(engine.slider(Level::Down).position(), 80);
        EXPECT_EQ(engine.slider(Level::Up).position(), 0);
        EXPECT_EQ(engine.slider(Level::Down).text(), "");
    }
};

TEST_F(StartUpTest, MixerThatWillNotOpenEndsStartUpAtOnce) {
    mixer.openResult = 2;
    writeSettings();
    EXPECT_EQ(engine.startUp(), StartUpOutcome::MixerNotOpened);
    EXPECT_EQ(ui.log, Log{"message: Couldn't open the mixer."});
    EXPECT_EQ(mixer.locateCalls, 0);
    EXPECT_FALSE(engine.state().settingsChanged);
    EXPECT_EQ(engine.state().openResult, 2);
    expectLayoutPairs();
}

TEST_F(StartUpTest, MissingControlIgnoresTheSettingsFile) {
    mixer.hasSpeakersVolume = false;
    writeSettings();
    EXPECT_EQ(engine.startUp(), StartUpOutcome::ControlNotFound);
    EXPECT_EQ(ui.log, (Log{"message: Sorry, Volume Control not found!", "show", "focus"}));
    EXPECT_FALSE(engine.state().controlFound);
    EXPECT_EQ(engine.state().unitsPerPercent, 0);
    EXPECT_EQ(engine.state().volumeControl.dwControlID, 0u);
    expectLayoutPairs();
}

TEST_F(StartUpTest, WithoutAFileTheLevelsStayZero) {
    EXPECT_EQ(engine.startUp(), StartUpOutcome::NoSettingsFile);
    EXPECT_EQ(ui.log, (Log{"show", "focus"}));
    EXPECT_TRUE(engine.state().controlFound);
    EXPECT_EQ(engine.state().unitsPerPercent, 655);
    EXPECT_EQ(engine.state().upVolume, 0);
    EXPECT_EQ(engine.state().downVolume, 0);
    expectLayoutPairs();
    engine.resize(false);
    for (int second = 0; second < 60; second += 7) {
        tickAt(30, second);
    }
    engine.unload();
    ASSERT_EQ(mixer.applies.size(), 1u);  // only the unload
    EXPECT_EQ(mixer.applies[0].value, 0);
}

TEST_F(StartUpTest, AFolderNamedLikeTheFileCountsAsAbsent) {
    std::filesystem::create_directory(settingsFile());
    EXPECT_EQ(engine.startUp(), StartUpOutcome::NoSettingsFile);
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(StartUpTest, ReadingTheFileLeavesNoUnsavedChanges) {
    writeSettings();
    EXPECT_EQ(engine.startUp(), StartUpOutcome::SettingsRead);
    EXPECT_EQ(ui.log, (Log{"show", "focus"}));
    EXPECT_FALSE(engine.state().settingsChanged);
    EXPECT_EQ(engine.state().appliedVolume, 90 * 655);
    EXPECT_EQ(engine.state().upVolume, 90 * 655);
    EXPECT_EQ(engine.state().downVolume, 20 * 655);
    EXPECT_TRUE(mixer.applies.empty());
    EXPECT_EQ(engine.pairs()[0].down, "12:00");
    EXPECT_EQ(engine.pairs()[1].active, kInactive);
}

TEST_F(StartUpTest, AFileThatEndsEarlyKeepsWhatWasReadAndSaysWhy) {
    writeFile(settingsFile(), "20,100\r\n01:00,02:00,03:00\r\n");
    EXPECT_EQ(engine.startUp(), StartUpOutcome::Failed);
    ASSERT_EQ(ui.log.size(), 3u);
    EXPECT_EQ(ui.log[0], "show");
    EXPECT_EQ(ui.log[1], "focus");
    EXPECT_EQ(ui.log[2], "message: Couldn't load the settings from \"" + settingsFile().string() +
                             "\": the file ends before the Down mark of pair 4.");
    EXPECT_EQ(engine.pairs()[2].down, "03:00");
    EXPECT_EQ(engine.pairs()[3].down, "00:00");
    EXPECT_FALSE(engine.state().settingsChanged);
    EXPECT_EQ(engine.slider(Level::Down).position(), 80);
    EXPECT_EQ(engine.state().upVolume, 0);
}

TEST_F(StartUpTest, UnloadAppliesTheUpLevelWhateverHappened) {
    const struct {
        std::int32_t openResult;
        bool accept;
    } cases[] = {{0, true}, {0, false}, {5, true}};
    for (const auto& c : cases) {
        MemoryMixer fresh;
        fresh.openResult = c.openResult;
        fresh.acceptApply = c.accept;
        Hushwell program(fresh, clock, ui, [this] { return settingsFile(); });
        writeSettings();
        (void)program.startUp();
        program.unload();
        ASSERT_EQ(fresh.applies.size(), 1u);
        EXPECT_EQ(fresh.applies[0].value, c.openResult == 0 ? 90 * 655 : 0);
    }
}

TEST_F(StartUpTest, ResizeTracksTheMinimizedState) {
    EXPECT_FALSE(engine.state().clockVisible);
    engine.resize(false);
    EXPECT_TRUE(engine.state().clockVisible);
    engine.resize(true);
    EXPECT_FALSE(engine.state().clockVisible);
}

}  // namespace
}  // namespace hushwell::testing
