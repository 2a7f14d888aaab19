#include <gtest/gtest.h>

#include <optional>

#include "support/CoreFixture.h"

namespace hushwell::testing {
namespace {

constexpr std::int32_t kDown = 20 * 655;  // stored Down level 20
constexpr std::int32_t kUp = 100 * 655;   // stored Up level 100

constexpr std::optional<Level> kNone;  // no level sent yet: the title is the program's name
constexpr std::optional<Level> kSentDown = Level::Down;
constexpr std::optional<Level> kSentUp = Level::Up;

struct Step {
    const char* time;                     // "mm:ss" of the tick
    std::optional<std::int32_t> applied;  // the volume this tick sends, if any
    std::optional<Level> sent;            // the level last sent after the tick (the title)
    std::vector<int> held;                // the pairs marked light green after the tick
};

struct Scenario {
    const char* name;
    std::array<PairSpec, kPairCount> pairs;
    std::vector<Step> steps;
};

void PrintTo(const Scenario& scenario, std::ostream* out) {
    *out << scenario.name;
}

class TickScenario : public CoreTest, public ::testing::WithParamInterface<Scenario> {};

TEST_P(TickScenario, SwitchesOnlyWhenTheWantedLevelChanges) {
    startWithPairs(GetParam().pairs);
    for (const Step& step : GetParam().steps) {
        const std::size_t before = setCount();
        SCOPED_TRACE(step.time);
        EXPECT_EQ(tickAt(std::stoi(step.time), std::stoi(step.time + 3)), step.time);
        if (step.applied) {
            ASSERT_EQ(setCount(), before + 1);
            EXPECT_EQ(volume.sets.back(), *step.applied);
            EXPECT_EQ(model.appliedVolume(), *step.applied);
        } else {
            EXPECT_EQ(setCount(), before);
        }
        EXPECT_EQ(model.lastSent(), step.sent);
        EXPECT_EQ(heldPairs(), step.held);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Schedules, TickScenario,
    ::testing::Values(
        Scenario{"BothMarksAreStrict",
                 pairsWith({{1, {"20:00", "21:30", 1}}}),
                 {{"19:59", {}, kNone, {}},
                  {"20:00", {}, kNone, {}},
                  {"20:01", kDown, kSentDown, {1}},
                  {"21:29", {}, kSentDown, {1}},
                  {"21:30", kUp, kSentUp, {}},
                  {"21:31", {}, kSentUp, {}}}},
        Scenario{"EqualMarksNeverMatch",
                 pairsWith({{0, {"00:00", "00:00", 1}}, {1, {"00:00", "00:00", 1}}}),
                 {{"00:00", {}, kNone, {}}, {"00:01", {}, kNone, {}}, {"30:00", {}, kNone, {}}}},
        Scenario{"APairAcrossTheHourNeverMatches",
                 pairsWith({{0, {"59:00", "01:00", 1}}, {1, {"50:00", "10:00", 1}}}),
                 {{"59:30", {}, kNone, {}}, {"00:30", {}, kNone, {}}, {"55:00", {}, kNone, {}}}},
        Scenario{"TwoPairsSplitAtTheHour",
                 pairsWith({{0, {"59:00", "59:59", 1}}, {1, {"00:00", "01:00", 1}}}),
                 {{"59:00", {}, kNone, {}},
                  {"59:01", kDown, kSentDown, {0}},
                  {"59:58", {}, kSentDown, {0}},
                  {"59:59", kUp, kSentUp, {}},
                  {"00:00", {}, kSentUp, {}},
                  {"00:01", kDown, kSentDown, {1}},
                  {"00:59", {}, kSentDown, {1}},
                  {"01:00", kUp, kSentUp, {}}}},
        Scenario{"EmptyDownIsBeforeEveryTime",
                 pairsWith({{3, {"", "10:00", 1}}}),
                 {{"00:00", kDown, kSentDown, {3}},
                  {"09:59", {}, kSentDown, {3}},
                  {"10:00", kUp, kSentUp, {}}}},
        Scenario{"EmptyUpNeverMatches",
                 pairsWith({{3, {"00:00", "", 1}}}),
                 {{"00:01", {}, kNone, {}}, {"59:59", {}, kNone, {}}}},
        Scenario{"ShortMarksFollowTextOrder",
                 pairsWith({{0, {"1:00", "2:00", 1}}, {1, {"5:00", "10:00", 1}}}),
                 {{"19:59", {}, kNone, {}},
                  {"20:00", kDown, kSentDown, {0}},
                  {"29:59", {}, kSentDown, {0}},
                  {"30:00", kUp, kSentUp, {}},
                  {"07:00", {}, kSentUp, {}}}},
        Scenario{"TheLowerIndexIsColoured",
                 pairsWith({{2, {"10:00", "20:00", 1}}, {5, {"10:00", "20:00", 1}}}),
                 {{"15:00", kDown, kSentDown, {2}}}},
        Scenario{"OverlappingPairsHandOverWithoutAChange",
                 pairsWith({{0, {"10:00", "20:00", 1}}, {1, {"19:00", "30:00", 1}}}),
                 {{"10:01", kDown, kSentDown, {0}},
                  {"20:00", {}, kSentDown, {0}},
                  {"29:59", {}, kSentDown, {0}},
                  {"30:00", kUp, kSentUp, {}}}},
        Scenario{"InactivePairsAreSkipped",
                 pairsWith({{0, {"10:00", "20:00", 0}}}),
                 {{"15:00", {}, kNone, {}}}},
        Scenario{"GreyedPairIsScannedAsActive",
                 pairsWith({{4, {"10:00", "20:00", 2}}}),
                 {{"15:00", kDown, kSentDown, {4}}, {"20:00", kUp, kSentUp, {}}}}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

class TickTest : public CoreTest {};

TEST_F(TickTest, RaisingTheVolumeEndsEveryPairsMarkAndKeepsTheStates) {
    startWithPairs(pairsWith(
        {{0, {"10:00", "20:00", 1}}, {1, {"00:00", "00:00", 2}}, {2, {"10:00", "30:00", 1}}}));
    tickAt(15, 0);
    EXPECT_EQ(heldPairs(), std::vector<int>{0});
    tickAt(25, 0);  // pair 3 takes over without a change: pair 1 keeps its mark
    EXPECT_EQ(heldPairs(), std::vector<int>{0});
    core.editor.setLevel(Level::Down, 10);
    tickAt(25, 1);  // the new Down level is applied by the pair now holding the volume
    EXPECT_EQ(heldPairs(), (std::vector<int>{0, 2}));
    tickAt(30, 0);
    EXPECT_TRUE(heldPairs().empty());
    EXPECT_EQ(model.pairs()[1].state, PairState::Greyed);
}

TEST_F(TickTest, EqualLevelsNeverTouchTheMixer) {
    startWithPairs(pairsWith({{0, {"10:00", "20:00", 1}}}), "50", "50");
    for (const auto& [minute, second] : {std::pair{9, 0}, {15, 0}, {20, 0}, {25, 0}}) {
        tickAt(minute, second);
    }
    EXPECT_TRUE(volume.sets.empty());
    EXPECT_EQ(model.lastSent(), kNone);
    EXPECT_TRUE(heldPairs().empty());
}

TEST_F(TickTest, ClearingTheMatchedPairRaisesTheVolumeAtTheNextTick) {
    startWithPairs(pairsWith({{1, {"10:00", "20:00", 1}}}));
    tickAt(15, 0);
    core.editor.togglePair(1);
    EXPECT_FALSE(model.pairs()[1].heldDown);
    tickAt(15, 1);
    EXPECT_EQ(volume.sets.back(), kUp);
    EXPECT_EQ(model.lastSent(), kSentUp);
}

TEST_F(TickTest, DownLevelSetOutsideAWindowHoldsUntilTheNextWindowEnds) {
    startWithPairs(pairsWith({{0, {"10:00", "20:00", 1}}}));
    tickAt(5, 0);
    core.editor.setLevel(Level::Down, 30);
    EXPECT_EQ(volume.sets.back(), 30 * 655);
    EXPECT_EQ(model.lastSent(), kSentDown);
    const std::size_t afterMove = setCount();
    tickAt(5, 1);
    EXPECT_EQ(setCount(), afterMove);
    tickAt(10, 1);
    EXPECT_EQ(volume.sets.back(), 30 * 655);
    EXPECT_EQ(heldPairs(), std::vector<int>{0});
    tickAt(20, 0);
    EXPECT_EQ(volume.sets.back(), kUp);
    EXPECT_EQ(model.lastSent(), kSentUp);
}

TEST_F(TickTest, DownLevelSetInsideAWindowIsAppliedAgainByTheTick) {
    startWithPairs(pairsWith({{0, {"10:00", "20:00", 1}}}));
    tickAt(15, 0);
    core.editor.setLevel(Level::Down, 10);
    tickAt(15, 1);
    EXPECT_EQ(volume.sets.back(), 10 * 655);
    EXPECT_EQ(model.appliedVolume(), 10 * 655);
    EXPECT_EQ(model.lastSent(), kSentDown);
}

TEST_F(TickTest, UpLevelSetInsideAWindowHoldsUntilTheWindowCloses) {
    startWithPairs(pairsWith({{0, {"10:00", "20:00", 1}}}));
    tickAt(15, 0);
    core.editor.setLevel(Level::Up, 90);
    EXPECT_EQ(model.lastSent(), kSentUp);
    const std::size_t afterMove = setCount();
    tickAt(16, 0);
    EXPECT_EQ(setCount(), afterMove);
    EXPECT_EQ(heldPairs(), std::vector<int>{0});
    tickAt(20, 0);
    EXPECT_EQ(volume.sets.back(), 90 * 655);
    EXPECT_TRUE(heldPairs().empty());
}

// A level the mixer did not take, at once or later, is applied again at each tick until it is.
TEST_F(TickTest, ALevelTheMixerDidNotTakeIsAppliedAgainUntilItIs) {
    startWithPairs(pairsWith({{0, {"10:00", "20:00", 1}}}));
    volume.takes = false;
    tickAt(15, 0);
    tickAt(15, 1);
    EXPECT_EQ(volume.sets, (std::vector<std::int32_t>{kDown, kDown}));
    EXPECT_EQ(model.lastSent(), kSentDown) << "the title and colours follow the schedule";
    EXPECT_EQ(heldPairs(), std::vector<int>{0});
    volume.takes = true;
    tickAt(15, 2);
    tickAt(15, 3);
    EXPECT_EQ(volume.sets, (std::vector<std::int32_t>{kDown, kDown, kDown}));

    volume.refuseLater(kDown);
    tickAt(15, 4);
    EXPECT_EQ(volume.sets.back(), kDown);
    EXPECT_EQ(setCount(), 4u);
    volume.refuseLater(kUp);  // not the level in force: nothing to do
    tickAt(15, 5);
    EXPECT_EQ(setCount(), 4u);
}

TEST_F(TickTest, AMarkIsComparedAsItStandsAtTheTick) {
    startWithPairs(pairsWith({{0, {"10:00", "20:00", 1}}}));
    core.editor.editMark(Level::Up, 0, "1");  // half-typed: no time text is below "1"
    tickAt(15, 0);
    EXPECT_TRUE(volume.sets.empty());
    core.editor.editMark(Level::Up, 0, "16");
    tickAt(15, 1);
    EXPECT_EQ(volume.sets.back(), kDown);
}

}  // namespace
}  // namespace hushwell::testing
