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

// A start with the desktop, before the sound server answers: no message and nothing read while
// it may wait; its last start, without patience, reports the mixer as any other.
TEST_F(StartUpTest, AStartThatMayWaitForTheMixerReportsNothingUntilItsLastTry) {
    volume.opens = false;
    writeSettings();
    EXPECT_EQ(core.startUp(true), StartUpOutcome::WaitingForMixer);
    EXPECT_EQ(model.awaited(), Awaited::SoundServer);
    EXPECT_TRUE(ui.log.empty());
    EXPECT_EQ(volume.locateCalls, 0);
    EXPECT_EQ(core.startUp(false), StartUpOutcome::MixerNotOpened);
    EXPECT_EQ(model.awaited(), Awaited::Nothing);
    EXPECT_EQ(ui.log, Log{"message: Couldn't open the mixer."});
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

INSTANTIATE_TEST_SUITE_P(Outcomes, LevelsNotFromAFile,
                         ::testing::Values(UnsetLevels{"NoSettingsFile", true, true, nullptr, 655},
                                           UnsetLevels{"MixerNotOpened", false, true, nullptr, 0},
                                           UnsetLevels{"ControlNotFound", true, false, nullptr, 0},
                                           UnsetLevels{"FileWithoutLevels", true, true, "", 655}),
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

// What the start-up makes of a file that stops part-way: every field before the fault, the levels
// among them, and the reason.
TEST_F(StartUpTest, ALoadThatStopsKeepsWhatWasReadBeforeTheFault) {
    const struct {
        const char* file;
        int down;    // the Down level afterwards (20 as the slider starts)
        int up;      // the Up level afterwards (100 as the slider starts)
        int downs;   // Down marks the file gave
        int ups;     // Up marks the file gave
        int states;  // states the file gave
        const char* reason;
    } cases[] = {
        {"35", 35, 100, 0, 0, 0, "the file ends before the Up level"},
        {"35,90\r\n", 35, 90, 0, 0, 0, "the file ends before the Down mark of pair 1"},
        {"35,90\r\nD,D,D,D,D\r\n", 35, 90, 5, 0, 0, "the file ends before the Down mark of pair 6"},
        {"35,90\r\nD,D,D,D,D,D,D,D\r\nU,U,U\r\n", 35, 90, 8, 3, 0,
         "the file ends before the Up mark of pair 4"},
        {"35,90\r\nD,D,D,D,D,D,D,D\r\nU,U,U,U,U,U,U,U\r\n0,0,0,3,0,0,0,0\r\n", 35, 90, 8, 8, 3,
         "the Active state of pair 4 is 3; it must be 0, 1 or 2"},
        {"35,90\r\nD,D,D,D,D,D,D,D\r\nU,U,U,U,U,U,U,U\r\n0,0,x\r\n", 35, 90, 8, 8, 2,
         "the Active state of pair 3, \"x\", is not a number"},
    };
    for (const auto& c : cases) {
        writeFile(settingsFile(), c.file);
        ScriptedUi seen;
        FakeVolume fresh;
        Core other(fresh, clock, seen, store);
        EXPECT_EQ(other.startUp(), StartUpOutcome::Failed) << c.file;
        EXPECT_EQ(seen.log, (Log{"show", "message: Couldn't load the settings from \"" +
                                             settingsFile().string() + "\": " + c.reason + "."}));
        const Model& loaded = other.model;
        EXPECT_EQ(loaded.level(Level::Down), c.down) << c.file;
        EXPECT_EQ(loaded.level(Level::Up), c.up) << c.file;
        EXPECT_EQ(loaded.appliedVolume(), c.up * 655)
            << "the Up level read is taken to be in force";
        EXPECT_EQ(fresh.upValue, c.up * 655) << c.file;
        EXPECT_TRUE(fresh.sets.empty()) << "start-up applies nothing";
        EXPECT_FALSE(loaded.settingsChanged());
        for (int i = 0; i < kPairCount; ++i) {
            const SettingPair& pair = loaded.pairs()[i];
            EXPECT_EQ(pair.down, i < c.downs ? "D" : "00:00") << c.file << i;
            EXPECT_EQ(pair.up, i < c.ups ? "U" : "00:00") << c.file << i;
            EXPECT_EQ(pair.state, i < c.states ? PairState::Off : PairState::On) << c.file << i;
        }
    }
}

// A level that cannot be used is reported as before; when the file also stops early, both are.
TEST_F(StartUpTest, ALevelOutOfRangeIsReportedWithTheFault) {
    writeFile(settingsFile(), "99999999999,90\r\nD\r\n");
    EXPECT_EQ(core.startUp(), StartUpOutcome::Failed);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].find("the file ends before the Down mark of pair 2."),
              std::string::npos)
        << ui.messages[0];
    EXPECT_NE(ui.messages[0].find("The Down level stored in Hushwell_setup.txt, \"99999999999\", "
                                  "is out of range."),
              std::string::npos)
        << ui.messages[0];
    EXPECT_EQ(model.pairs()[0].down, "D");
}

// Marks with the file's separators in them, from a file edited by hand, say, come back whole after
// a save, and nothing after them moves.
TEST_F(StartUpTest, MarksWithTheFilesSeparatorsComeBackAfterASave) {
    const std::string marks[] = {"05,30", "7\"", "a\r\nb", " 12:00 ", ",,,"};
    for (int i = 0; i < 5; ++i) {
        core.editor.editMark(Level::Down, i, marks[i]);
        core.editor.editMark(Level::Up, 7 - i, marks[i]);
    }
    core.editor.setLevel(Level::Down, 35);
    core.editor.setLevel(Level::Up, 90);
    ASSERT_TRUE(core.editor.save()) << ui.log.back();
    Core other(volume, clock, ui, store);
    EXPECT_EQ(other.startUp(), StartUpOutcome::SettingsRead) << ui.log.back();
    for (int i = 0; i < kPairCount; ++i) {
        EXPECT_EQ(other.model.pairs()[i].down, model.pairs()[i].down) << i;
        EXPECT_EQ(other.model.pairs()[i].up, model.pairs()[i].up) << i;
        EXPECT_EQ(other.model.pairs()[i].state, model.pairs()[i].state) << i;
    }
    EXPECT_EQ(other.model.level(Level::Down), 35);
    EXPECT_EQ(other.model.level(Level::Up), 90);
}

// A mark that no form of the file gives back is not saved: the file stays as it was, and the
// message names the mark.
TEST_F(StartUpTest, AMarkTheFileCannotHoldIsNotSaved) {
    writeSettings();
    const std::string before = readFile(settingsFile());
    ASSERT_EQ(core.startUp(), StartUpOutcome::SettingsRead);
    core.editor.editMark(Level::Up, 2, "\"a,b");
    EXPECT_FALSE(core.editor.save());
    ASSERT_FALSE(ui.messages.empty());
    EXPECT_NE(ui.messages.back().find("the Up mark of pair 3"), std::string::npos)
        << ui.messages.back();
    EXPECT_NE(ui.messages.back().find("The settings saved earlier are unchanged."),
              std::string::npos)
        << ui.messages.back();
    EXPECT_EQ(readFile(settingsFile()), before);
    EXPECT_TRUE(model.settingsChanged());
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
        std::vector<int> endings;  // the mixer's finishes before each
        other.shutDown.onEnding([&endings, &fresh] { endings.push_back(fresh.finishCalls); });
        writeSettings();
        (void)other.startUp();
        other.shutDown.restoreUpLevel();
        other.shutDown.restoreUpLevel();  // a signal after the window closed, say
        EXPECT_EQ(fresh.sets, std::vector<std::int32_t>{c.up});
        EXPECT_EQ(fresh.finishCalls, 1) << "the mixer finishes its work once, after the Up level";
        EXPECT_EQ(endings, std::vector<int>{0}) << "told once, before the mixer finishes";
    }
}

}  // namespace
}  // namespace hushwell::testing
