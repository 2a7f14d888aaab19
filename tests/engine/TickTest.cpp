#include <gtest/gtest.h>

#include <optional>

#include "support/EngineFixture.h"

namespace hushwell::testing {
namespace {

constexpr std::int32_t kDown = 20 * 655;  // stored Down level 20
constexpr std::int32_t kUp = 100 * 655;   // stored Up level 100

struct Step {
    const char* time;                     // "mm:ss" of the tick
    std::optional<std::int32_t> applied;  // the volume this tick sends, if any
    const char* title;                    // the title after the tick
    std::vector<int> green;               // the light-green pairs after the tick
};

struct Scenario {
    const char* name;
    std::array<PairSpec, kPairCount> pairs;
    std::vector<Step> steps;
};

void PrintTo(const Scenario& scenario, std::ostream* out) {
    *out << scenario.name;
}

class TickScenario : public EngineTest, public ::testing::WithParamInterface<Scenario> {};

TEST_P(TickScenario, SwitchesOnlyWhenTheWantedLevelChanges) {
    startWithPairs(GetParam().pairs);
    for (const Step& step : GetParam().steps) {
        const std::size_t before = applyCount();
        tickAt(std::stoi(step.time), std::stoi(step.time + 3));
        SCOPED_TRACE(step.time);
        if (step.applied) {
            ASSERT_EQ(applyCount(), before + 1);
            EXPECT_EQ(mixer.applies.back().value, *step.applied);
            EXPECT_EQ(mixer.applies.back().controlId, mixer.control.dwControlID);
        } else {
            EXPECT_EQ(applyCount(), before);
        }
        EXPECT_EQ(engine.title(), step.title);
        EXPECT_EQ(greenPairs(), step.green);
        EXPECT_EQ(engine.clockText(), step.time);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Schedules, TickScenario,
    ::testing::Values(Scenario{"BothMarksAreStrict",
                               pairsWith({{1, {"20:00", "21:30", 1}}}),
                               {{"19:59", {}, "Hushwell", {}},
                                {"20:00", {}, "Hushwell", {}},
                                {"20:01", kDown, "DOWN", {1}},
                                {"21:29", {}, "DOWN", {1}},
                                {"21:30", kUp, "UP", {}},
                                {"21:31", {}, "UP", {}}}},
                      Scenario{"EqualMarksNeverMatch",
                               pairsWith({{0, {"00:00", "00:00", 1}}, {1, {"00:00", "00:00", 1}}}),
                               {{"00:00", {}, "Hushwell", {}},
                                {"00:01", {}, "Hushwell", {}},
                                {"30:00", {}, "Hushwell", {}}}},
                      Scenario{"APairAcrossTheHourNeverMatches",
                               pairsWith({{0, {"59:00", "01:00", 1}}, {1, {"50:00", "10:00", 1}}}),
                               {{"59:30", {}, "Hushwell", {}},
                                {"00:30", {}, "Hushwell", {}},
                                {"55:00", {}, "Hushwell", {}}}},
                      Scenario{"TwoPairsSplitAtTheHour",
                               pairsWith({{0, {"59:00", "59:59", 1}}, {1, {"00:00", "01:00", 1}}}),
                               {{"59:00", {}, "Hushwell", {}},
                                {"59:01", kDown, "DOWN", {0}},
                                {"59:58", {}, "DOWN", {0}},
                                {"59:59", kUp, "UP", {}},
                                {"00:00", {}, "UP", {}},
                                {"00:01", kDown, "DOWN", {1}},
                                {"00:59", {}, "DOWN", {1}},
                                {"01:00", kUp, "UP", {}}}},
                      Scenario{"EmptyDownIsBeforeEveryTime",
                               pairsWith({{3, {"", "10:00", 1}}}),
                               {{"00:00", kDown, "DOWN", {3}},
                                {"09:59", {}, "DOWN", {3}},
                                {"10:00", kUp, "UP", {}}}},
                      Scenario{"EmptyUpNeverMatches",
                               pairsWith({{3, {"00:00", "", 1}}}),
                               {{"00:01", {}, "Hushwell", {}}, {"59:59", {}, "Hushwell", {}}}},
                      Scenario{"ShortMarksFollowTextOrder",
                               pairsWith({{0, {"1:00", "2:00", 1}}, {1, {"5:00", "10:00", 1}}}),
                               {{"19:59", {}, "Hushwell", {}},
                                {"20:00", kDown, "DOWN", {0}},
                                {"29:59", {}, "DOWN", {0}},
                                {"30:00", kUp, "UP", {}},
                                {"07:00", {}, "UP", {}}}},
                      Scenario{"TheLowerIndexIsColoured",
                               pairsWith({{2, {"10:00", "20:00", 1}}, {5, {"10:00", "20:00", 1}}}),
                               {{"15:00", kDown, "DOWN", {2}}}},
                      Scenario{"OverlappingPairsHandOverWithoutAChange",
                               pairsWith({{0, {"10:00", "20:00", 1}}, {1, {"19:00", "30:00", 1}}}),
                               {{"10:01", kDown, "DOWN", {0}},
                                {"20:00", {}, "DOWN", {0}},
                                {"29:59", {}, "DOWN", {0}},
                                {"30:00", kUp, "UP", {}}}},
                      Scenario{"InactivePairsAreSkipped",
                               pairsWith({{0, {"10:00", "20:00", 0}}}),
                               {{"15:00", {}, "Hushwell", {}}}},
                      Scenario{"GreyedPairIsScannedAsActive",
                               pairsWith({{4, {"10:00", "20:00", 2}}}),
                               {{"15:00", kDown, "DOWN", {4}}, {"20:00", kUp, "UP", {}}}}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

class TickTest : public EngineTest {};

TEST_F(TickTest, RaisingTheVolumeRecoloursEveryPairByItsState) {
    startWithPairs(pairsWith(
        {{0, {"10:00", "20:00", 1}}, {1, {"00:00", "00:00", 2}}, {2, {"00:00", "00:00", 1}}}));
    tickAt(15, 0);
    tickAt(20, 0);
    EXPECT_EQ(engine.pairs()[0].colour, PairColour::WindowBackground);
    EXPECT_EQ(engine.pairs()[1].colour, PairColour::ButtonFace);
    EXPECT_EQ(engine.pairs()[2].colour, PairColour::WindowBackground);
    EXPECT_EQ(engine.pairs()[3].colour, PairColour::ButtonFace);
}

TEST_F(TickTest, EqualLevelsNeverTouchTheMixer) {
    startWithPairs(pairsWith({{0, {"10:00", "20:00", 1}}}), "50", "50");
    for (const auto& [minute, second] : {std::pair{9, 0}, {15, 0}, {20, 0}, {25, 0}}) {
        tickAt(minute, second);
    }
    EXPECT_TRUE(mixer.applies.empty());
    EXPECT_EQ(engine.title(), "Hushwell");
    EXPECT_TRUE(greenPairs().empty());
}

TEST_F(TickTest, ClearingTheMatchedPairRaisesTheVolumeAtTheNextTick) {
    startWithPairs(pairsWith({{1, {"10:00", "20:00", 1}}}));
    tickAt(15, 0);
    engine.toggleActive(1);
    EXPECT_EQ(engine.pairs()[1].colour, PairColour::ButtonFace);
    tickAt(15, 1);
    EXPECT_EQ(mixer.applies.back().value, kUp);
    EXPECT_EQ(engine.title(), "UP");
    EXPECT_EQ(engine.pairs()[1].colour, PairColour::ButtonFace);
}

TEST_F(TickTest, DownSliderMovedOutsideAWindowHoldsUntilTheNextWindowEnds) {
    startWithPairs(pairsWith({{0, {"10:00", "20:00", 1}}}));
    tickAt(5, 0);
    engine.moveSlider(Level::Down, 70);  // level 30
    EXPECT_EQ(mixer.applies.back().value, 30 * 655);
    EXPECT_EQ(engine.title(), "DOWN");
    const std::size_t afterMove = applyCount();
    tickAt(5, 1);
    EXPECT_EQ(applyCount(), afterMove);
    tickAt(10, 1);
    EXPECT_EQ(mixer.applies.back().value, 30 * 655);
    EXPECT_EQ(greenPairs(), std::vector<int>{0});
    tickAt(20, 0);
    EXPECT_EQ(mixer.applies.back().value, kUp);
    EXPECT_EQ(engine.title(), "UP");
}

TEST_F(TickTest, DownSliderMovedInsideAWindowIsAppliedAgainByTheTick) {
    startWithPairs(pairsWith({{0, {"10:00", "20:00", 1}}}));
    tickAt(15, 0);
    engine.moveSlider(Level::Down, 90);  // level 10
    tickAt(15, 1);
    EXPECT_EQ(mixer.applies.back().value, 10 * 655);
    EXPECT_EQ(engine.state().appliedVolume, 10 * 655);
    EXPECT_EQ(engine.title(), "DOWN");
}

TEST_F(TickTest, UpSliderMovedInsideAWindowHoldsUntilTheWindowCloses) {
    startWithPairs(pairsWith({{0, {"10:00", "20:00", 1}}}));
    tickAt(15, 0);
    engine.moveSlider(Level::Up, 10);  // level 90
    EXPECT_EQ(engine.title(), "UP");
    const std::size_t afterMove = applyCount();
    tickAt(16, 0);
    EXPECT_EQ(applyCount(), afterMove);
    EXPECT_EQ(greenPairs(), std::vector<int>{0});
    tickAt(20, 0);
    EXPECT_EQ(mixer.applies.back().value, 90 * 655);
    EXPECT_TRUE(greenPairs().empty());
}

TEST_F(TickTest, MinimizedWindowKeepsItsClockButStillSwitches) {
    startWithPairs(pairsWith({{0, {"10:00", "20:00", 1}}}));
    tickAt(9, 59);
    engine.resize(true);
    tickAt(15, 0);
    EXPECT_EQ(engine.clockText(), "09:59");
    EXPECT_EQ(mixer.applies.back().value, kDown);
    engine.resize(false);
    tickAt(15, 1);
    EXPECT_EQ(engine.clockText(), "15:01");
}

TEST_F(TickTest, AMarkIsComparedAsItStandsAtTheTick) {
    startWithPairs(pairsWith({{0, {"10:00", "20:00", 1}}}));
    engine.editMark(Row::Up, 0, "1");  // half-typed: no time text is below "1"
    tickAt(15, 0);
    EXPECT_TRUE(mixer.applies.empty());
    engine.editMark(Row::Up, 0, "16");
    tickAt(15, 1);
    EXPECT_EQ(mixer.applies.back().value, kDown);
}

}  // namespace
}  // namespace hushwell::testing
