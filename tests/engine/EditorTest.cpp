#include <gtest/gtest.h>

#include <tuple>

#include "platform/RegularFile.h"
#include "support/CoreFixture.h"

namespace hushwell::testing {
namespace {

using Marks = std::vector<std::string>;

class EditorTest : public CoreTest {
protected:
    void SetUp() override {
        ASSERT_EQ(core.startUp(), StartUpOutcome::NoSettingsFile);
        clock.time = {14, 7, 3, 0};
    }
    [[nodiscard]] Marks row(Level which) const {
        Marks marks;
        for (int i = 0; i < kPairCount; ++i) {
            marks.push_back(model.mark(which, i));
        }
        return marks;
    }
    Editor& editor = core.editor;
};

TEST_F(EditorTest, StampingPutsTheMinuteAndSecondInTheMark) {
    editor.stampMark(Level::Down, 3);
    editor.stampMark(Level::Up, 2);
    EXPECT_EQ(model.pairs()[3].down, "07:03");
    EXPECT_EQ(model.pairs()[2].up, "07:03");
    EXPECT_TRUE(model.settingsChanged());
}

TEST_F(EditorTest, StampingTheSameTextStillMarksAnEdit) {
    clock.time = {14, 0, 0, 0};
    editor.stampMark(Level::Up, 2);
    EXPECT_EQ(model.pairs()[2].up, "00:00");
    EXPECT_TRUE(model.settingsChanged());
}

TEST_F(EditorTest, MovingAMarkOnOverwritesTheNextAndEmptiesItsOwn) {
    const struct {
        Level row;
        int index;
        Marks expected;
    } cases[] = {
        {Level::Down, 3, {"d0", "d1", "d2", "", "d3", "d5", "d6", "d7"}},
        {Level::Down, 0, {"", "d0", "d2", "d3", "d4", "d5", "d6", "d7"}},
        {Level::Up, 7, {"u0", "u1", "u2", "u3", "u4", "u5", "u6", ""}},
        {Level::Up, 6, {"u0", "u1", "u2", "u3", "u4", "u5", "", "u6"}},
    };
    for (const auto& c : cases) {
        for (int i = 0; i < kPairCount; ++i) {
            editor.editMark(Level::Down, i, "d" + std::to_string(i));
            editor.editMark(Level::Up, i, "u" + std::to_string(i));
        }
        const Level other = c.row == Level::Down ? Level::Up : Level::Down;
        const Marks otherBefore = row(other);
        model.setSettingsChanged(false);
        editor.moveMarkOn(c.row, c.index);
        EXPECT_EQ(row(c.row), c.expected);
        EXPECT_EQ(row(other), otherBefore);
        EXPECT_TRUE(model.settingsChanged());
    }
}

// What belongs to a mark (its kept audio) follows these; the box echoing the model is no edit.
TEST_F(EditorTest, EachActionOnAMarkIsToldAndTheBoxsEchoIsNot) {
    std::vector<std::tuple<MarkAction, Level, int>> told;
    editor.onMarkAction([&told](MarkAction action, Level row, int index) {
        told.emplace_back(action, row, index);
    });
    editor.stampMark(Level::Up, 2);
    editor.editMark(Level::Up, 2, "07:03");
    editor.moveMarkOn(Level::Up, 2);
    editor.editMark(Level::Up, 3, "07:04");
    ui.answers = {true};
    editor.clearSchedule();
    EXPECT_TRUE(editor.save());
    std::filesystem::remove(settingsFile());
    std::filesystem::create_directory(settingsFile());  // a failed save tells nothing
    writeFile(settingsFile() / "keep", "x");
    EXPECT_FALSE(editor.save());
    EXPECT_EQ(told, (std::vector<std::tuple<MarkAction, Level, int>>{
                        {MarkAction::Stamped, Level::Up, 2},
                        {MarkAction::MovedOn, Level::Up, 2},
                        {MarkAction::EditedByHand, Level::Up, 3},
                        {MarkAction::Cleared, Level::Down, 0},
                        {MarkAction::Saved, Level::Down, 0}}));
}

TEST_F(EditorTest, TogglingAPairSwitchesItAndEndsItsLightGreen) {
    const struct {
        PairState before;
        PairState after;
    } cases[] = {{PairState::On, PairState::Off},
                 {PairState::Off, PairState::On},
                 {PairState::Greyed, PairState::On}};
    for (const auto& c : cases) {
        model.setState(5, c.before);
        model.scheduleApplied(Level::Down, 5);
        model.setSettingsChanged(false);
        editor.togglePair(5);
        EXPECT_EQ(model.pairs()[5].state, c.after);
        EXPECT_FALSE(model.pairs()[5].heldDown);
        EXPECT_TRUE(model.settingsChanged());
    }
}

TEST_F(EditorTest, ClearAnsweredNoChangesNothing) {
    editor.editMark(Level::Down, 1, "10:00");
    editor.togglePair(4);
    model.setSettingsChanged(false);
    editor.clearSchedule();
    EXPECT_EQ(ui.questions, Marks{"Are you sure you want to clear all settings?"});
    EXPECT_EQ(model.pairs()[1].down, "10:00");
    EXPECT_EQ(model.pairs()[4].state, PairState::Off);
    EXPECT_EQ(model.pairs()[0].state, PairState::On);
    EXPECT_FALSE(model.settingsChanged());
}

TEST_F(EditorTest, ClearAnsweredYesResetsTheScheduleButNotTheLevels) {
    editor.setLevel(Level::Down, 40);
    editor.editMark(Level::Up, 6, "");
    ASSERT_TRUE(editor.save());
    const std::string saved = readFile(settingsFile());
    ui.answers = {true};
    editor.clearSchedule();
    EXPECT_EQ(row(Level::Down), Marks(8, "00:00"));
    EXPECT_EQ(row(Level::Up), Marks(8, "00:00"));
    for (int i = 0; i < kPairCount; ++i) {
        EXPECT_EQ(model.pairs()[i].state, PairState::Off);
    }
    EXPECT_TRUE(model.settingsChanged());
    EXPECT_EQ(model.level(Level::Down), 40);
    EXPECT_EQ(readFile(settingsFile()), saved);
}

TEST_F(EditorTest, ClosingWithoutEditsAsksNothing) {
    editor.queryClose();
    EXPECT_EQ(ui.log, Marks{"show"});
    EXPECT_FALSE(std::filesystem::exists(settingsFile()));
}

TEST_F(EditorTest, ClosingWithEditsAnsweredNoWritesNothing) {
    writeFile(settingsFile(), "earlier");
    editor.editMark(Level::Down, 0, "10:00");
    editor.queryClose();
    EXPECT_EQ(ui.questions, Marks{"Save settings before ending?"});
    EXPECT_EQ(readFile(settingsFile()), "earlier");
}

TEST_F(EditorTest, ClosingWithEditsAnsweredYesSaves) {
    editor.editMark(Level::Down, 0, "10:00");
    ui.answers = {true};
    editor.queryClose();
    EXPECT_FALSE(model.settingsChanged());
    EXPECT_EQ(readFile(settingsFile()).substr(0, 19), "20,100\r\n10:00,00:00");
}

TEST_F(EditorTest, TheFirstSaveMakesTheSettingsFolder) {
    TempDir user;
    const auto file = user.path() / "config" / "Hushwell" / kSettingsFileName;
    FileSettingsStore elsewhere(SettingsLocation::at(file));
    Core other(volume, clock, ui, elsewhere);
    EXPECT_TRUE(other.editor.save());
    EXPECT_TRUE(ordinaryFileExists(file));
}

TEST_F(EditorTest, ProvidedSettingsAreReadThenSavedInTheUsersFolder) {
    TempDir program;
    TempDir user;
    writeFile(program.path() / kSettingsFileName,
              settingsText("35", "90", pairsWith({{0, {"10:00", "11:00", 1}}})));
    const SettingsLocation::Facts facts{program.path(), user.path() / "Hushwell", false, false};
    FileSettingsStore firstStore(SettingsLocation::decide(facts));
    Core first(volume, clock, ui, firstStore);
    ASSERT_EQ(first.startUp(), StartUpOutcome::SettingsRead);
    EXPECT_EQ(first.model.pairs()[0].down, "10:00");
    first.editor.editMark(Level::Down, 0, "12:00");
    ASSERT_TRUE(first.editor.save()) << ::testing::PrintToString(ui.messages);
    EXPECT_EQ(firstStore.location().loadFrom(), user.path() / "Hushwell" / kSettingsFileName);
    EXPECT_EQ(readFile(program.path() / kSettingsFileName).substr(0, 5), "35,90")
        << "the provided file is left as it was";

    FileSettingsStore nextStore(SettingsLocation::decide(facts));
    Core next(volume, clock, ui, nextStore);
    ASSERT_EQ(next.startUp(), StartUpOutcome::SettingsRead);
    EXPECT_EQ(next.model.pairs()[0].down, "12:00");
    EXPECT_EQ(next.model.level(Level::Down), 35);
}

TEST_F(EditorTest, AFailedSaveKeepsTheFlagAndSaysWhy) {
    editor.editMark(Level::Down, 0, "10:00");
    std::filesystem::create_directory(settingsFile());
    writeFile(settingsFile() / "keep", "x");
    EXPECT_FALSE(editor.save());
    EXPECT_TRUE(model.settingsChanged());
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].find(settingsFile().string()), std::string::npos) << ui.messages[0];
    EXPECT_NE(ui.messages[0].find("cannot replace"), std::string::npos) << ui.messages[0];
    EXPECT_EQ(readFile(settingsFile() / "keep"), "x");
}

}  // namespace
}  // namespace hushwell::testing
