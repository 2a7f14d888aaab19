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
    const TickSchedule::Step step = m_schedule.onTimer(m_clock.now());
    m_timer.start(step.wait);
    if (step.due) {
        emit tick();
    }
}

}  // namespace hushwell
