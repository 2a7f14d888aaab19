#include <gtest/gtest.h>

#include "support/CoreFixture.h"

namespace hushwell::testing {
namespace {

using Log = std::vector<std::string>;

class StartUpTest : public CoreTest {
protected:
    void writeSettings() {
        writeFile(settingsFile(),
                  settingsText("20", "90", pairsWith({{0, {"12:00", "13:30", 1}}})));
    }
    void expectLayoutPairs() {
        for (int i = 0; i < kPairCount; ++i) {
            EXPECT_EQ(model.pairs()[i].down, "00:00");
            EXPECT_EQ(model.pairs()[i].state, PairState::On);
        }
        EXPECT_EQ(model.level(Level::Down), 20);
        EXPECT_EQ(model.level(Level::Up), 100);
    }
};

TEST_F(StartUpTest, MixerThatWillNotOpenEndsStartUpAtOnce) {
    volume.opens = false;
    writeSettings();
    EXPECT_EQ(core.startUp(), StartUpOutcome::MixerNotOpened);
    EXPECT_EQ(ui.log, Log{"message: Couldn't open the mixer."});
    EXPECT_EQ(volume.locateCalls, 0);
    EXPECT_FALSE(model.settingsChanged());
    expectLayoutPairs();
}

TEST_F(StartUpTest, MissingControlIgnoresTheSettingsFile) {
    volume.scale.reset();
    writeSettings();
    EXPECT_EQ(core.startUp(), StartUpOutcome::ControlNotFound);
    EXPECT_EQ(ui.log, (Log{"message: Sorry, Volume Control not found!", "show"}));
    EXPECT_EQ(model.unitsPerPercent(), 0);
    expectLayoutPairs();
}

// Whenever start-up ends without levels from a settings file, the levels are the ones the sliders
// show, so that a first run does not mute the PC when it ends and a save writes "20,100".
struct UnsetLevels {
    const char* name;
    bool opens;
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
    volume.opens = c.opens;
    if (!c.control) {
        volume.scale.reset();
    }
    if (c.file != nullptr) {
        writeFile(settingsFile(), c.file);
    }
    (void)core.startUp();
    EXPECT_EQ(model.level(Level::Down), 20);
    EXPECT_EQ(model.level(Level::Up), 100);
    EXPECT_EQ(model.volume(Level::Up), 100 * c.unitsPerPercent);
    EXPECT_EQ(model.appliedVolume(), model.volume(Level::Up));
    EXPECT_TRUE(volume.sets.empty()) << "start-up applies nothing";
    if (c.opens) {
        EXPECT_EQ(volume.upValue, model.volume(Level::Up));
    }
    EXPECT_FALSE(model.settingsChanged());

    for (int second = 0; second < 60; second += 7) {
        tickAt(30, second);  // no pair holds the volume down
    }
    core.shutDown.restoreUpLevel();
    EXPECT_EQ(volume.sets, std::vector<std::int32_t>{100 * c.unitsPerPercent}) << "only the end";
    EXPECT_TRUE(core.editor.save());
    EXPECT_EQ(readFile(settingsFile()).substr(0, 8), "20,100\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, LevelsNotFromAFile,
    ::testing::Values(
        UnsetLevels{"NoSettingsFile", true, true, nullptr, 655},
        UnsetLevels{"MixerNotOpened", false, true, nullptr, 0},
        UnsetLevels{"ControlNotFound", true, false, nullptr, 0},
        UnsetLevels{"BadStateField", true, true,
                    "35,90\r\n,,,,,,,\r\n,,,,,,,\r\n 0 , 1 , 7 , 0 , 0 , 0 , 0 , 0 \r\n", 655},
        UnsetLevels{"FileEndsEarly", true, true, "35,90\r\n01:00\r\n", 655}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(StartUpTest, AFolderNamedLikeTheFileCountsAsAbsent) {
    std::filesystem::create_directory(settingsFile());
    EXPECT_EQ(core.startUp(), StartUpOutcome::NoSettingsFile);
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(StartUpTest, ReadingTheFileLeavesNoUnsavedChanges) {
    writeSettings();
    EXPECT_EQ(core.startUp(), StartUpOutcome::SettingsRead);
    EXPECT_EQ(ui.log, Log{"show"});
    EXPECT_FALSE(model.settingsChanged());
    EXPECT_EQ(model.appliedVolume(), 90 * 655);
    EXPECT_EQ(model.volume(Level::Up), 90 * 655);
    EXPECT_EQ(model.volume(Level::Down), 20 * 655);
    EXPECT_TRUE(volume.sets.empty());
    EXPECT_EQ(model.pairs()[0].down, "12:00");
    EXPECT_EQ(model.pairs()[1].state, PairState::Off);
}

TEST_F(StartUpTest, AFileThatEndsEarlyKeepsWhatWasReadAndSaysWhy) {
    writeFile(settingsFile(), "20,100\r\n01:00,02:00,03:00\r\n");
    EXPECT_EQ(core.startUp(), StartUpOutcome::Failed);
    EXPECT_EQ(ui.log,
              (Log{"show", "message: Couldn't load the settings from \"" + settingsFile().string() +
                               "\": the file ends before the Down mark of pair 4."}));
    EXPECT_EQ(model.pairs()[2].down, "03:00");
    EXPECT_EQ(model.pairs()[3].down, "00:00");
    EXPECT_FALSE(model.settingsChanged());
}

// What the start-up makes of a file that stops part-way: the fields before the fault, no levels.
TEST_F(StartUpTest, ALoadThatStopsKeepsWhatWasReadBeforeTheFault) {
    const struct {
        const char* file;
        int ups;     // Up marks the file gave
        int states;  // states the file gave
    } cases[] = {{"35,90\r\nD,D,D,D,D,D,D,D\r\nU,U,U\r\n", 3, 0},
                 {"35,90\r\nD,D,D,D,D,D,D,D\r\nU,U,U,U,U,U,U,U\r\n0,0,0,3,0,0,0,0\r\n", 8, 3}};
    for (const auto& c : cases) {
        writeFile(settingsFile(), c.file);
        Core fresh(volume, clock, ui, store);
        EXPECT_EQ(fresh.startUp(), StartUpOutcome::Failed);
        for (int i = 0; i < kPairCount; ++i) {
            const SettingPair& pair = fresh.model.pairs()[i];
            EXPECT_EQ(pair.down, "D") << i;
            EXPECT_EQ(pair.up, i < c.ups ? "U" : "00:00") << i;
            EXPECT_EQ(pair.state, i < c.states ? PairState::Off : PairState::On) << i;
        }
        EXPECT_EQ(fresh.model.level(Level::Down), 20) << "no level before the whole file was read";
    }
}

TEST_F(StartUpTest, TheEndRestoresTheUpLevelOnceWhateverHappened) {
    const struct {
        bool opens;
        bool takes;
        std::int32_t up;
    } cases[] = {{true, true, 90 * 655}, {true, false, 90 * 655}, {false, true, 0}};
    for (const auto& c : cases) {
        FakeVolume fresh;
        fresh.opens = c.opens;
        fresh.takes = c.takes;
        Core other(fresh, clock, ui, store);
        writeSettings();
        (void)other.startUp();
        other.shutDown.restoreUpLevel();
        other.shutDown.restoreUpLevel();  // a signal after the window closed, say
        EXPECT_EQ(fresh.sets, std::vector<std::int32_t>{c.up});
        EXPECT_EQ(fresh.finishCalls, 1) << "the mixer finishes its work once, after the Up level";
    }
}

}  // namespace
}  // namespace hushwell::testing
