#pragma once

#include <QObject>

class QSocketNotifier;

namespace hushwell {

// Turns SIGINT, SIGTERM and SIGHUP into a Qt signal on the event loop, so that the program can
// put the volume back before it ends. (The handler only writes a byte to a socket; everything else
// runs as an ordinary event.) Does nothing on platforms without these signals.
class QuitSignals final : public QObject {
    Q_OBJECT
public:
    explicit QuitSignals(QObject* parent = nullptr);

signals:
    void received(int number);

private:
    void readSignal();
    QSocketNotifier* m_notifier = nullptr;
};

}  // namespace hushwell
