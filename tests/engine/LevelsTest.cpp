#include <gtest/gtest.h>

#include "support/EngineFixture.h"

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

struct StoredLevel {
    const char* stored;
    int position;
    const char* text;
};

class SetUpFromStoredLevel : public EngineTest,
                             public ::testing::WithParamInterface<StoredLevel> {};

TEST_P(SetUpFromStoredLevel, PositionsTheSliderAndComputesTheVolume) {
    const StoredLevel& c = GetParam();
    startWith(settingsText(c.stored, c.stored, pairsWith({})));
    for (Level level : {Level::Down, Level::Up}) {
        EXPECT_EQ(engine.slider(level).position(), c.position);
        EXPECT_EQ(engine.slider(level).text(), c.text);
    }
    const std::int32_t volume = std::stoi(c.text) * 655;
    EXPECT_EQ(engine.state().downVolume, volume);
    EXPECT_EQ(engine.state().upVolume, volume);
    EXPECT_EQ(engine.state().appliedVolume, volume);
    EXPECT_TRUE(mixer.applies.empty());
    EXPECT_EQ(engine.title(), "Hushwell");
    EXPECT_FALSE(engine.state().settingsChanged);
}

INSTANTIATE_TEST_SUITE_P(
    Levels, SetUpFromStoredLevel,
    ::testing::Values(StoredLevel{"20", 80, "20"}, StoredLevel{"100", 0, "100"},
                      StoredLevel{"0", 100, "0"}, StoredLevel{"", 100, "0"},
                      StoredLevel{"loud", 100, "0"}, StoredLevel{"20.5", 80, "20"},
                      StoredLevel{"21.5", 78, "22"}, StoredLevel{" 3 5", 65, "35"},
                      StoredLevel{"150", 0, "100"}, StoredLevel{"-5", 100, "0"},
                      StoredLevel{"2147483648", 0, "100"}, StoredLevel{"1e400", 99, "1"}));

class LevelsTest : public EngineTest {};

TEST_F(LevelsTest, AStoredLevelBeyond32BitsEndsTheSetUpWithAMessage) {
    writeFile(settingsFile(), settingsText("30", "99999999999", pairsWith({{0, {"1", "2", 1}}})));
    EXPECT_EQ(engine.startUp(), StartUpOutcome::Failed);
    EXPECT_EQ(engine.slider(Level::Down).position(), 70);  // set before the failure
    EXPECT_EQ(engine.state().downVolume, 30 * 655);
    EXPECT_EQ(engine.slider(Level::Up).position(), 0);
    EXPECT_EQ(engine.pairs()[0].down, "1");
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].find("Up level"), std::string::npos) << ui.messages[0];
    EXPECT_NE(ui.messages[0].find("99999999999"), std::string::npos) << ui.messages[0];
}

TEST_F(LevelsTest, AMoveAppliesAtOnceButLeavesTheAppliedVolume) {
    const struct {
        Level level;
        int position;
        const char* text;
        const char* title;
    } cases[] = {{Level::Down, 0, "100", "DOWN"},
                 {Level::Down, 100, "0", "DOWN"},
                 {Level::Up, 25, "75", "UP"},
                 {Level::Up, 130, "0", "UP"}};
    startWith(settingsText("20", "100", pairsWith({})));
    for (const auto& c : cases) {
        engine.moveSlider(c.level, c.position);
        const std::int32_t volume = std::stoi(c.text) * 655;
        EXPECT_EQ(engine.slider(c.level).text(), c.text);
        EXPECT_EQ(mixer.applies.back().value, volume);
        EXPECT_EQ(engine.state().sliderVolume, volume);
        EXPECT_EQ(c.level == Level::Down ? engine.state().downVolume : engine.state().upVolume,
                  volume);
        EXPECT_EQ(engine.title(), c.title);
        EXPECT_TRUE(engine.state().settingsChanged);
        EXPECT_EQ(engine.state().appliedVolume, 100 * 655);
    }
}

TEST_F(LevelsTest, AMoveWithoutAControlAppliesZeroToControlZero) {
    mixer.hasSpeakersVolume = false;
    EXPECT_EQ(engine.startUp(), StartUpOutcome::ControlNotFound);
    engine.moveSlider(Level::Up, 0);
    ASSERT_EQ(mixer.applies.size(), 1u);
    EXPECT_EQ(mixer.applies[0].value, 0);
    EXPECT_EQ(mixer.applies[0].controlId, 0u);
    EXPECT_EQ(engine.title(), "UP");
    EXPECT_TRUE(engine.state().settingsChanged);
}

TEST_F(LevelsTest, EqualLevelsStillApplyOnAMove) {
    startWith(settingsText("50", "50", pairsWith({})));
    engine.moveSlider(Level::Down, 50);
    EXPECT_EQ(mixer.applies.size(), 1u);
    EXPECT_EQ(engine.title(), "DOWN");
}

}  // namespace
}  // namespace hushwell::testing
