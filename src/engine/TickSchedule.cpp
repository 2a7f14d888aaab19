#include "engine/TickSchedule.h"

namespace hushwell {

std::chrono::milliseconds untilNextSecond(const TimeOfDay& time,
                                          std::chrono::milliseconds lateness) {
    return std::chrono::milliseconds(1000 - time.millisecond) + lateness;
}

TickSchedule::Step TickSchedule::onTimer(const TimeOfDay& now) {
    const int second = (now.hour * 60 + now.minute) * 60 + now.second;
    const bool due = m_lastSecond != second;
    m_lastSecond = second;
    return {due, untilNextSecond(now, kLateness)};
}

}  // namespace hushwell
