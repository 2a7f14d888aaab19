#pragma once

#include <QObject>
#include <QTimer>

#include "engine/Clock.h"
#include "engine/TickSchedule.h"

namespace hushwell {

// Fires tick() just after every second boundary of the clock, on a precise single-shot timer that
// the tick schedule re-arms from a fresh clock reading each time.
class SecondTicker final : public QObject {
    Q_OBJECT
public:
    explicit SecondTicker(const Clock& clock, QObject* parent = nullptr);

    void start();

signals:
    void tick();

private:
    void fire();

    const Clock& m_clock;
    TickSchedule m_schedule;
    QTimer m_timer;
};

}  // namespace hushwell
