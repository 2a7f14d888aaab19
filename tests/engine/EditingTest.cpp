#include <gtest/gtest.h>

#include "support/EngineFixture.h"

namespace hushwell::testing {
namespace {

constexpr int kRightButton = 2;
constexpr int kMiddleButton = 4;

class EditingTest : public EngineTest {
protected:
    void SetUp() override {
        ASSERT_EQ(engine.startUp(), StartUpOutcome::NoSettingsFile);
        clock.time = {14, 7, 3, 0};
    }
    std::vector<std::string> row(Row which) const {
        std::vector<std::string> marks;
        for (int i = 0; i < kPairCount; ++i) {
            marks.push_back(engine.pairs().mark(which, i));
        }
        return marks;
    }
};

using Marks = std::vector<std::string>;

TEST_F(EditingTest, LeftReleaseStampsTheTime) {
    engine.setButtonReleased(Row::Down, 3, kLeftButton);
    EXPECT_EQ(engine.pairs()[3].down, "07:03");
    EXPECT_TRUE(engine.state().settingsChanged);
}

TEST_F(EditingTest, StampingTheSameTextStillMarksAnEdit) {
    clock.time = {14, 0, 0, 0};
    engine.setButtonClicked(Row::Up, 2);
    EXPECT_EQ(engine.pairs()[2].up, "00:00");
    EXPECT_TRUE(engine.state().settingsChanged);
}

TEST_F(EditingTest, ClickStampsBothRows) {
    engine.setButtonClicked(Row::Up, 2);
    engine.setButtonClicked(Row::Down, 2);
    EXPECT_EQ(engine.pairs()[2].up, "07:03");
    EXPECT_EQ(engine.pairs()[2].down, "07:03");
}

TEST_F(EditingTest, OtherButtonsMoveTheMarkOn) {
    const struct {
        Row row;
        int index;
        int button;
        Marks expected;
    } cases[] = {
        {Row::Down, 3, kRightButton, {"d0", "d1", "d2", "", "d3", "d5", "d6", "d7"}},
        {Row::Down, 3, kMiddleButton, {"d0", "d1", "d2", "", "d3", "d5", "d6", "d7"}},
        {Row::Down, 0, kRightButton, {"", "d0", "d2", "d3", "d4", "d5", "d6", "d7"}},
        {Row::Up, 7, kRightButton, {"u0", "u1", "u2", "u3", "u4", "u5", "u6", ""}},
        {Row::Up, 6, kRightButton, {"u0", "u1", "u2", "u3", "u4", "u5", "", "u6"}},
    };
    for (const auto& c : cases) {
        for (int i = 0; i < kPairCount; ++i) {
            engine.editMark(Row::Down, i, "d" + std::to_string(i));
            engine.editMark(Row::Up, i, "u" + std::to_string(i));
        }
        const Row other = c.row == Row::Down ? Row::Up : Row::Down;
        const Marks otherBefore = row(other);
        engine.setButtonReleased(c.row, c.index, c.button);
        EXPECT_EQ(row(c.row), c.expected);
        EXPECT_EQ(row(other), otherBefore);
    }
}

TEST_F(EditingTest, MovingOnMarksAnEditThroughTheChangedBoxes) {
    engine.setButtonReleased(Row::Down, 7, kRightButton);
    EXPECT_TRUE(engine.state().settingsChanged);
}

TEST_F(EditingTest, ActiveBoxTogglesAndRecolours) {
    engine.toggleActive(5);
    EXPECT_EQ(engine.pairs()[5].active, kInactive);
    EXPECT_EQ(engine.pairs()[5].colour, PairColour::ButtonFace);
    EXPECT_TRUE(engine.state().settingsChanged);
    engine.toggleActive(5);
    EXPECT_EQ(engine.pairs()[5].active, kActive);
    EXPECT_EQ(engine.pairs()[5].colour, PairColour::WindowBackground);
}

TEST_F(EditingTest, ClearAnsweredNoChangesNothing) {
    engine.editMark(Row::Down, 1, "10:00");
    engine.toggleActive(4);
    const bool flagBefore = engine.state().settingsChanged;
    engine.clearSettings();
    EXPECT_EQ(ui.questions, Marks{"Are you sure you want to clear all settings?"});
    EXPECT_EQ(engine.pairs()[1].down, "10:00");
    EXPECT_EQ(engine.pairs()[4].active, kInactive);
    EXPECT_EQ(engine.pairs()[0].active, kActive);
    EXPECT_EQ(engine.state().settingsChanged, flagBefore);
}

TEST_F(EditingTest, ClearAnsweredYesResetsTheScheduleButNotTheLevels) {
    writeFile(settingsFile(), "saved");
    engine.moveSlider(Level::Down, 60);
    engine.editMark(Row::Up, 6, "");
    engine.saveSettings();
    const std::string saved = readFile(settingsFile());
    ui.answers = {true};
    engine.clearSettings();
    EXPECT_EQ(row(Row::Down), Marks(8, "00:00"));
    EXPECT_EQ(row(Row::Up), Marks(8, "00:00"));
    for (int i = 0; i < kPairCount; ++i) {
        EXPECT_EQ(engine.pairs()[i].active, kInactive);
        EXPECT_EQ(engine.pairs()[i].colour, PairColour::ButtonFace);
    }
    EXPECT_TRUE(engine.state().settingsChanged);
    EXPECT_EQ(engine.slider(Level::Down).position(), 60);
    EXPECT_EQ(readFile(settingsFile()), saved);
}

TEST_F(EditingTest, ClosingWithoutEditsAsksNothing) {
    engine.queryUnload();
    EXPECT_EQ(ui.log, (Marks{"show", "focus"}));
    EXPECT_FALSE(std::filesystem::exists(settingsFile()));
}

TEST_F(EditingTest, ClosingWithEditsAnsweredNoWritesNothing) {
    writeFile(settingsFile(), "earlier");
    engine.editMark(Row::Down, 0, "10:00");
    engine.queryUnload();
    EXPECT_EQ(ui.questions, Marks{"Save settings before ending?"});
    EXPECT_EQ(ui.log.back(), "pending");
    EXPECT_EQ(readFile(settingsFile()), "earlier");
}

TEST_F(EditingTest, ClosingWithEditsAnsweredYesSavesBeforeTheUpLevel) {
    engine.editMark(Row::Down, 0, "10:00");
    ui.answers = {true};
    engine.queryUnload();
    EXPECT_FALSE(engine.state().settingsChanged);
    EXPECT_EQ(readFile(settingsFile()).substr(0, 19), "20,100\r\n10:00,00:00");
}

TEST_F(EditingTest, TheFirstSaveMakesTheSettingsFolder) {
    TempDir user;
    const auto file = user.path() / "config" / "Hushwell" / kSettingsFileName;
    Hushwell program(mixer, clock, ui, SettingsLocation::at(file));
    EXPECT_TRUE(program.saveSettings());
    EXPECT_TRUE(ordinaryFileExists(file));
}

TEST_F(EditingTest, ProvidedSettingsAreReadThenSavedInTheUsersFolder) {
    TempDir program;
    TempDir user;
    writeFile(program.path() / kSettingsFileName,
              settingsText("35", "90", pairsWith({{0, {"10:00", "11:00", 1}}})));
    const SettingsLocation::Facts facts{program.path(), user.path() / "Hushwell", false, false};
    Hushwell first(mixer, clock, ui, SettingsLocation::decide(facts));
    ASSERT_EQ(first.startUp(), StartUpOutcome::SettingsRead);
    EXPECT_EQ(first.pairs()[0].down, "10:00");
    first.editMark(Row::Down, 0, "12:00");
    ASSERT_TRUE(first.saveSettings()) << ::testing::PrintToString(ui.messages);
    EXPECT_EQ(first.settingsLocation().loadFrom(), user.path() / "Hushwell" / kSettingsFileName);
    EXPECT_EQ(readFile(program.path() / kSettingsFileName).substr(0, 5), "35,90")
        << "the provided file is left as it was";

    Hushwell next(mixer, clock, ui, SettingsLocation::decide(facts));
    ASSERT_EQ(next.startUp(), StartUpOutcome::SettingsRead);
    EXPECT_EQ(next.pairs()[0].down, "12:00");
    EXPECT_EQ(next.state().downVolume, 35 * 655);
}

TEST_F(EditingTest, AFailedSaveKeepsTheFlagAndSaysWhy) {
    engine.editMark(Row::Down, 0, "10:00");
    std::filesystem::create_directory(settingsFile());
    writeFile(settingsFile() / "keep", "x");
    EXPECT_FALSE(engine.saveSettings());
    EXPECT_TRUE(engine.state().settingsChanged);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].find(settingsFile().string()), std::string::npos) << ui.messages[0];
    EXPECT_NE(ui.messages[0].find("cannot replace"), std::string::npos) << ui.messages[0];
    EXPECT_EQ(readFile(settingsFile() / "keep"), "x");
}

}  // namespace
}  // namespace hushwell::testing
