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
// user's end; a thread stuck in a call to the audio service is not waited for.
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
    // A default output that goes is told by the default's change that Windows sends with it.
    HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR, DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, PROPERTYKEY) override { return S_OK; }

private:
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
            (void)self->m_worker.stop(self->stuck() ? std::chrono::milliseconds(0) : kEndDeadline);
        }};
}

void ComThread::join(std::shared_ptr<User> user) {
    m_worker.post([this, user] { m_users.push_back({user, Clock::now()}); });
}

void ComThread::leave(const std::shared_ptr<User>& user) {
    (void)m_worker.call<bool>(
        [this, user] {
            user->end();
            std::erase_if(m_users, [&](const Joined& joined) { return joined.user == user; });
            if (m_users.empty()) {
                dropEnumerator();  // nobody to tell Windows' news
                m_defaultKnown = false;
            }
            return true;
        },
        stuck() ? std::chrono::milliseconds(0) : kEndDeadline);
}

// Windows does not count the client's references, and Microsoft does not say that
// UnregisterEndpointNotificationCallback waits for a callback in flight on Windows' own thread: a
// client once registered is never deleted, and reaches the thread only through a weak reference.
void ComThread::enter() {
    m_initialised = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    m_client = new DefaultOutputClient([weak = weak_from_this()](const wchar_t* id) {
        if (const std::shared_ptr<ComThread> self = weak.lock()) {
            self->news(id);
        }
    });
}

// From the notification client's thread, in order with the calls: one made after it reaches the
// new output.
void ComThread::news(const wchar_t* id) {
    post([this, output = id != nullptr ? std::optional<std::wstring>(id) : std::nullopt] {
        tellUsers(output);
    });
}

void ComThread::tellUsers(const std::optional<std::wstring>& output) {
    m_default = output;
    m_defaultKnown = true;
    for (Joined& joined : m_users) {
        joined.user->defaultOutput(output);
    }
}

// While no client was registered (the enumerator dropped after a failure) Windows told nobody of
// a switch: the users hear of it once a new registration finds another default output. Told
// after the call under way, which follows the output it finds itself.
void ComThread::catchUp() {
    com::Ref<IMMDevice> device;
    HRESULT result = m_enumerator->GetDefaultAudioEndpoint(eRender, eConsole, device.out());
    std::optional<std::wstring> output;
    if (SUCCEEDED(result)) {
        LPWSTR id = nullptr;
        result = device->GetId(&id);
        if (SUCCEEDED(result)) {
            output = id != nullptr ? id : L"";
        }
        CoTaskMemFree(id);
    }
    if (FAILED(result) && result != E_NOTFOUND) {
        return;  // not known: the call under way meets the failure itself
    }
    if (m_defaultKnown && output != m_default) {
        post([this, output] { tellUsers(output); });
    }
    m_default = output;
    m_defaultKnown = true;
}

// Every COM object goes before COM does (the client stays: see enter()).
void ComThread::exit() {
    for (Joined& joined : m_users) {
        joined.user->end();
    }
    m_users.clear();
    dropEnumerator();
    if (!m_clientRegistered) {
        m_client->Release();
    }
    m_client = nullptr;
    if (ready()) {
        CoUninitialize();
    }
}

// Runs each user's idle step that is due; returns how long until the next one is.
std::optional<std::chrono::milliseconds> ComThread::idle() {
    std::optional<Clock::time_point> next;
    for (Joined& joined : m_users) {
        if (joined.due && *joined.due <= Clock::now()) {
            joined.user->idle();
            joined.due.reset();  // counted afresh from now
        }
        const std::optional<std::chrono::milliseconds> every = joined.user->idleEvery();
        joined.due =
            every ? std::optional(joined.due.value_or(Clock::now() + *every)) : std::nullopt;
        if (joined.due) {
            next = std::min(next.value_or(*joined.due), *joined.due);
        }
    }
    if (!next) {
        return std::nullopt;
    }
    return std::max(std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now()),
                    std::chrono::milliseconds(0));
}

HRESULT ComThread::device(const std::wstring& id, com::Ref<IMMDevice>& device, std::string& why) {
    const char* call = "CoInitializeEx";
    HRESULT result = m_initialised;
    if (ready() && !m_enumerator) {
        call = "creating the device enumerator";
        result = m_makeEnumerator(m_enumerator.out());
        result = FAILED(result) || m_enumerator ? result : E_POINTER;
        if (SUCCEEDED(result)) {
            call = "RegisterEndpointNotificationCallback";
            result = m_enumerator->RegisterEndpointNotificationCallback(m_client);
        }
        if (SUCCEEDED(result)) {
            m_clientRegistered = true;
            catchUp();
        } else {
            m_enumerator.reset();
        }
    }
    if (m_enumerator) {
        call = id.empty() ? "GetDefaultAudioEndpoint" : "GetDevice";
        result = id.empty() ? m_enumerator->GetDefaultAudioEndpoint(eRender, eConsole, device.out())
                            : m_enumerator->GetDevice(id.c_str(), device.out());
    }
    if (FAILED(result)) {
        why = com::failure(call, result);
    }
    return result;
}

void ComThread::dropEnumerator() {
    if (m_enumerator) {
        m_enumerator->UnregisterEndpointNotificationCallback(m_client);
        m_enumerator.reset();
    }
}

}  // namespace hushwell
