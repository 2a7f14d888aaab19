#include <gtest/gtest.h>

#include <optional>

#include "support/CoreFixture.h"

namespace hushwell::testing {
namespace {

constexpr std::int32_t kDown = 20 * 655;
constexpr std::int32_t kUp = 100 * 655;

constexpr double at(int minute, double second) {
    return minute * 60 + second;
}

struct HeardEdge {
    MarkEdge edge;
    double second;  // of the hour: the moment that matched the press
};

struct Step {
    const char* time;  // "mm:ss" of the tick, which follows what was heard
    std::optional<HeardEdge> heard;
    std::optional<std::int32_t> applied;
    const char* told = nullptr;  // what the tooltip says after the tick, when given
    int millisecond = 0;         // of the tick
};

struct Hour {
    const char* name;
    bool printed;  // both marks of pair 2 (20:00 to 23:00) kept their audio
    const char* downLevel;
    std::vector<Step> steps;
};

void PrintTo(const Hour& hour, std::ostream* out) {
    *out << hour.name;
}

class StationHour : public CoreTest, public ::testing::WithParamInterface<Hour> {};

TEST_P(StationHour, SwitchesOnTheHeardAudioOrTheClock) {
    startWithPairs(pairsWith({{1, {"20:00", "23:00", 1}}}), GetParam().downLevel);
    core.following.setOn(true);
    if (GetParam().printed) {
        core.following.setPrinted({1, MarkEdge::Down}, "20:00");
        core.following.setPrinted({1, MarkEdge::Up}, "23:00");
    }
    for (const Step& step : GetParam().steps) {
        SCOPED_TRACE(step.time);
        const std::size_t before = setCount();
        if (step.heard) {
            core.following.heard({1, step.heard->edge}, step.heard->second);
        }
        clock.set(std::stoi(step.time), std::stoi(step.time + 3));
        clock.time.millisecond = step.millisecond;
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
    }
}

constexpr auto kDownEdge = MarkEdge::Down;
constexpr auto kUpEdge = MarkEdge::Up;

INSTANTIATE_TEST_SUITE_P(
    Hours, StationHour,
    ::testing::Values(
        Hour{"HeardEarly",
             true,
             "20",
             {{"19:50", {}, {}},
              {"19:54", HeardEdge{kDownEdge, at(19, 53.2)}, kDown,
               "Down at :19:53, 7 s before the mark: heard the break's start"},
              {"20:00", {}, {}, nullptr, 600},
              {"22:56", HeardEdge{kUpEdge, at(22, 55)}, kUp,
               "Up at :22:55, 5 s before the mark: heard the break's end"}}},
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
        Hour{"FallbackThenHeardLateTeachesTheNextHour",
             true,
             "20",
             {{"20:01", {}, kDown},
              {"20:08", HeardEdge{kDownEdge, at(20, 7)}, {}},
              {"23:00", {}, kUp},
              {"10:00", {}, {}},
              {"20:01", {}, {}},
              {"20:07", HeardEdge{kDownEdge, at(20, 6)}, kDown,
               "Down at :20:06, 6 s after the mark: heard the break's start"}}},
        Hour{"LearnedGraceRunsOut",
             true,
             "20",
             {{"20:01", {}, kDown},
              {"20:05", HeardEdge{kDownEdge, at(20, 4)}, {}},
              {"23:00", {}, kUp},
              {"10:00", {}, {}},
              {"20:09", {}, {}},
              {"20:10",
               {},
               kDown,
               "Down at :20:10, 10 s after the mark: the break's start was not heard"}}},
        Hour{"GraceCappedAt30Seconds",
             true,
             "20",
             {{"20:01", {}, kDown},
              {"20:51", HeardEdge{kDownEdge, at(20, 50)}, {}},
              {"23:00", {}, kUp},
              {"10:00", {}, {}},
              {"20:30", {}, {}},
              {"20:31", {}, kDown}}},
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
               "heard"}}}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

}  // namespace
}  // namespace hushwell::testing
