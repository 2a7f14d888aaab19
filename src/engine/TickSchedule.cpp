#include "engine/TickSchedule.h"

namespace hushwell {

TickSchedule::Step TickSchedule::onTimer(const TimeOfDay& now) {
    const int second = (now.hour * 60 + now.minute) * 60 + now.second;
    const bool due = m_lastSecond != second;
    m_lastSecond = second;
    return {due, untilNextSecond(now, kLateness)};
}

}  // namespace hushwell
