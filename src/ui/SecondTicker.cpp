#include "ui/SecondTicker.h"

namespace hushwell {

SecondTicker::SecondTicker(const Clock& clock, QObject* parent) : QObject(parent), m_clock(clock) {
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &SecondTicker::fire);
}

void SecondTicker::start() {
    arm();
}

void SecondTicker::fire() {
    arm();
    emit tick();
}

void SecondTicker::arm() {
    m_timer.start(untilNextSecond(m_clock.now(), kLateness));
}

}  // namespace hushwell
