#include "ui/SecondTicker.h"

namespace hushwell {

SecondTicker::SecondTicker(const Clock& clock, QObject* parent) : QObject(parent), m_clock(clock) {
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &SecondTicker::fire);
}

void SecondTicker::start() {
    m_timer.start(untilNextSecond(m_clock.now(), TickSchedule::kLateness));
}

void SecondTicker::fire() {
    const TimeOfDay now = m_clock.now();
    const TickSchedule::Step step = m_schedule.onTimer(now);
    m_timer.start(step.wait);
    if (step.due) {
        emit tick(now);
    }
}

}  // namespace hushwell
