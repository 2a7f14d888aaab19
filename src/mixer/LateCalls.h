#pragma once

#include <memory>
#include <mutex>

namespace hushwell {

// The calls to a worker thread that passed their caller's deadline and have not answered since
// (an audio service that hangs): while one has not, the next calls are not queued behind it, each
// of which would wait its whole limit. The caller's note of a miss and the worker's answer race:
// the answer may land after the deadline but before the note, or after the note. Each is one step
// under the lock, so in either order the answer ends the lateness.
class LateCalls {
public:
    class Call {
        friend LateCalls;
        bool m_answered = false;
        bool m_late = false;
    };

    [[nodiscard]] static std::shared_ptr<Call> begin() { return std::make_shared<Call>(); }

    // On the worker, once the call returned.
    void answered(Call& call) {
        const std::lock_guard lock(m_mutex);
        call.m_answered = true;
        if (call.m_late) {
            call.m_late = false;
            --m_late;
        }
    }
    // By the caller, once its deadline passed without the answer.
    void missed(Call& call) {
        const std::lock_guard lock(m_mutex);
        if (!call.m_answered && !call.m_late) {
            call.m_late = true;
            ++m_late;
        }
    }
    // A call missed its deadline and has not answered since.
    [[nodiscard]] bool any() const {
        const std::lock_guard lock(m_mutex);
        return m_late > 0;
    }

private:
    mutable std::mutex m_mutex;
    int m_late = 0;
};

}  // namespace hushwell
