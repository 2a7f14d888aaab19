#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "mixer/WorkerThread.h"
#include "mixer/windows/ComSupport.h"

struct IMMDeviceEnumerator;
struct IMMNotificationClient;

namespace hushwell {

// The one thread on which the Windows providers use COM, initialised multithreaded, with the one
// device enumerator and the one device-notification client registered with it. Its users (the
// endpoint volume with its sessions, the loopback capture) each hear Windows' news of the default
// output, ahead of the calls queued, and each has its idle step (the endpoint's rebuild, the
// capture's poll) on a clock of its own.
//
// The references start() and shared() hand out keep the thread running; when the last goes it
// ends, ending the users still joined, and uninitialises COM. A thread stuck in a call to the audio
// service is let go to end alone. A reference taken with shared_from_this() (a user's, for the
// news it posts) keeps the object, not the thread.
class ComThread : public std::enable_shared_from_this<ComThread> {
public:
    // Makes the device enumerator, on the thread with COM initialised; returns an HRESULT.
    using EnumeratorFactory = std::function<long(IMMDeviceEnumerator** enumerator)>;

    // What the thread asks of a user, always on the thread.
    class User {
    public:
        virtual ~User() = default;
        // The default console output is now `id` (none: there is none).
        virtual void defaultOutput(const std::optional<std::wstring>& id) = 0;
        // How long after the last idle step the next is due; none while it has nothing to do
        // (the clock starts again when it has). The first is due at once.
        virtual std::optional<std::chrono::milliseconds> idleEvery() = 0;
        virtual void idle() = 0;
        // Last: every COM object of the user goes.
        virtual void end() = 0;
    };

    // The program's, on the system's enumerator: made by the first caller, ended after the last.
    static std::shared_ptr<ComThread> shared();
    // One of its own (`makeEnumerator` empty: the system's enumerator).
    static std::shared_ptr<ComThread> start(EnumeratorFactory makeEnumerator);

    // From any thread but this one. leave() waits for the user's end(), a while at most.
    void join(std::shared_ptr<User> user);
    void leave(const std::shared_ptr<User>& user);
    bool postFirst(WorkerThread::Task task) { return m_worker.postFirst(std::move(task)); }

    // Runs `call` on the thread and returns its answer; none when the thread does not run or did
    // not answer within `limit` (an audio service that hangs): the call may still run later, so it
    // owns what it works on. While one call is stuck the next ones are not queued behind it: each
    // would wait its whole limit.
    template <typename Result>
    std::optional<Result> ask(std::function<Result()> call, std::chrono::milliseconds limit) {
        if (m_stuck) {
            return std::nullopt;
        }
        auto answered = std::make_shared<std::atomic<bool>>(false);
        std::optional<Result> answer = m_worker.call<Result>(
            [this, answered, call = std::move(call)] {
                Result result = call();
                answered->store(true);
                m_stuck = false;
                return result;
            },
            limit);
        if (!answer) {
            m_stuck = !answered->load();
        }
        return answer;
    }
    // A call did not answer in time and has not since.
    [[nodiscard]] bool stuck() const { return m_stuck; }

    // --- on the thread

    // Whether COM was initialised here.
    [[nodiscard]] bool ready() const { return m_ready; }
    // The enumerator, with the client registered, made at the first need after none or a drop;
    // nullptr, with `why` telling what failed, when it cannot be had.
    IMMDeviceEnumerator* enumerator(std::string& why);
    // After a failure that may be the audio service's own: made afresh at the next need.
    void dropEnumerator();

private:
    struct Joined {
        std::shared_ptr<User> user;
        std::optional<std::chrono::steady_clock::time_point> due;
    };

    explicit ComThread(EnumeratorFactory makeEnumerator);
    void enter();
    void exit();
    void news(const wchar_t* id);
    std::optional<std::chrono::milliseconds> untilIdle();
    void idle();

    const EnumeratorFactory m_makeEnumerator;
    std::atomic<bool> m_stuck{false};
    std::mutex m_newsMutex;
    std::optional<std::wstring> m_newDefault;  // the latest news only
    bool m_newsQueued = false;                 // its task is queued and has not begun
    // The thread's alone.
    bool m_ready = false;
    std::string m_notReady;  // why COM was not initialised
    com::Ref<IMMNotificationClient> m_client;
    com::Ref<IMMDeviceEnumerator> m_enumerator;
    std::vector<Joined> m_users;
    WorkerThread m_worker{{.enter = [this] { enter(); },
                           .leave = [this] { exit(); },
                           .idleLimit = [this] { return untilIdle(); },
                           .idle = [this] { idle(); }}};
};

}  // namespace hushwell
