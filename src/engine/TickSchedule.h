#pragma once

#include <chrono>
#include <optional>

#include "engine/Clock.h"

namespace hushwell {

// How long to wait from `time` until just after the next whole second, so that a single-shot timer
// re-armed from every tick fires `lateness` after each second boundary, whatever the phase was.
[[nodiscard]] std::chrono::milliseconds untilNextSecond(const TimeOfDay& time,
                                                        std::chrono::milliseconds lateness);

// When the one-second tick runs. Each time its timer fires, the schedule reads the clock once: the
// tick is due unless this second was already evaluated (a timer that fired a little early), and
// the timer is armed again for just after the next second boundary, computed from that reading,
// never by adding 1000 ms to the last arming. A late event loop, a clock change or a resume from
// sleep is so absorbed at the next second.
class TickSchedule {
public:
    static constexpr std::chrono::milliseconds kLateness{5};

    struct Step {
        bool due;                        // run the tick now
        std::chrono::milliseconds wait;  // arm the timer for this long
    };

    [[nodiscard]] Step onTimer(const TimeOfDay& now);

private:
    std::optional<int> m_lastSecond;  // second of the day last evaluated
};

}  // namespace hushwell
