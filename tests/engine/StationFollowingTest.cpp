#include <gtest/gtest.h>

#include <optional>

#include "listen/PrintFile.h"
#include "support/CoreFixture.h"

namespace hushwell::testing {
namespace {

constexpr std::int32_t kDown = 20 * 655;
constexpr std::int32_t kUp = 100 * 655;

constexpr double at(int minute, double second) {
    return minute * 60 + second;
}

struct HeardEdge {
    std::optional<Level> edge;  // none: the one jingle of every print, heard by all listened for
    double second;              // of the hour: the moment that matched the press
};

struct Step {
    const char* time;  // "mm:ss" of the tick, which follows what was heard
    std::optional<HeardEdge> heard;
    std::optional<std::int32_t> applied;
    const char* told = nullptr;                  // what the tooltip says after the tick, when given
    int millisecond = 0;                         // of the tick
    const char* outlook = nullptr;               // the tooltip's outlook after the tick, when given
    std::optional<double> waits = std::nullopt;  // s untilHeard() tells after the tick, if given
};

struct Hour {
    const char* name;
    bool printed;  // every mark of the pairs kept its audio
    const char* downLevel;
    std::vector<Step> steps;
    std::vector<std::pair<int, PairSpec>> pairs = {{1, {"20:00", "23:00", 1}}};
    bool beforeVolume = false;  // what is heard is the sound before the output's volume
};

void PrintTo(const Hour& hour, std::ostream* out) {
    *out << hour.name;
}

class StationHour : public CoreTest, public ::testing::WithParamInterface<Hour> {};

TEST_P(StationHour, SwitchesOnTheHeardAudioOrTheClock) {
    auto pairs = pairsWith({});
    for (const auto& [index, marks] : GetParam().pairs) {
        pairs[index] = marks;
    }
    startWithPairs(pairs, GetParam().downLevel);
    core.following.setOn(true);
    core.following.setHeardBeforeTheVolume(GetParam().beforeVolume);
    for (const auto& [index, marks] : GetParam().pairs) {
        if (GetParam().printed) {
            core.following.setPrinted({index, Level::Down}, marks.down);
            core.following.setPrinted({index, Level::Up}, marks.up);
        }
    }
    for (const Step& step : GetParam().steps) {
        SCOPED_TRACE(step.time);
        const std::size_t before = setCount();
        if (step.heard && step.heard->edge) {
            (void)core.following.heard({1, *step.heard->edge}, step.heard->second);
        } else if (step.heard) {
            const auto second = static_cast<int>(step.heard->second);
            const TimeOfDay heardAt{14, second / 60, second % 60, 0};
            (void)core.following.heard(core.following.listenedFor(heardAt), step.heard->second);
        }
        clock.set(std::stoi(step.time), std::stoi(step.time + 3));
        clock.time.millisecond = step.millisecond;
        (void)core.following.listenedFor(clock.time);  // as the listening asks each second
        (void)core.tick.runAndTellTime(clock.time);
        if (step.applied) {
            ASSERT_EQ(setCount(), before + 1);
            EXPECT_EQ(volume.sets.back(), *step.applied);
        } else {
            EXPECT_EQ(setCount(), before);
        }
        if (step.told != nullptr) {
            EXPECT_EQ(core.following.lastSwitch(), step.told);
        }
        if (step.waits) {
            const std::optional<double> waits = core.following.untilHeard(clock.time);
            ASSERT_TRUE(waits.has_value());
            EXPECT_NEAR(*waits, *step.waits, 1e-6);
        }
        if (step.outlook != nullptr) {
            EXPECT_EQ(core.following.outlook(step.time, model.lastSent() == Level::Down),
                      step.outlook);
        }
    }
}

constexpr auto kDownEdge = Level::Down;
constexpr auto kUpEdge = Level::Up;
constexpr std::optional<Level> kJingle;

INSTANTIATE_TEST_SUITE_P(
    Hours, StationHour,
    ::testing::Values(
        Hour{"HeardEarly",
             true,
             "20",
             {{"19:50", {}, {}},
              {"19:54", HeardEdge{kDownEdge, at(19, 53.2)}, kDown,
               "Down at :19:53, heard 7 s early", 0, "Down until :23:00, 3:06 left"},
              {"20:00", {}, {}, nullptr, 600},
              {"22:56", HeardEdge{kUpEdge, at(22, 55)}, kUp, "Up at :22:55, heard 5 s early", 0,
               "Up - next break at :20:00, in 57:04"}}},
        Hour{"ToldBeforeItsMomentWaitsForIt",
             true,
             "20",
             {{"19:50", {}, {}},
              {"19:53", HeardEdge{kDownEdge, at(19, 53.4)}, {}, nullptr, 100, nullptr, 0.3},
              {"19:53", {}, kDown, "Down at :19:53, heard 7 s early", 400}}},
        Hour{"NotHeardFallsBackToTheClock",
             true,
             "20",
             {{"20:00", {}, {}},
              {"20:01",
               {},
               kDown,
               "Down at :20:01, 1 s after the mark: the break's start was not heard"},
              {"22:59", {}, {}},
              {"23:00", {}, kUp, "Up at :23:00, at the mark: the break's end was not heard"}}},
        Hour{
            "FallbackThenHeardLateTeachesTheNextHour",
            true,
            "20",
            {{"20:01", {}, kDown},
             {"20:08", HeardEdge{kDownEdge, at(20, 7)}, {}},
             {"23:00", {}, {}},
             {"23:12", {}, kUp, "Up at :23:12, 12 s after the mark: the break's end was not heard"},
             {"10:00", {}, {}},
             {"20:01", {}, {}},
             {"20:07", HeardEdge{kDownEdge, at(20, 6)}, kDown, "Down at :20:06, heard 6 s late"}}},
        Hour{"LearnedGraceRunsOut",
             true,
             "20",
             {{"20:01", {}, kDown},
              {"20:05", HeardEdge{kDownEdge, at(20, 4)}, {}},
              {"23:08", {}, {}},
              {"23:09", {}, kUp},
              {"10:00", {}, {}},
              {"20:00", {}, {}},
              {"20:09", {}, {}},
              {"20:10",
               {},
               kDown,
               "Down at :20:10, 10 s after the mark: the break's start was not heard"}}},
        // Heard more than kLearnLate after the clock switched, with no delay known: a jingle
        // played again in the break, not the stream's delay.
        Hour{"ARepeatLateInTheBreakIsNoDelay",
             true,
             "20",
             {{"20:00", {}, {}},
              {"20:01", {}, kDown},
              {"20:16", HeardEdge{kDownEdge, at(20, 15)}, {}},
              {"22:59", {}, {}},
              {"23:00", {}, kUp, "Up at :23:00, at the mark: the break's end was not heard"},
              {"10:00", {}, {}},
              {"20:01", {}, kDown}}},
        // The jingle that opened the break, played again between its adverts: no Up.
        Hour{"TheOpeningJinglePlayedAgainInTheBreakIsNoUp",
             true,
             "20",
             {{"20:01", HeardEdge{kJingle, at(20, 0.4)}, kDown, "Down at :20:00, heard on time"},
              {"20:17", HeardEdge{kJingle, at(20, 16.4)}, {}},
              {"22:01", HeardEdge{kJingle, at(22, 0.4)}, {}},
              {"23:01", HeardEdge{kJingle, at(23, 0.4)}, kUp, "Up at :23:00, heard on time"}}},
        // Nor is another break's jingle a Down long before its mark, where the Up of the break
        // before cannot be heard (Down level 5 %) or was heard late.
        Hour{"AnotherBreaksJingleIsNoEarlyDown",
             true,
             "5",
             {{"20:01", HeardEdge{kJingle, at(20, 0.2)}, 5 * 655},
              {"21:00", {}, kUp},
              {"21:01", HeardEdge{kJingle, at(21, 0.2)}, {}},
              {"22:00", {}, {}},
              {"22:33", HeardEdge{kJingle, at(22, 32.2)}, 5 * 655}},
             {{1, {"20:00", "21:00", 1}}, {2, {"22:32", "23:30", 1}}}},
        Hour{"AnotherBreaksLateJingleIsNoEarlyDown",
             true,
             "20",
             {{"20:01", HeardEdge{kJingle, at(20, 0.2)}, kDown},
              {"21:09", HeardEdge{kJingle, at(21, 8.2)}, kUp, "Up at :21:08, heard 8 s late"},
              {"21:51", HeardEdge{kJingle, at(21, 50.2)}, {}},
              {"22:00", {}, {}},
              {"22:41", HeardEdge{kJingle, at(22, 40.2)}, kDown}},
             {{1, {"20:00", "21:00", 1}}, {2, {"22:32", "23:30", 1}}}},
        // Started during the break: the clock's Down, no news of a start not heard.
        Hour{"StartedInTheBreak",
             true,
             "20",
             {{"20:40", {}, kDown, ""},
              {"22:59", {}, {}},
              {"23:00", {}, kUp, "Up at :23:00, at the mark: the break's end was not heard"}}},
        Hour{"MarkWithoutPrintKeepsTheClock",
             false,
             "20",
             {{"19:54", HeardEdge{kDownEdge, at(19, 53)}, {}},
              {"20:01", {}, kDown, ""},
              {"22:56", HeardEdge{kUpEdge, at(22, 55)}, {}},
              {"23:00", {}, kUp, ""}}},
        Hour{"DownLevelZeroCannotHearTheEnd",
             true,
             "0",
             {{"19:54", HeardEdge{kDownEdge, at(19, 53)}, 0},
              {"22:56", HeardEdge{kUpEdge, at(22, 55)}, {}},
              {"23:00",
               {},
               kUp,
               "Up at :23:00, the mark's time: at a Down level of 0 the end of a break cannot be "
               "heard"}}},
        // 9 % is a gain of 60 log10(0.09) = -62.7 dB on a cubic scale, 10 % is -60 dB.
        Hour{"DownLevelNineCannotHearTheEnd",
             true,
             "9",
             {{"19:54", HeardEdge{kDownEdge, at(19, 53)}, 9 * 655},
              {"22:56", HeardEdge{kUpEdge, at(22, 55)}, {}},
              {"23:00",
               {},
               kUp,
               "Up at :23:00, the mark's time: at a Down level of 9 the end of a break cannot be "
               "heard"}}},
        Hour{"DownLevelZeroHeardBeforeTheOutputsVolume",
             true,
             "0",
             {{"19:54", HeardEdge{kDownEdge, at(19, 53)}, 0},
              {"22:56", HeardEdge{kUpEdge, at(22, 55)}, kUp, "Up at :22:55, heard 5 s early"}},
             {{1, {"20:00", "23:00", 1}}},
             true},
        Hour{"DownLevelTenHearsTheEnd",
             true,
             "10",
             {{"19:54", HeardEdge{kDownEdge, at(19, 53)}, 10 * 655},
              {"22:56", HeardEdge{kUpEdge, at(22, 55)}, kUp}}},
        // One jingle opens and closes each break: every print listened for hears it.
        Hour{"OneJingleAtBothEndsOfAShortBreak",
             true,
             "20",
             {{"19:59", {}, {}, nullptr, 0, "Up - next break at :20:00, listening"},
              {"20:01", HeardEdge{kJingle, at(20, 0.4)}, kDown, "Down at :20:00, heard on time", 0,
               "Down until :21:00, 0:59 left"},
              {"20:30", {}, {}, nullptr, 0, "Down until :21:00, listening"},
              {"20:59", {}, {}},
              {"21:01", HeardEdge{kJingle, at(21, 0.4)}, kUp, "Up at :21:00, heard on time"}},
             {{1, {"20:00", "21:00", 1}}}},
        Hour{"OneJingleAtBothEndsOfAShortBreakHeardLate",
             true,
             "20",
             {{"20:01", {}, kDown},
              {"20:08", HeardEdge{kJingle, at(20, 7)}, {}},
              {"21:00", {}, {}},
              {"21:08", HeardEdge{kJingle, at(21, 7.2)}, kUp, "Up at :21:07, heard 7 s late"}},
             {{1, {"20:00", "21:00", 1}}}},
        Hour{"OneJingleAtBothEndsOfALongBreakHeardLate",
             true,
             "20",
             {{"20:01", {}, kDown},
              {"20:08", HeardEdge{kJingle, at(20, 7)}, {}},
              {"22:59", {}, {}},
              {"23:08", HeardEdge{kJingle, at(23, 7)}, kUp, "Up at :23:07, heard 7 s late"}}},
        Hour{"TwoPairsOnOneJingle",
             true,
             "20",
             {{"20:01", HeardEdge{kJingle, at(20, 0.2)}, kDown},
              {"21:01", HeardEdge{kJingle, at(21, 0.2)}, kUp, "Up at :21:00, heard on time"},
              {"22:00", {}, {}},
              {"22:33", HeardEdge{kJingle, at(22, 32.2)}, kDown},
              {"23:31", HeardEdge{kJingle, at(23, 30.2)}, kUp}},
             {{1, {"20:00", "21:00", 1}}, {2, {"22:32", "23:30", 1}}}},
        // The Down heard 7 s late, the same break's Up and the next hour's Down wait for it.
        Hour{"OneDelayForTheStream",
             true,
             "20",
             {{"20:01", {}, kDown},
              {"20:08", HeardEdge{kDownEdge, at(20, 7)}, {}},
              {"23:00", {}, {}, nullptr, 0, "Down until :23:00, listening"},
              {"23:08", HeardEdge{kUpEdge, at(23, 7.9)}, kUp, "Up at :23:07, heard 8 s late"},
              {"10:00", {}, {}},
              {"20:13", {}, {}, nullptr, 0, "Up - next break at :20:00, listening"},
              {"20:14", {}, kDown}}}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

}  // namespace
}  // namespace hushwell::testing
