#include "engine/TickSchedule.h"

#include <gtest/gtest.h>

#include "support/CoreFixture.h"

namespace hushwell::testing {
namespace {

using std::chrono::milliseconds;

TEST(TickSchedule, ArmsFromEachReadingAndSkipsASecondSeenTwice) {
    const struct {
        TimeOfDay now;
        bool due;
        int wait;
    } firings[] = {
        {{14, 20, 0, 5}, true, 1000},  // on time
        {{14, 20, 1, 7}, true, 998},   // a little late: the next arming makes it good
        {{14, 20, 1, 998}, false, 7},  // early for 20:02: 20:01 was already evaluated
        {{14, 20, 2, 5}, true, 1000},
        {{14, 20, 4, 300}, true, 705},  // a stalled loop: it evaluates the time it reads
        {{14, 20, 4, 999}, false, 6},
        {{13, 20, 5, 5}, true, 1000},  // the clock was set back an hour
    };
    TickSchedule schedule;
    for (const auto& f : firings) {
        const TickSchedule::Step step = schedule.onTimer(f.now);
        EXPECT_EQ(step.due, f.due) << f.now.second << "." << f.now.millisecond;
        EXPECT_EQ(step.wait, milliseconds(f.wait)) << f.now.second << "." << f.now.millisecond;
    }
}

class AlignedTicks : public CoreTest {};

// Ticks that arrive at their seconds switch a one-second window at its own seconds.
TEST_F(AlignedTicks, AOneSecondWindowSwitchesOnItsSeconds) {
    startWithPairs(pairsWith({{0, {"20:00", "20:02", 1}}}));
    TickSchedule schedule;
    const struct {
        int second;
        std::optional<std::int32_t> applied;
    } seconds[] = {{59, {}}, {0, {}}, {1, 20 * 655}, {2, 100 * 655}, {3, {}}};
    for (const auto& s : seconds) {
        clock.time = {14, s.second == 59 ? 19 : 20, s.second, 5};
        const std::size_t before = setCount();
        if (schedule.onTimer(clock.time).due) {
            (void)core.tick.runAndTellTime(clock.time);
        }
        if (s.applied) {
            ASSERT_EQ(setCount(), before + 1) << s.second;
            EXPECT_EQ(volume.sets.back(), *s.applied);
        } else {
            EXPECT_EQ(setCount(), before) << s.second;
        }
    }
}

}  // namespace
}  // namespace hushwell::testing
