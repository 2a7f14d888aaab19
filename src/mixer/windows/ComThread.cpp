#include "mixer/windows/ComThread.h"

// clang-format off
#include <windows.h>
#include <objbase.h>
#include <mmdeviceapi.h>
// clang-format on

#include <algorithm>
#include <utility>

namespace hushwell {
namespace {

using Clock = std::chrono::steady_clock;

// How long the last reference waits for the thread to release everything, and leave() for a
// user's end. A thread stuck in a call to the audio service is not waited for.
constexpr std::chrono::milliseconds kEndDeadline{3000};

// Told by Windows, on a thread of its own, when a default device changes. It only hands the news
// of the default console output on: it must not block, call back into the enumerator, or release
// the thread's last reference.
class DefaultOutputClient final
    : public com::Implements<DefaultOutputClient, IMMNotificationClient> {
public:
    explicit DefaultOutputClient(std::function<void(const wchar_t*)> post)
        : m_post(std::move(post)) {}

    HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole role,
                                                     LPCWSTR id) override {
        if (flow == eRender && role == eConsole) {
            m_post(id);
        }
        return S_OK;
    }
    // A device that goes while it is the default output is told by the default's change that
    // Windows sends with it; the others are no user's business.
    HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR /*id*/, DWORD /*state*/) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR /*id*/) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR /*id*/) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR /*id*/,
                                                     const PROPERTYKEY /*key*/) override {
        return S_OK;
    }

private:
    friend com::Implements<DefaultOutputClient, IMMNotificationClient>;  // deletes it
    ~DefaultOutputClient() = default;

    const std::function<void(const wchar_t*)> m_post;
};

}  // namespace

std::shared_ptr<ComThread> ComThread::shared() {
    static std::mutex mutex;
    static std::weak_ptr<ComThread> current;
    const std::lock_guard lock(mutex);
    std::shared_ptr<ComThread> thread = current.lock();
    if (!thread) {
        thread = start({});
        current = thread;
    }
    return thread;
}

std::shared_ptr<ComThread> ComThread::start(EnumeratorFactory makeEnumerator) {
    if (!makeEnumerator) {
        makeEnumerator = [](IMMDeviceEnumerator** enumerator) -> long {
            return CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_INPROC_SERVER,
                                    __uuidof(IMMDeviceEnumerator),
                                    reinterpret_cast<void**>(enumerator));
        };
    }
    const std::shared_ptr<ComThread> thread(new ComThread(std::move(makeEnumerator)));
    thread->m_worker.start(thread);
    // The references handed out share one count apart from the object's own: the last of them
    // ends the thread.
    return {
        thread.get(), [thread](ComThread* self) {
            (void)self->m_worker.stop(self->m_stuck ? std::chrono::milliseconds(0) : kEndDeadline);
        }};
}

ComThread::ComThread(EnumeratorFactory makeEnumerator)
    : m_makeEnumerator(std::move(makeEnumerator)) {}

void ComThread::join(std::shared_ptr<User> user) {
    m_worker.post([this, user = std::move(user)]() mutable {
        m_users.push_back({std::move(user), Clock::now()});
    });
}

void ComThread::leave(const std::shared_ptr<User>& user) {
    (void)m_worker.call<bool>(
        [this, user] {
            user->end();
            std::erase_if(m_users, [&](const Joined& joined) { return joined.user == user; });
            if (m_users.empty()) {
                dropEnumerator();  // nobody to tell Windows' news
            }
            return true;
        },
        m_stuck ? std::chrono::milliseconds(0) : kEndDeadline);
}

void ComThread::enter() {
    const HRESULT initialised = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    m_ready = SUCCEEDED(initialised);
    m_notReady = m_ready ? "" : com::failure("CoInitializeEx", initialised);
    m_client = com::Ref<IMMNotificationClient>(
        new DefaultOutputClient([weak = weak_from_this()](const wchar_t* id) {
            if (const std::shared_ptr<ComThread> self = weak.lock()) {
                self->news(id);
            }
        }));
}

// Every COM object goes before COM does.
void ComThread::exit() {
    for (Joined& joined : m_users) {
        joined.user->end();
    }
    m_users.clear();
    dropEnumerator();
    m_client.reset();
    if (m_ready) {
        CoUninitialize();
    }
}

// From the notification client's thread: taken once, however much came before it ran.
void ComThread::news(const wchar_t* id) {
    {
        const std::lock_guard lock(m_newsMutex);
        m_newDefault = id != nullptr ? std::optional<std::wstring>(id) : std::nullopt;
        if (std::exchange(m_newsQueued, true)) {
            return;
        }
    }
    m_worker.postFirst([this] {
        std::unique_lock lock(m_newsMutex);
        m_newsQueued = false;
        const std::optional<std::wstring> output = std::move(m_newDefault);
        lock.unlock();
        for (Joined& joined : m_users) {
            joined.user->defaultOutput(output);
        }
    });
}

std::optional<std::chrono::milliseconds> ComThread::untilIdle() {
    const Clock::time_point now = Clock::now();
    std::optional<Clock::time_point> first;
    for (Joined& joined : m_users) {
        const std::optional<std::chrono::milliseconds> every = joined.user->idleEvery();
        if (!every) {
            joined.due.reset();
            continue;
        }
        joined.due = joined.due.value_or(now + *every);
        first = std::min(first.value_or(*joined.due), *joined.due);
    }
    if (!first) {
        return std::nullopt;
    }
    return std::max(std::chrono::ceil<std::chrono::milliseconds>(*first - now),
                    std::chrono::milliseconds(0));
}

void ComThread::idle() {
    const Clock::time_point now = Clock::now();
    for (Joined& joined : m_users) {
        if (joined.due && *joined.due <= now) {
            joined.due.reset();  // counted afresh from now, once it is asked again
            joined.user->idle();
        }
    }
}

IMMDeviceEnumerator* ComThread::enumerator(std::string& why) {
    if (!m_ready) {
        why = m_notReady;
        return nullptr;
    }
    if (m_enumerator) {
        return m_enumerator.get();
    }
    HRESULT result = m_makeEnumerator(m_enumerator.out());
    if (FAILED(result) || !m_enumerator) {
        why = com::failure("creating the device enumerator", FAILED(result) ? result : E_POINTER);
        m_enumerator.reset();
        return nullptr;
    }
    result = m_enumerator->RegisterEndpointNotificationCallback(m_client.get());
    if (FAILED(result)) {
        why = com::failure("RegisterEndpointNotificationCallback", result);
        m_enumerator.reset();
        return nullptr;
    }
    return m_enumerator.get();
}

void ComThread::dropEnumerator() {
    if (m_enumerator) {
        m_enumerator->UnregisterEndpointNotificationCallback(m_client.get());
        m_enumerator.reset();
    }
}

}  // namespace hushwell
