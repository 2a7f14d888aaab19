#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mixer/LateCalls.h"
#include "mixer/WorkerThread.h"
#include "mixer/windows/ComSupport.h"

struct IMMDevice;
struct IMMDeviceEnumerator;
struct IMMNotificationClient;

namespace hushwell {

// The one thread on which the Windows providers use COM (initialised multithreaded), with the one
// device enumerator and the one device-notification client registered with it. Each user (the
// endpoint volume with its sessions, the loopback capture) hears Windows' news of the default
// output, in order with the calls queued, and has its idle step (the endpoint's rebuild, the
// capture's poll) on a clock of its own.
//
// The references start() and shared() hand out keep the thread running; when the last goes it
// ends, ending the users still joined, and uninitialises COM (a thread stuck in a call to the audio
// service is let go to end alone). A reference from shared_from_this() keeps the object only.
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
        // How long after the last idle step the next is due; none while there is nothing to do
        // (then the clock starts afresh). The first is due at once.
        virtual std::optional<std::chrono::milliseconds> idleEvery() = 0;
        virtual void idle() = 0;
        virtual void end() = 0;  // last: every COM object of the user goes
    };

    // The program's, on the system's enumerator: made by the first caller, ended after the last.
    static std::shared_ptr<ComThread> shared();
    // One of its own (`makeEnumerator` empty: the system's enumerator).
    static std::shared_ptr<ComThread> start(EnumeratorFactory makeEnumerator);

    // From any other thread. leave() waits for the user's end(), a few seconds at most.
    void join(std::shared_ptr<User> user);
    void leave(const std::shared_ptr<User>& user);
    bool post(WorkerThread::Task task) { return m_worker.post(std::move(task)); }

    // Runs `call` on the thread and returns its answer; none when the thread does not run or did
    // not answer within `limit` (an audio service that hangs): the call may still run later, so it
    // owns what it works on. While one call is stuck the next ones are not queued behind it: each
    // would wait its whole limit.
    template <typename Result>
    std::optional<Result> ask(std::function<Result()> call, std::chrono::milliseconds limit) {
        if (m_late.any()) {
            return std::nullopt;
        }
        const std::shared_ptr<LateCalls::Call> watched = LateCalls::begin();
        std::optional<Result> answer = m_worker.call<Result>(
            [this, watched, call = std::move(call)] {
                Result result = call();
                m_late.answered(*watched);
                return result;
            },
            limit);
        if (!answer) {
            m_late.missed(*watched);
        }
        return answer;
    }
    // A call did not answer in time and has not since.
    [[nodiscard]] bool stuck() const { return m_late.any(); }

    // --- on the thread

    [[nodiscard]] bool ready() const { return SUCCEEDED(m_initialised); }  // COM was initialised
    // The device `id`, or the default console output where `id` is empty (E_NOTFOUND: none),
    // through the enumerator, made at the first need; on failure `why` says what failed.
    HRESULT device(const std::wstring& id, com::Ref<IMMDevice>& device, std::string& why);
    // After a failure that may be the audio service's own: the enumerator is made afresh.
    void dropEnumerator();

private:
    struct Joined {
        std::shared_ptr<User> user;
        std::optional<std::chrono::steady_clock::time_point> due;
    };

    explicit ComThread(EnumeratorFactory make) : m_makeEnumerator(std::move(make)) {}
    void enter();
    void exit();
    void news(const wchar_t* id);
    void tellUsers(const std::optional<std::wstring>& output);
    void catchUp();
    std::optional<std::chrono::milliseconds> idle();

    const EnumeratorFactory m_makeEnumerator;
    LateCalls m_late;
    // The thread's alone.
    HRESULT m_initialised = E_FAIL;  // what CoInitializeEx answered
    // Once registered, kept until the process ends (see enter()).
    IMMNotificationClient* m_client = nullptr;
    bool m_clientRegistered = false;
    com::Ref<IMMDeviceEnumerator> m_enumerator;
    // The default output the users were last told of, or that the last registration found.
    std::optional<std::wstring> m_default;
    bool m_defaultKnown = false;
    std::vector<Joined> m_users;
    WorkerThread m_worker{{.enter = [this] { enter(); },
                           .leave = [this] { exit(); },
                           .idle = [this] { return idle(); }}};
};

}  // namespace hushwell
