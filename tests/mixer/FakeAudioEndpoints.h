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
#include <cstring>
#include <map>
#include <mutex>
#include <string>
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
};

// IUnknown for a fake that the test owns: it counts references and never deletes itself.
template <typename Interface>
class FakeUnknown : public Interface {
public:
    explicit FakeUnknown(FakeAudioSystem& system) : m_system(system) {}
    virtual ~FakeUnknown() = default;
    FakeUnknown(const FakeUnknown&) = delete;
    FakeUnknown& operator=(const FakeUnknown&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (iid == __uuidof(IUnknown) || iid == __uuidof(Interface)) {
            *object = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_references); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--m_references); }

    // References held beyond the test's own.
    [[nodiscard]] long heldByOthers() const { return m_references - 1; }

protected:
    FakeAudioSystem& m_system;
    HRESULT serviceResult() const {
        return m_system.serviceRunning ? S_OK : AUDCLNT_E_SERVICE_NOT_RUNNING;
    }

private:
    std::atomic<long> m_references{1};
};

class FakeEndpointVolume final : public FakeUnknown<IAudioEndpointVolume> {
public:
    using FakeUnknown::FakeUnknown;

    std::atomic<float> level{0.5f};
    std::atomic<HRESULT> setResult{S_OK};  // what SetMasterVolumeLevelScalar answers
    std::mutex mutex;
    std::vector<float> levelsSet;
    std::vector<GUID> contexts;

    std::vector<float> taken() {
        const std::lock_guard lock(mutex);
        return levelsSet;
    }

    HRESULT STDMETHODCALLTYPE SetMasterVolumeLevelScalar(float value, LPCGUID context) override {
        m_system.note("SetMasterVolumeLevelScalar");
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

private:
    HRESULT unexpected(const char* name) {
        m_system.note(std::string("unexpected ") + name);
        return E_NOTIMPL;
    }
};

// One audio session: its control (with the process it belongs to) and its volume, one object as
// Windows' own. The test owns it; it counts references and never deletes itself.
class FakeSession final : public IAudioSessionControl2, public ISimpleAudioVolume {
public:
    FakeSession(FakeAudioSystem& system, DWORD process, bool systemSounds = false)
        : processId(process), isSystemSounds(systemSounds), m_system(system) {}
    virtual ~FakeSession() = default;
    FakeSession(const FakeSession&) = delete;
    FakeSession& operator=(const FakeSession&) = delete;

    const DWORD processId;
    const bool isSystemSounds;
    std::atomic<AudioSessionState> state{AudioSessionStateActive};
    std::atomic<float> level{1.0f};
    std::atomic<HRESULT> setResult{S_OK};  // what SetMasterVolume answers
    std::mutex mutex;
    std::vector<float> levelsSet;
    std::vector<GUID> contexts;

    std::vector<float> taken() {
        const std::lock_guard lock(mutex);
        return levelsSet;
    }
    [[nodiscard]] long heldByOthers() const { return m_references - 1; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IAudioSessionControl) ||
            iid == __uuidof(IAudioSessionControl2)) {
            *object = static_cast<IAudioSessionControl2*>(this);
        } else if (iid == __uuidof(ISimpleAudioVolume)) {
            *object = static_cast<ISimpleAudioVolume*>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_references); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--m_references); }

    // IAudioSessionControl2
    HRESULT STDMETHODCALLTYPE GetState(AudioSessionState* out) override {
        m_system.note("GetState");
        *out = state;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetProcessId(DWORD* out) override {
        m_system.note("GetProcessId");
        *out = processId;
        return S_OK;
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
    HRESULT STDMETHODCALLTYPE GetSessionIdentifier(LPWSTR*) override {
        return unexpected("GetSessionIdentifier");
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
    HRESULT unexpected(const char* name) {
        m_system.note(std::string("unexpected ") + name);
        return E_NOTIMPL;
    }

    FakeAudioSystem& m_system;
    std::atomic<long> m_references{1};
};

// A device's session manager, which is also its session enumerator: every enumeration lists the
// sessions added so far.
class FakeSessionManager final : public FakeUnknown<IAudioSessionManager2> {
public:
    class Enumerator final : public FakeUnknown<IAudioSessionEnumerator> {
    public:
        Enumerator(FakeAudioSystem& system, FakeSessionManager& manager)
            : FakeUnknown(system), m_manager(manager) {}

        HRESULT STDMETHODCALLTYPE GetCount(int* count) override {
            m_system.note("GetCount");
            const std::lock_guard lock(m_manager.mutex);
            *count = static_cast<int>(m_manager.sessions.size());
            return serviceResult();
        }
        HRESULT STDMETHODCALLTYPE GetSession(int index, IAudioSessionControl** session) override {
            m_system.note("GetSession");
            const std::lock_guard lock(m_manager.mutex);
            *session = nullptr;
            if (index < 0 || index >= static_cast<int>(m_manager.sessions.size())) {
                return E_INVALIDARG;
            }
            FakeSession* found = m_manager.sessions[static_cast<std::size_t>(index)];
            found->AddRef();
            *session = static_cast<IAudioSessionControl2*>(found);
            return serviceResult();
        }

    private:
        FakeSessionManager& m_manager;
    };

    explicit FakeSessionManager(FakeAudioSystem& system)
        : FakeUnknown(system), enumerator(system, *this) {}

    std::mutex mutex;
    std::vector<FakeSession*> sessions;
    Enumerator enumerator;
    std::atomic<HRESULT> enumerateResult{S_OK};         // what GetSessionEnumerator answers
    IAudioSessionNotification* notification = nullptr;  // the one registered, if any
    int enumerations = 0;

    void add(FakeSession& session) {
        const std::lock_guard lock(mutex);
        sessions.push_back(&session);
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
        const std::lock_guard lock(mutex);
        ++enumerations;
        enumerator.AddRef();
        *out = &enumerator;
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
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE
    UnregisterSessionNotification(IAudioSessionNotification* oldNotification) override {
        m_system.note("UnregisterSessionNotification");
        const std::lock_guard lock(mutex);
        if (oldNotification != notification) {
            return E_INVALIDARG;
        }
        notification->Release();
        notification = nullptr;
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
    HRESULT unexpected(const char* name) {
        m_system.note(std::string("unexpected ") + name);
        return E_NOTIMPL;
    }
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

    HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD, PROPVARIANT*, void** object) override {
        const bool endpointVolume = iid == __uuidof(IAudioEndpointVolume);
        const bool sessionManager = iid == __uuidof(IAudioSessionManager2);
        m_system.note(endpointVolume   ? "Activate(IAudioEndpointVolume)"
                      : sessionManager ? "Activate(IAudioSessionManager2)"
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
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD, IPropertyStore**) override {
        m_system.note("unexpected OpenPropertyStore");
        return E_NOTIMPL;
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
    int registrations = 0;
    int unregistrations = 0;

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
        m_system.note("unexpected EnumAudioEndpoints");
        return E_NOTIMPL;
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
        newClient->AddRef();
        client = newClient;
        ++registrations;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE
    UnregisterEndpointNotificationCallback(IMMNotificationClient* oldClient) override {
        m_system.note("UnregisterEndpointNotificationCallback");
        const std::lock_guard lock(mutex);
        if (oldClient != client) {
            return E_INVALIDARG;
        }
        client->Release();
        client = nullptr;
        ++unregistrations;
        return S_OK;
    }
};

}  // namespace hushwell::testing
