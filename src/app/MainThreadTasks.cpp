#include "app/MainThreadTasks.h"

namespace hushwell {

void MainThreadTasks::post(std::function<void()> task) {
    {
        const std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    QMetaObject::invokeMethod(this, "runAll", Qt::QueuedConnection);
}

void MainThreadTasks::runAll() {
    std::deque<std::function<void()>> due;
    {
        const std::lock_guard lock(m_mutex);
        due.swap(m_tasks);
    }
    for (const std::function<void()>& task : due) {
        task();
    }
}

}  // namespace hushwell
