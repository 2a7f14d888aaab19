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

// Whenever start-up ends without levels from a settings file, the levels are the ones the sliders
// show, so that a first run does not mute the PC when it ends and a save writes "20,100".
struct UnsetLevels {
    const char* name;
    std::int32_t openResult;
    bool control;
    const char* file;  // nullptr: no settings file
    std::int32_t unitsPerPercent;
};

void PrintTo(const UnsetLevels& c, std::ostream* out) {
    *out << c.name;
}

class LevelsNotFromAFile : public StartUpTest, public ::testing::WithParamInterface<UnsetLevels> {};

TEST_P(LevelsNotFromAFile, AreTheLevelsTheSlidersShow) {
    const UnsetLevels& c = GetParam();
    mixer.openResult = c.openResult;
    mixer.hasSpeakersVolume = c.control;
    if (c.file != nullptr) {
        writeFile(settingsFile(), c.file);
    }
    (void)engine.startUp();
    EXPECT_EQ(engine.slider(Level::Down).text(), "20");
    EXPECT_EQ(engine.slider(Level::Up).text(), "100");
    EXPECT_EQ(engine.state().downVolume, 20 * c.unitsPerPercent);
    EXPECT_EQ(engine.state().upVolume, 100 * c.unitsPerPercent);
    EXPECT_EQ(engine.state().appliedVolume, engine.state().upVolume);
    EXPECT_TRUE(mixer.applies.empty()) << "start-up applies nothing";
    EXPECT_FALSE(engine.state().settingsChanged);

    engine.resize(false);
    for (int second = 0; second < 60; second += 7) {
        tickAt(30, second);  // no pair holds the volume down
    }
    engine.unload();
    ASSERT_EQ(mixer.applies.size(), 1u);  // only the unload
    EXPECT_EQ(mixer.applies[0].value, 100 * c.unitsPerPercent);
    EXPECT_TRUE(engine.saveSettings());
    EXPECT_EQ(readFile(settingsFile()).substr(0, 8), "20,100\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, LevelsNotFromAFile,
    ::testing::Values(
        UnsetLevels{"NoSettingsFile", 0, true, nullptr, 655},
        UnsetLevels{"MixerNotOpened", 3, true, nullptr, 0},
        UnsetLevels{"ControlNotFound", 0, false, nullptr, 0},
        UnsetLevels{"BadStateField", 0, true,
                    "35,90\r\n,,,,,,,\r\n,,,,,,,\r\n 0 , 1 , 7 , 0 , 0 , 0 , 0 , 0 \r\n", 655},
        UnsetLevels{"FileEndsEarly", 0, true, "35,90\r\n01:00\r\n", 655}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(StartUpTest, AStoredLevelThatFailsKeepsTheOtherFromTheFile) {
    writeFile(settingsFile(), settingsText("35", "99999999999", pairsWith({})));
    EXPECT_EQ(engine.startUp(), StartUpOutcome::Failed);
    EXPECT_EQ(engine.state().downVolume, 35 * 655);
    EXPECT_EQ(engine.slider(Level::Up).text(), "100");
    EXPECT_EQ(engine.state().upVolume, 100 * 655);
    EXPECT_EQ(engine.state().appliedVolume, 100 * 655);
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
        Hushwell program(fresh, clock, ui, SettingsLocation::at(settingsFile()));
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
