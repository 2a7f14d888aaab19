#pragma once

#include <QObject>
#include <deque>
#include <functional>
#include <mutex>

namespace hushwell {

// Runs tasks handed over from any thread on the thread that owns this object (the window's),
// in the order they came, as events of its loop.
class MainThreadTasks final : public QObject {
    Q_OBJECT
public:
    void post(std::function<void()> task);

private slots:
    void runAll();

private:
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_tasks;
};

}  // namespace hushwell
