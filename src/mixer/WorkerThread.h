#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace hushwell {

// One thread that runs tasks in the order they came, for a provider or owner whose every call must
// happen on a thread of its own (COM's apartment, a sound server's connection). What it works on is
// kept alive by the thread, so an owner may go while a stuck call still runs.
class WorkerThread {
public:
    using Task = std::function<void()>;
    struct Hooks {
        // First and last on the thread (COM is initialised and uninitialised per thread).
        std::function<void()> enter = {};
        std::function<void()> leave = {};
        // Work that is not a task: asked when no task is queued, after a task and after wake();
        // returns whether it did something (then it is asked again before the thread waits). The
        // thread ends only when it did nothing, so a "latest value only" still goes out at the end.
        std::function<bool()> pending = {};
        // Work on a clock of its own (COM's users' idle steps): asked before each wait, it does
        // what is due and returns how long the thread may wait before it asks again (none: until
        // a task or wake()).
        std::function<std::optional<std::chrono::milliseconds>()> idle = {};
    };

    WorkerThread() = default;
    explicit WorkerThread(Hooks hooks) : m_hooks(std::move(hooks)) {}
    ~WorkerThread() {
        if (m_thread.joinable()) {
            if (m_thread.get_id() == std::this_thread::get_id()) {
                m_thread.detach();
            } else {
                (void)stop(std::chrono::milliseconds::max());
            }
        }
    }
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // `keepAlive` (what the tasks and hooks work on) lives until the thread ended. Once only, and
    // never after stop().
    void start(std::shared_ptr<void> keepAlive) {
        const std::lock_guard lock(m_mutex);
        if (m_started || m_stopping) {
            return;
        }
        m_started = true;
        m_thread = std::thread([this, keep = std::move(keepAlive)]() mutable {
            run();
            keep.reset();  // may end this object: nothing of it is touched after
        });
    }
    // Started, and neither joined nor let go by stop(). For the thread that starts and stops it.
    [[nodiscard]] bool attached() const { return m_thread.joinable(); }

    // false, the task dropped, before the thread started or once it ended.
    bool post(Task task) {
        {
            const std::lock_guard lock(m_mutex);
            if (!m_started || m_ended) {
                return false;
            }
            m_tasks.push_back(std::move(task));
        }
        m_wake.notify_all();
        return true;
    }
    // The `pending` hook may have something to do.
    void wake() {
        {
            const std::lock_guard lock(m_mutex);
            m_woken = true;
        }
        m_wake.notify_all();
    }

    // Runs `call` on the thread and waits for its answer, no longer than `limit` when given; none
    // when it was not queued or did not answer in time.
    template <typename Result>
    std::optional<Result> call(std::function<Result()> call,
                               std::optional<std::chrono::milliseconds> limit = std::nullopt) {
        auto promise = std::make_shared<std::promise<Result>>();
        std::future<Result> answer = promise->get_future();
        if (!post([promise, call = std::move(call)] { promise->set_value(call()); })) {
            return std::nullopt;
        }
        if (limit && answer.wait_for(*limit) != std::future_status::ready) {
            return std::nullopt;
        }
        return answer.get();
    }

    // The thread runs what is queued and pending, then ends. true when it ended within `limit`
    // (or never started); else it is let go and ends alone, keeping what it works on.
    bool stop(std::chrono::milliseconds limit) {
        std::unique_lock lock(m_mutex);
        m_stopping = true;
        m_wake.notify_all();
        if (!m_thread.joinable()) {
            return true;
        }
        const bool ended = limit == std::chrono::milliseconds::max()
                               ? (m_wake.wait(lock, [this] { return m_ended; }), true)
                               : m_wake.wait_for(lock, limit, [this] { return m_ended; });
        lock.unlock();
        if (ended) {
            m_thread.join();
        } else {
            m_thread.detach();
        }
        return ended;
    }

private:
    void run() {
        if (m_hooks.enter) {
            m_hooks.enter();
        }
        std::unique_lock lock(m_mutex);
        for (;;) {
            lock.unlock();
            const std::optional<std::chrono::milliseconds> limit =
                m_hooks.idle ? m_hooks.idle() : std::nullopt;
            lock.lock();
            const auto due = [this] { return !m_tasks.empty() || m_woken || m_stopping; };
            if (!limit) {
                m_wake.wait(lock, due);
            } else if (!m_wake.wait_for(lock, *limit, due)) {
                continue;  // the clock's time came
            }
            m_woken = false;
            if (!m_tasks.empty()) {
                const Task task = std::move(m_tasks.front());
                m_tasks.pop_front();
                lock.unlock();
                task();
                lock.lock();
                m_woken = true;  // a task may have left work for `pending`
                continue;
            }
            lock.unlock();
            const bool worked = m_hooks.pending && m_hooks.pending();
            lock.lock();
            if (worked) {
                m_woken = true;
            } else if (m_stopping && m_tasks.empty() && !m_woken) {
                break;
            }
        }
        lock.unlock();
        if (m_hooks.leave) {
            m_hooks.leave();
        }
        lock.lock();
        m_ended = true;
        m_wake.notify_all();
    }

    const Hooks m_hooks{};
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Task> m_tasks;
    bool m_started = false;
    bool m_stopping = false;
    bool m_woken = false;
    bool m_ended = false;
    std::thread m_thread;
};

}  // namespace hushwell
