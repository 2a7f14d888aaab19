#pragma once

#include <QObject>
#include <QTimer>

#include "engine/Clock.h"

namespace hushwell {

// Fires tick() just after every second boundary of the clock. Each firing re-arms a precise
// single-shot timer from a fresh clock reading, so a late event loop, a clock change or a resume
// from sleep is absorbed at the next second instead of drifting.
class SecondTicker final : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kLateness{5};

    explicit SecondTicker(const Clock& clock, QObject* parent = nullptr);

    void start();

signals:
    void tick();

private:
    void fire();
    void arm();

    const Clock& m_clock;
    QTimer m_timer;
};

}  // namespace hushwell
