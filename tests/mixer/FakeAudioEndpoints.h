#pragma once

// Stand-ins for Windows' audio device enumerator, its devices and their endpoint volumes, for
// tests of the endpoint-volume provider. They count their references, answer with the HRESULTs a
// test scripts, and note each call with the thread and COM apartment it came from.

// clang-format off
#include <windows.h>
#include <objbase.h>
#include <mmdeviceapi.h>
#include <endpointvolume.h>
#include <audioclient.h>
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

class FakeDevice final : public FakeUnknown<IMMDevice> {
public:
    FakeDevice(FakeAudioSystem& system, std::wstring deviceId)
        : FakeUnknown(system), id(std::move(deviceId)), volume(system) {}

    const std::wstring id;
    FakeEndpointVolume volume;
    std::atomic<HRESULT> activateResult{S_OK};

    HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD, PROPVARIANT*, void** object) override {
        const bool endpointVolume = iid == __uuidof(IAudioEndpointVolume);
        m_system.note(endpointVolume ? "Activate(IAudioEndpointVolume)" : "Activate(other)");
        *object = nullptr;
        const HRESULT result = FAILED(serviceResult()) ? serviceResult() : activateResult.load();
        if (FAILED(result)) {
            return result;
        }
        if (!endpointVolume) {
            return E_NOINTERFACE;
        }
        volume.AddRef();
        *object = static_cast<IAudioEndpointVolume*>(&volume);
        return S_OK;
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
