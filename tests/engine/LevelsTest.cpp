#include <gtest/gtest.h>

#include "support/CoreFixture.h"

namespace hushwell::testing {
namespace {

TEST(UnitsPerPercent, RoundsHalvesToEven) {
    const struct {
        std::int32_t maximum;
        std::int32_t units;
    } cases[] = {{65535, 655}, {65536, 655}, {250, 2}, {350, 4}, {150, 2},
                 {49, 0},      {50, 0},      {51, 1},  {0, 0},   {-250, -2}};
    for (const auto& c : cases) {
        EXPECT_EQ(unitsPerPercentFor(c.maximum), c.units) << c.maximum;
    }
}

// A stored level goes through its slider: position 100 - the leading number, rounded half to
// even and kept within 0..100; the level is what the slider then stands for.
struct StoredLevel {
    const char* stored;
    int level;
};

class SetUpFromStoredLevel : public CoreTest, public ::testing::WithParamInterface<StoredLevel> {};

TEST_P(SetUpFromStoredLevel, TakesTheLevelTheSliderStandsFor) {
    const StoredLevel& c = GetParam();
    startWith(settingsText(c.stored, c.stored, pairsWith({})));
    for (Level level : {Level::Down, Level::Up}) {
        EXPECT_EQ(model.level(level), c.level);
        EXPECT_EQ(model.volume(level), c.level * 655);
    }
    EXPECT_EQ(model.appliedVolume(), c.level * 655);
    EXPECT_TRUE(volume.sets.empty());
    EXPECT_EQ(model.lastSent(), std::nullopt);
    EXPECT_FALSE(model.settingsChanged());
}

INSTANTIATE_TEST_SUITE_P(Levels, SetUpFromStoredLevel,
                         ::testing::Values(StoredLevel{"20", 20}, StoredLevel{"100", 100},
                                           StoredLevel{"0", 0}, StoredLevel{"", 0},
                                           StoredLevel{"loud", 0}, StoredLevel{"20.5", 20},
                                           StoredLevel{"21.5", 22}, StoredLevel{" 3 5", 35},
                                           StoredLevel{"150", 100}, StoredLevel{"-5", 0},
                                           StoredLevel{"2147483648", 100},
                                           StoredLevel{"1e400", 1}));

class LevelsTest : public CoreTest {};

TEST_F(LevelsTest, AStoredLevelBeyond32BitsEndsTheSetUpWithAMessage) {
    writeFile(settingsFile(), settingsText("30", "99999999999", pairsWith({{0, {"1", "2", 1}}})));
    EXPECT_EQ(core.startUp(), StartUpOutcome::Failed);
    EXPECT_EQ(model.level(Level::Down), 30);  // set before the failure
    EXPECT_EQ(model.level(Level::Up), 100);   // as the slider shows it
    EXPECT_EQ(model.appliedVolume(), 100 * 655);
    EXPECT_EQ(model.pairs()[0].down, "1");
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].find("Up level"), std::string::npos) << ui.messages[0];
    EXPECT_NE(ui.messages[0].find("99999999999"), std::string::npos) << ui.messages[0];
}

TEST_F(LevelsTest, ASetLevelIsAppliedAtOnceButLeavesTheAppliedVolume) {
    const struct {
        Level level;
        int percent;
    } cases[] = {{Level::Down, 100}, {Level::Down, 0}, {Level::Up, 75}, {Level::Up, 0}};
    startWith(settingsText("20", "100", pairsWith({})));
    for (const auto& c : cases) {
        core.editor.setLevel(c.level, c.percent);
        EXPECT_EQ(volume.sets.back(), c.percent * 655);
        EXPECT_EQ(model.volume(c.level), c.percent * 655);
        EXPECT_EQ(volume.upValue, model.volume(Level::Up)) << "the volume knows the Up level";
        EXPECT_EQ(model.lastSent(), c.level);
        EXPECT_TRUE(model.settingsChanged());
        EXPECT_EQ(model.appliedVolume(), 100 * 655);
    }
}

TEST_F(LevelsTest, WithoutAControlALevelIsVolumeZero) {
    volume.scale.reset();
    EXPECT_EQ(core.startUp(), StartUpOutcome::ControlNotFound);
    core.editor.setLevel(Level::Up, 100);
    EXPECT_EQ(volume.sets, std::vector<std::int32_t>{0});
    EXPECT_EQ(model.lastSent(), Level::Up);
    EXPECT_TRUE(model.settingsChanged());
}

TEST_F(LevelsTest, EqualLevelsStillApplyWhenSet) {
    startWith(settingsText("50", "50", pairsWith({})));
    core.editor.setLevel(Level::Down, 50);
    EXPECT_EQ(volume.sets.size(), 1u);
    EXPECT_EQ(model.lastSent(), Level::Down);
}

}  // namespace
}  // namespace hushwell::testing
