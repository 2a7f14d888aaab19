#pragma once

// Stand-ins for Windows' audio device enumerator, its devices, their endpoint volumes and their
// audio sessions, for tests of the endpoint-volume provider. They count their references, answer
// with the HRESULTs a test scripts, and note each call with the thread and COM apartment it came
// from.

// clang-format off
#include <windows.h>
#include <objbase.h>
#include <mmdeviceapi.h>
#include <endpointvolume.h>
#include <audioclient.h>
#include <audiopolicy.h>
// clang-format on

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace hushwell::testing {

// What every fake shares: the calls made, where from, and the switches a test turns.
struct FakeAudioSystem {
    struct Call {
        std::string what;
        DWORD thread;
        APTTYPE apartment;
    };

    void note(const std::string& what) {
        APTTYPE type{};
        APTTYPEQUALIFIER qualifier{};
        if (FAILED(CoGetApartmentType(&type, &qualifier))) {
            type = APTTYPE_CURRENT;  // COM not initialised on this thread
        }
        const std::lock_guard lock(mutex);
        calls.push_back({what, GetCurrentThreadId(), type});
    }
    std::vector<std::string> callNames() {
        const std::lock_guard lock(mutex);
        std::vector<std::string> names;
        for (const Call& call : calls) {
            names.push_back(call.what);
        }
        return names;
    }
    std::vector<Call> allCalls() {
        const std::lock_guard lock(mutex);
        return calls;
    }
    void forgetCalls() {
        const std::lock_guard lock(mutex);
        calls.clear();
    }

    std::mutex mutex;
    std::vector<Call> calls;
    // While false, every call of the enumerator, a device or a volume fails as with the audio
    // service stopped.
    std::atomic<bool> serviceRunning{true};
    // Unregistrations that gave up waiting for a callback in flight: on Windows, a deadlock.
    std::atomic<int> stuckUnregistrations{0};
};

// How long an unregistration waits for a callback in flight before it counts as a deadlock.
inline constexpr DWORD kCallbackPatienceMs = 5000;

// IUnknown for every fake: it counts references and answers QueryInterface for IUnknown (the
// first interface's) and each of `Interfaces`. A fake the test owns is never deleted by it; one
// made with `new` and `comOwned`, as Windows makes sessions and their lists, is deleted at its
// last Release.
template <typename... Interfaces>
class FakeUnknown : public Interfaces... {
public:
    explicit FakeUnknown(FakeAudioSystem& system, bool comOwned = false)
        : m_system(system), m_comOwned(comOwned) {}
    virtual ~FakeUnknown() = default;
    FakeUnknown(const FakeUnknown&) = delete;
    FakeUnknown& operator=(const FakeUnknown&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        using First = std::tuple_element_t<0, std::tuple<Interfaces...>>;
        *object = iid == __uuidof(IUnknown) ? static_cast<First*>(this) : nullptr;
        ((*object = iid == __uuidof(Interfaces) ? static_cast<Interfaces*>(this) : *object), ...);
        if (*object == nullptr) {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_references); }
    ULONG STDMETHODCALLTYPE Release() override {
        const long left = --m_references;
        if (left == 0 && m_comOwned) {
            delete this;
        }
        return static_cast<ULONG>(left);
    }

    // References held beyond the test's own.
    [[nodiscard]] long heldByOthers() const { return m_references - 1; }

protected:
    FakeAudioSystem& m_system;
    HRESULT serviceResult() const {
        return m_system.serviceRunning ? S_OK : AUDCLNT_E_SERVICE_NOT_RUNNING;
    }
    // What Hushwell never asks for: noted as unexpected.
    HRESULT unexpected(const char* name) {
        m_system.note(std::string("unexpected ") + name);
        return E_NOTIMPL;
    }

private:
    const bool m_comOwned;
    std::atomic<long> m_references{1};
};

class FakeEndpointVolume final : public FakeUnknown<IAudioEndpointVolume> {
public:
    using FakeUnknown::FakeUnknown;

    std::atomic<float> level{0.5f};
    std::atomic<HRESULT> setResult{S_OK};  // what SetMasterVolumeLevelScalar answers
    std::mutex mutex;
    std::condition_variable released;
    bool hanging = false;
    std::vector<float> levelsSet;
    std::vector<GUID> contexts;

    std::vector<float> taken() {
        const std::lock_guard lock(mutex);
        return levelsSet;
    }

    // While hung, a set waits, as with an audio service that does not answer (for a limit, so
    // that a caller that waits for it fails its test rather than hanging it).
    void hang(bool hung) {
        {
            const std::lock_guard lock(mutex);
            hanging = hung;
        }
        released.notify_all();
    }

    HRESULT STDMETHODCALLTYPE SetMasterVolumeLevelScalar(float value, LPCGUID context) override {
        m_system.note("SetMasterVolumeLevelScalar");
        {
            std::unique_lock lock(mutex);
            released.wait_for(lock, std::chrono::milliseconds(kCallbackPatienceMs),
                              [this] { return !hanging; });
        }
        const HRESULT result = FAILED(serviceResult()) ? serviceResult() : setResult.load();
        if (SUCCEEDED(result)) {
            const std::lock_guard lock(mutex);
            level = value;
            levelsSet.push_back(value);
            contexts.push_back(context != nullptr ? *context : GUID{});
        }
        return result;
    }
    HRESULT STDMETHODCALLTYPE GetMasterVolumeLevelScalar(float* value) override {
        m_system.note("GetMasterVolumeLevelScalar");
        *value = level;
        return serviceResult();
    }
    // Hushwell never asks for any of these: each is noted as unexpected.
    HRESULT STDMETHODCALLTYPE RegisterControlChangeNotify(IAudioEndpointVolumeCallback*) override {
        return unexpected("RegisterControlChangeNotify");
    }
    HRESULT STDMETHODCALLTYPE
    UnregisterControlChangeNotify(IAudioEndpointVolumeCallback*) override {
        return unexpected("UnregisterControlChangeNotify");
    }
    HRESULT STDMETHODCALLTYPE GetChannelCount(UINT*) override {
        return unexpected("GetChannelCount");
    }
    HRESULT STDMETHODCALLTYPE SetMasterVolumeLevel(float, LPCGUID) override {
        return unexpected("SetMasterVolumeLevel");
    }
    HRESULT STDMETHODCALLTYPE GetMasterVolumeLevel(float*) override {
        return unexpected("GetMasterVolumeLevel");
    }
    HRESULT STDMETHODCALLTYPE SetChannelVolumeLevel(UINT, float, LPCGUID) override {
        return unexpected("SetChannelVolumeLevel");
    }
    HRESULT STDMETHODCALLTYPE SetChannelVolumeLevelScalar(UINT, float, LPCGUID) override {
        return unexpected("SetChannelVolumeLevelScalar");
    }
    HRESULT STDMETHODCALLTYPE GetChannelVolumeLevel(UINT, float*) override {
        return unexpected("GetChannelVolumeLevel");
    }
    HRESULT STDMETHODCALLTYPE GetChannelVolumeLevelScalar(UINT, float*) override {
        return unexpected("GetChannelVolumeLevelScalar");
    }
    HRESULT STDMETHODCALLTYPE SetMute(WINBOOL, LPCGUID) override { return unexpected("SetMute"); }
    HRESULT STDMETHODCALLTYPE GetMute(WINBOOL*) override { return unexpected("GetMute"); }
    HRESULT STDMETHODCALLTYPE GetVolumeStepInfo(UINT*, UINT*) override {
        return unexpected("GetVolumeStepInfo");
    }
    HRESULT STDMETHODCALLTYPE VolumeStepUp(LPCGUID) override { return unexpected("VolumeStepUp"); }
    HRESULT STDMETHODCALLTYPE VolumeStepDown(LPCGUID) override {
        return unexpected("VolumeStepDown");
    }
    HRESULT STDMETHODCALLTYPE QueryHardwareSupport(DWORD*) override {
        return unexpected("QueryHardwareSupport");
    }
    HRESULT STDMETHODCALLTYPE GetVolumeRange(float*, float*, float*) override {
        return unexpected("GetVolumeRange");
    }
};

// One audio session: its control (with the process it belongs to, and the path of its program's
// executable, "" for the system sounds) and its volume, one object as Windows' own. Made with the
// test's reference (new FakeSession, held in a com::Ref), it is deleted at its last Release, as
// Windows' are.
class FakeSession final : public FakeUnknown<IAudioSessionControl2, ISimpleAudioVolume> {
public:
    FakeSession(FakeAudioSystem& system, DWORD process, std::wstring executablePath,
                bool systemSounds = false)
        : FakeUnknown(system, true),
          processId(process),
          executable(std::move(executablePath)),
          isSystemSounds(systemSounds) {}

    const DWORD processId;
    const std::wstring executable;
    const bool isSystemSounds;
    std::atomic<AudioSessionState> state{AudioSessionStateActive};
    std::atomic<float> level{1.0f};
    std::atomic<HRESULT> setResult{S_OK};        // what SetMasterVolume answers
    std::atomic<HRESULT> stateResult{S_OK};      // what GetState answers
    std::atomic<HRESULT> processIdResult{S_OK};  // what GetProcessId answers
    std::mutex mutex;
    std::vector<float> levelsSet;
    std::vector<GUID> contexts;

    std::vector<float> taken() {
        const std::lock_guard lock(mutex);
        return levelsSet;
    }

    // IAudioSessionControl2
    HRESULT STDMETHODCALLTYPE GetState(AudioSessionState* out) override {
        m_system.note("GetState");
        *out = state;
        return stateResult;
    }
    HRESULT STDMETHODCALLTYPE GetProcessId(DWORD* out) override {
        m_system.note("GetProcessId");
        *out = SUCCEEDED(processIdResult.load()) ? processId : 0;
        return processIdResult;
    }
    HRESULT STDMETHODCALLTYPE IsSystemSoundsSession() override {
        m_system.note("IsSystemSoundsSession");
        return isSystemSounds ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE GetDisplayName(LPWSTR*) override {
        return unexpected("GetDisplayName");
    }
    HRESULT STDMETHODCALLTYPE SetDisplayName(LPCWSTR, LPCGUID) override {
        return unexpected("SetDisplayName");
    }
    HRESULT STDMETHODCALLTYPE GetIconPath(LPWSTR*) override { return unexpected("GetIconPath"); }
    HRESULT STDMETHODCALLTYPE SetIconPath(LPCWSTR, LPCGUID) override {
        return unexpected("SetIconPath");
    }
    HRESULT STDMETHODCALLTYPE GetGroupingParam(GUID*) override {
        return unexpected("GetGroupingParam");
    }
    HRESULT STDMETHODCALLTYPE SetGroupingParam(LPCGUID, LPCGUID) override {
        return unexpected("SetGroupingParam");
    }
    HRESULT STDMETHODCALLTYPE RegisterAudioSessionNotification(IAudioSessionEvents*) override {
        return unexpected("RegisterAudioSessionNotification");
    }
    HRESULT STDMETHODCALLTYPE UnregisterAudioSessionNotification(IAudioSessionEvents*) override {
        return unexpected("UnregisterAudioSessionNotification");
    }
    // As Windows forms it, which it does not document: the device, the executable's path and a
    // grouping.
    HRESULT STDMETHODCALLTYPE GetSessionIdentifier(LPWSTR* out) override {
        m_system.note("GetSessionIdentifier");
        const std::wstring identifier =
            L"{0.0.0.00000000}.{b3f8fa53-0004-438e-9003-51a46e139bfc}|" +
            (executable.empty() ? std::wstring(L"#") : executable) +
            L"%b{00000000-0000-0000-0000-000000000000}";
        const std::size_t bytes = (identifier.size() + 1) * sizeof(wchar_t);
        *out = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
        std::memcpy(*out, identifier.c_str(), bytes);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSessionInstanceIdentifier(LPWSTR*) override {
        return unexpected("GetSessionInstanceIdentifier");
    }
    HRESULT STDMETHODCALLTYPE SetDuckingPreference(WINBOOL) override {
        return unexpected("SetDuckingPreference");
    }

    // ISimpleAudioVolume
    HRESULT STDMETHODCALLTYPE SetMasterVolume(float value, LPCGUID context) override {
        m_system.note("SetMasterVolume");
        const HRESULT result =
            m_system.serviceRunning ? setResult.load() : AUDCLNT_E_SERVICE_NOT_RUNNING;
        if (SUCCEEDED(result)) {
            const std::lock_guard lock(mutex);
            level = value;
            levelsSet.push_back(value);
            contexts.push_back(context != nullptr ? *context : GUID{});
        }
        return result;
    }
    HRESULT STDMETHODCALLTYPE GetMasterVolume(float*) override {
        return unexpected("GetMasterVolume");
    }
    HRESULT STDMETHODCALLTYPE SetMute(const WINBOOL, LPCGUID) override {
        return unexpected("SetMute (session)");
    }
    HRESULT STDMETHODCALLTYPE GetMute(WINBOOL*) override { return unexpected("GetMute (session)"); }

private:
    ~FakeSession() override = default;  // at the last Release
};

// A device's session manager. Each enumeration is a list of the sessions added so far, an object
// of its own deleted at its last Release. As Windows, it tells of a session added on a thread of
// its own, and only to a registration made before the sessions were last counted; and
// unregistering waits for a callback in flight.
class FakeSessionManager final : public FakeUnknown<IAudioSessionManager2> {
public:
    class Enumerator final : public FakeUnknown<IAudioSessionEnumerator> {
    public:
        Enumerator(FakeAudioSystem& system, FakeSessionManager& manager)
            : FakeUnknown(system, true), m_manager(manager) {
            const std::lock_guard lock(manager.mutex);
            for (FakeSession* session : manager.sessions) {
                session->AddRef();
                m_sessions.push_back(session);
            }
            ++manager.enumeratorsAlive;
        }
        ~Enumerator() override {
            for (FakeSession* session : m_sessions) {
                session->Release();
            }
            --m_manager.enumeratorsAlive;
        }

        HRESULT STDMETHODCALLTYPE GetCount(int* count) override {
            m_system.note("GetCount");
            *count = static_cast<int>(m_sessions.size());
            if (FAILED(serviceResult())) {
                return serviceResult();
            }
            const std::lock_guard lock(m_manager.mutex);
            m_manager.counted = m_manager.notification != nullptr;
            return S_OK;
        }
        HRESULT STDMETHODCALLTYPE GetSession(int index, IAudioSessionControl** session) override {
            m_system.note("GetSession");
            *session = nullptr;
            if (index < 0 || index >= static_cast<int>(m_sessions.size())) {
                return E_INVALIDARG;
            }
            FakeSession* found = m_sessions[static_cast<std::size_t>(index)];
            found->AddRef();
            *session = static_cast<IAudioSessionControl2*>(found);
            return serviceResult();
        }

    private:
        FakeSessionManager& m_manager;
        std::vector<FakeSession*> m_sessions;
    };

    using FakeUnknown::FakeUnknown;
    ~FakeSessionManager() override {
        for (std::thread& thread : m_announcing) {
            thread.join();
        }
        for (FakeSession* session : sessions) {
            session->Release();
        }
    }

    std::mutex mutex;
    std::condition_variable idle;
    std::vector<FakeSession*> sessions;                     // one reference each
    std::atomic<HRESULT> enumerateResult{S_OK};             // what GetSessionEnumerator answers
    IAudioSessionNotification* notification = nullptr;      // the one registered, if any
    IAudioSessionNotification* lastNotification = nullptr;  // the last one, even if no more
    bool counted = false;  // the sessions were counted since `notification` was registered
    int callbacksInFlight = 0;
    int enumerations = 0;
    std::atomic<int> enumeratorsAlive{0};

    // A session starts on the device: told to the registration, if any, from another thread. As
    // Windows keeps a program's volume on a device, by its executable's path (a program started
    // again is a new process), a program whose session there expired starts the new one at the
    // level the expired one had.
    void add(FakeSession& session) {
        const std::lock_guard lock(mutex);
        for (FakeSession* earlier : sessions) {
            if (earlier->executable == session.executable &&
                earlier->state == AudioSessionStateExpired) {
                session.level = earlier->level.load();
            }
        }
        session.AddRef();
        sessions.push_back(&session);
        if (notification == nullptr || !counted) {
            return;
        }
        IAudioSessionNotification* told = notification;
        told->AddRef();
        session.AddRef();
        ++callbacksInFlight;
        m_announcing.emplace_back([this, told, &session] {
            told->OnSessionCreated(static_cast<IAudioSessionControl2*>(&session));
            told->Release();
            session.Release();
            const std::lock_guard done(mutex);
            --callbacksInFlight;
            idle.notify_all();
        });
    }
    IAudioSessionNotification* registered() {
        const std::lock_guard lock(mutex);
        return notification;
    }
    HRESULT STDMETHODCALLTYPE GetSessionEnumerator(IAudioSessionEnumerator** out) override {
        m_system.note("GetSessionEnumerator");
        *out = nullptr;
        const HRESULT result = FAILED(serviceResult()) ? serviceResult() : enumerateResult.load();
        if (FAILED(result)) {
            return result;
        }
        *out = new Enumerator(m_system, *this);
        const std::lock_guard lock(mutex);
        ++enumerations;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE
    RegisterSessionNotification(IAudioSessionNotification* newNotification) override {
        m_system.note("RegisterSessionNotification");
        const std::lock_guard lock(mutex);
        if (notification != nullptr) {
            return E_UNEXPECTED;  // this fake takes one at a time
        }
        newNotification->AddRef();
        notification = newNotification;
        lastNotification = newNotification;
        counted = false;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE
    UnregisterSessionNotification(IAudioSessionNotification* oldNotification) override {
        m_system.note("UnregisterSessionNotification");
        std::unique_lock lock(mutex);
        if (oldNotification != notification) {
            return E_INVALIDARG;
        }
        // A limit, so that a deadlock fails the test rather than hanging it.
        if (!idle.wait_for(lock, std::chrono::milliseconds(kCallbackPatienceMs),
                           [this] { return callbacksInFlight == 0; })) {
            ++m_system.stuckUnregistrations;
        }
        notification->Release();
        notification = nullptr;
        counted = false;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetAudioSessionControl(LPCGUID, DWORD,
                                                     IAudioSessionControl**) override {
        return unexpected("GetAudioSessionControl");
    }
    HRESULT STDMETHODCALLTYPE GetSimpleAudioVolume(LPCGUID, DWORD, ISimpleAudioVolume**) override {
        return unexpected("GetSimpleAudioVolume");
    }
    HRESULT STDMETHODCALLTYPE RegisterDuckNotification(LPCWSTR,
                                                       IAudioVolumeDuckNotification*) override {
        return unexpected("RegisterDuckNotification");
    }
    HRESULT STDMETHODCALLTYPE UnregisterDuckNotification(IAudioVolumeDuckNotification*) override {
        return unexpected("UnregisterDuckNotification");
    }

private:
    std::vector<std::thread> m_announcing;  // under `mutex`
};

class FakeDevice final : public FakeUnknown<IMMDevice> {
public:
    FakeDevice(FakeAudioSystem& system, std::wstring deviceId)
        : FakeUnknown(system), id(std::move(deviceId)), volume(system), sessions(system) {}

    const std::wstring id;
    FakeEndpointVolume volume;
    FakeSessionManager sessions;
    std::atomic<HRESULT> activateResult{S_OK};          // what every Activate answers
    std::atomic<HRESULT> activateSessionsResult{S_OK};  // what Activate of the sessions answers
    std::atomic<IAudioClient*> audioClient{nullptr};    // E_NOINTERFACE while none

    HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD, PROPVARIANT*, void** object) override {
        const bool endpointVolume = iid == __uuidof(IAudioEndpointVolume);
        const bool sessionManager = iid == __uuidof(IAudioSessionManager2);
        const bool streamClient = iid == __uuidof(IAudioClient);
        m_system.note(endpointVolume   ? "Activate(IAudioEndpointVolume)"
                      : sessionManager ? "Activate(IAudioSessionManager2)"
                      : streamClient   ? "Activate(IAudioClient)"
                                       : "Activate(other)");
        *object = nullptr;
        HRESULT result = FAILED(serviceResult()) ? serviceResult() : activateResult.load();
        if (SUCCEEDED(result) && sessionManager) {
            result = activateSessionsResult;
        }
        if (FAILED(result)) {
            return result;
        }
        if (endpointVolume) {
            volume.AddRef();
            *object = static_cast<IAudioEndpointVolume*>(&volume);
            return S_OK;
        }
        if (sessionManager) {
            sessions.AddRef();
            *object = static_cast<IAudioSessionManager2*>(&sessions);
            return S_OK;
        }
        if (IAudioClient* client = audioClient; streamClient && client != nullptr) {
            client->AddRef();
            *object = client;
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD, IPropertyStore**) override {
        return unexpected("OpenPropertyStore");
    }
    HRESULT STDMETHODCALLTYPE GetId(LPWSTR* out) override {
        m_system.note("GetId");
        const std::size_t bytes = (id.size() + 1) * sizeof(wchar_t);
        *out = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
        std::memcpy(*out, id.c_str(), bytes);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetState(DWORD* state) override {
        *state = DEVICE_STATE_ACTIVE;
        return S_OK;
    }
};

class FakeEnumerator final : public FakeUnknown<IMMDeviceEnumerator> {
public:
    using FakeUnknown::FakeUnknown;

    std::mutex mutex;
    std::map<std::wstring, FakeDevice*> devices;  // what GetDevice finds
    FakeDevice* defaultOutput = nullptr;          // E_NOTFOUND while none
    IMMNotificationClient* client = nullptr;      // the one registered, if any
    IMMNotificationClient* lastClient = nullptr;  // the last one registered, even if no more
    int registrations = 0;
    int unregistrations = 0;
    std::condition_variable idle;
    int callbacksInFlight = 0;

    // Windows tells the registered client of a new default device on a thread of its own, and
    // unregistering waits for a callback in flight. Returns once the client was told. Windows
    // counts no reference of the client, neither while it is registered nor during a callback.
    void announce(EDataFlow flow, ERole role, const wchar_t* id) {
        IMMNotificationClient* told = nullptr;
        {
            const std::lock_guard lock(mutex);
            if (client == nullptr) {
                return;
            }
            told = client;
            ++callbacksInFlight;
        }
        std::thread([this, told, flow, role, id] {
            told->OnDefaultDeviceChanged(flow, role, id);
            const std::lock_guard done(mutex);
            --callbacksInFlight;
            idle.notify_all();
        }).join();
    }

    void add(FakeDevice& device) {
        const std::lock_guard lock(mutex);
        devices[device.id] = &device;
    }
    void setDefault(FakeDevice* device) {
        const std::lock_guard lock(mutex);
        defaultOutput = device;
    }
    IMMNotificationClient* registered() {
        const std::lock_guard lock(mutex);
        return client;
    }

    HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow, DWORD, IMMDeviceCollection**) override {
        return unexpected("EnumAudioEndpoints");
    }
    HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow flow, ERole role,
                                                      IMMDevice** device) override {
        m_system.note(std::string("GetDefaultAudioEndpoint(") +
                      (flow == eRender ? "eRender" : "other flow") + ", " +
                      (role == eConsole ? "eConsole" : "other role") + ")");
        *device = nullptr;
        if (FAILED(serviceResult())) {
            return serviceResult();
        }
        const std::lock_guard lock(mutex);
        if (defaultOutput == nullptr) {
            return E_NOTFOUND;
        }
        defaultOutput->AddRef();
        *device = defaultOutput;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR id, IMMDevice** device) override {
        m_system.note("GetDevice");
        *device = nullptr;
        if (FAILED(serviceResult())) {
            return serviceResult();
        }
        const std::lock_guard lock(mutex);
        const auto found = devices.find(id);
        if (found == devices.end()) {
            return E_NOTFOUND;
        }
        found->second->AddRef();
        *device = found->second;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE
    RegisterEndpointNotificationCallback(IMMNotificationClient* newClient) override {
        m_system.note("RegisterEndpointNotificationCallback");
        const std::lock_guard lock(mutex);
        if (client != nullptr) {
            return E_UNEXPECTED;  // this fake takes one client at a time
        }
        client = newClient;
        lastClient = newClient;
        ++registrations;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE
    UnregisterEndpointNotificationCallback(IMMNotificationClient* oldClient) override {
        m_system.note("UnregisterEndpointNotificationCallback");
        std::unique_lock lock(mutex);
        if (oldClient != client) {
            return E_INVALIDARG;
        }
        // A limit, so that a deadlock fails the test rather than hanging it.
        if (!idle.wait_for(lock, std::chrono::milliseconds(kCallbackPatienceMs),
                           [this] { return callbacksInFlight == 0; })) {
            ++m_system.stuckUnregistrations;
        }
        client = nullptr;
        ++unregistrations;
        return S_OK;
    }
};

}  // namespace hushwell::testing
