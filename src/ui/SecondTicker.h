#pragma once

#include <QObject>
#include <QTimer>

#include "engine/Clock.h"
#include "engine/TickSchedule.h"

namespace hushwell {

// Fires tick(now) just after every second boundary of the clock, on a precise single-shot timer
// that the tick schedule re-arms from a fresh clock reading each time. That one reading is the
// time the tick is run at: the second the schedule found due is the second the pairs are compared
// with, even when the clock has crossed into the next one meanwhile.
class SecondTicker final : public QObject {
    Q_OBJECT
public:
    explicit SecondTicker(const Clock& clock, QObject* parent = nullptr);

    void start();

signals:
    void tick(const hushwell::TimeOfDay& now);

private:
    void fire();

    const Clock& m_clock;
    TickSchedule m_schedule;
    QTimer m_timer;
};

}  // namespace hushwell
