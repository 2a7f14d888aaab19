// This file includes no local headers but the Windows provider's own: Windows' audio headers and
// COM stay out of the rest of the program.
#include "mixer/EndpointVolume.h"

#include "mixer/AudioSessions.h"
#include "mixer/ComSupport.h"

// clang-format off
#include <windows.h>
#include <objbase.h>
#include <mmdeviceapi.h>
#include <endpointvolume.h>
// clang-format on

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <future>
#include <mutex>
#include <thread>
#include <utility>

namespace hushwell {
namespace {

using com::failure;
using com::Ref;
using com::utf8;
using com::wide;

// Hushwell's own event context: the endpoint's change notifications carry it for the changes this
// program made, so that they can be told from the user's.
constexpr GUID kEventContext = {
    0xab70b122, 0xb0ed, 0x4579, {0xa0, 0x2e, 0x22, 0xca, 0x97, 0x80, 0x24, 0x02}};

// How long the destructor waits for the provider's thread to release everything. A thread stuck in
// a call to the audio service past it is left to finish on its own.
constexpr std::chrono::seconds kEndDeadline{3};

[[nodiscard]] bool inScale(std::int32_t value) {
    return value >= 0 && value <= EndpointVolume::kScale;
}

[[nodiscard]] float toScalar(std::int32_t value) {
    return static_cast<float>(value) / static_cast<float>(EndpointVolume::kScale);
}

[[nodiscard]] HRESULT setScalar(IAudioEndpointVolume& volume, std::int32_t value) {
    return volume.SetMasterVolumeLevelScalar(toScalar(value), &kEventContext);
}

// Told by Windows, on a thread of its own, when a default device changes. It only hands the news
// of the default console output on: it must not block, call back into the enumerator, or release
// the provider's last reference.
class DefaultOutputClient final
    : public com::Implements<DefaultOutputClient, IMMNotificationClient> {
public:
    // `post` takes the new default output's id, nullptr when there is none.
    explicit DefaultOutputClient(std::function<void(const wchar_t*)> post)
        : m_post(std::move(post)) {}

    HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole role,
                                                     LPCWSTR id) override {
        if (flow == eRender && role == eConsole) {
            m_post(id);
        }
        return S_OK;
    }
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

// The provider's thread and what it works on. Members after `handler` belong to the thread alone.
struct EndpointVolume::Apartment : std::enable_shared_from_this<EndpointVolume::Apartment> {
    Apartment(EnumeratorFactory make, ProcessNames processNames,
              std::chrono::milliseconds retryAfter)
        : makeEnumerator(std::move(make)), names(std::move(processNames)), retry(retryAfter) {}

    // Runs `call` on the thread and returns its answer; `none` when the thread does not run.
    template <typename Result>
    Result ask(std::function<Result()> call, Result none) {
        auto promise = std::make_shared<std::promise<Result>>();
        std::future<Result> answer = promise->get_future();
        {
            const std::lock_guard lock(mutex);
            if (!running || stopping) {
                return none;
            }
            tasks.emplace_back([promise, call = std::move(call)] { promise->set_value(call()); });
        }
        wake.notify_all();
        return answer.get();
    }

    // The news of the default output first, so that a call made after it reaches the new output;
    // then that of a new session; then calls; while broken, a rebuild each `retry`.
    void run() {
        const HRESULT initialised = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        comInitialised = SUCCEEDED(initialised);
        if (!comInitialised) {
            note("CoInitializeEx", initialised);
        }
        client = Ref<IMMNotificationClient>(
            new DefaultOutputClient([weak = weak_from_this()](const wchar_t* id) {
                if (const std::shared_ptr<Apartment> self = weak.lock()) {
                    self->post(id);
                }
            }));
        sessions = std::make_unique<AudioSessions>(
            names, [this](const char* call, long result) { note(call, result); },
            [weak = weak_from_this()] {
                if (const std::shared_ptr<Apartment> self = weak.lock()) {
                    self->postSessionStarted();
                }
            });
        std::unique_lock lock(mutex);
        for (;;) {
            const auto due = [this] {
                return !tasks.empty() || defaultChanged || sessionStarted || stopping;
            };
            if (broken) {
                if (!wake.wait_for(lock, retry, due)) {
                    lock.unlock();
                    rebuild();
                    lock.lock();
                    continue;
                }
            } else {
                wake.wait(lock, due);
            }
            if (defaultChanged) {
                defaultChanged = false;
                const std::optional<std::wstring> id = std::move(newDefault);
                lock.unlock();
                follow(id);
                lock.lock();
            } else if (sessionStarted) {
                sessionStarted = false;
                lock.unlock();
                report(VolumeEvent::Kind::StreamStarted);
                lock.lock();
            } else if (!tasks.empty()) {
                const std::function<void()> task = std::move(tasks.front());
                tasks.pop_front();
                lock.unlock();
                task();
                lock.lock();
            } else {
                break;
            }
        }
        lock.unlock();
        releaseAll();
        sessions.reset();
        client.reset();
        if (comInitialised) {
            CoUninitialize();
        }
        lock.lock();
        ended = true;
        wake.notify_all();
    }

    // From the notification client's thread.
    void post(const wchar_t* id) {
        {
            const std::lock_guard lock(mutex);
            defaultChanged = true;
            newDefault = id != nullptr ? std::optional<std::wstring>(id) : std::nullopt;
        }
        wake.notify_all();
    }

    // From the session notification's thread.
    void postSessionStarted() {
        {
            const std::lock_guard lock(mutex);
            sessionStarted = true;
        }
        wake.notify_all();
    }

    void note(const char* call, HRESULT result) {
        const std::lock_guard lock(mutex);
        lastError = failure(call, result);
    }

    void report(VolumeEvent::Kind kind) {
        const std::lock_guard lock(handlerMutex);
        if (handler) {
            handler({kind, 0});
        }
    }

    // --- on the thread

    // At log-in the audio service and the output may come after Hushwell: without them the
    // provider opens all the same and waits, through its retry and the default output's news
    // (winmm, the other choice, would reach only Hushwell's own session all day). It fails only
    // where the volume is known not to work: a stub, or any failure where `mustWork` (Wine).
    bool openHere() {
        if (!comInitialised) {
            return false;
        }
        const bool built = build();
        HRESULT result = S_OK;
        if (built && volume) {
            result = takesItsOwnLevel();
        } else if (built) {
            note("GetDefaultAudioEndpoint", E_NOTFOUND);
        }
        if (result == E_NOTIMPL || (mustWork && (!built || !volume || FAILED(result)))) {
            releaseAll();
            return false;
        }
        opened = true;
        if (!built || FAILED(result)) {
            breakDown();
        }
        outputMissing = !volume;
        programVolume = sessions->bound();
        return true;
    }

    // A volume that does not take its own level again will not take Hushwell's either.
    HRESULT takesItsOwnLevel() {
        float level = 0;
        HRESULT result = volume->GetMasterVolumeLevelScalar(&level);
        if (SUCCEEDED(result)) {
            result = volume->SetMasterVolumeLevelScalar(level, &kEventContext);
            if (FAILED(result)) {
                note("SetMasterVolumeLevelScalar", result);
            }
        } else {
            note("GetMasterVolumeLevelScalar", result);
        }
        return result;
    }

    // Tells a watcher that there is no output to set, once each time there comes to be none.
    void tellWhetherOutput() {
        if (volume) {
            outputMissing = false;
        } else if (!outputMissing.exchange(true)) {
            report(VolumeEvent::Kind::NoOutput);
        }
    }

    // The default output's sessions, bound again if they could not be had when it was.
    bool sessionsBound() {
        if (sessions->bound()) {
            return true;
        }
        Ref<IMMDevice> device;
        const bool bound = enumerator && !output.empty() &&
                           SUCCEEDED(enumerator->GetDevice(output.c_str(), device.out())) &&
                           sessions->bind(*device.get());
        if (bound) {
            programVolume = true;  // sessions refused at open (a busy service at log-in) came late
        }
        return bound;
    }

    std::vector<std::string> playingHere() {
        if (!opened || broken || !volume || !sessionsBound()) {
            return {};
        }
        std::optional<std::vector<std::string>> programs = sessions->programs();
        if (!programs) {
            if (sessions->outputLost()) {
                breakDown();
            }
            return {};
        }
        return std::move(*programs);
    }

    bool programVolumeHere() {
        return programVolume || (opened && !broken && volume && sessionsBound());
    }

    std::optional<ProgramTaken> setProgramHere(const std::string& program, std::int32_t value) {
        if (!opened || broken) {
            return std::nullopt;
        }
        if (!volume) {
            return ProgramTaken{0, {}};  // no output, so nothing plays
        }
        if (!sessionsBound()) {
            return std::nullopt;
        }
        const std::optional<int> taken =
            sessions->setVolume(program, toScalar(value), kEventContext);
        if (!taken) {
            if (sessions->outputLost()) {
                breakDown();
            }
            return std::nullopt;
        }
        return ProgramTaken{*taken, utf8(output)};
    }

    // `program`'s sessions on the output `id`, current or not: an output left behind may be gone,
    // which is no failure of the enumerator nor of the current output.
    std::optional<int> setProgramOnHere(const std::string& id, const std::string& program,
                                        std::int32_t value) {
        if (!opened || broken || !enumerator) {
            return std::nullopt;
        }
        Ref<IMMDevice> device;
        if (FAILED(enumerator->GetDevice(wide(id).c_str(), device.out()))) {
            return std::nullopt;
        }
        return sessions->setVolumeOn(*device.get(), program, toScalar(value), kEventContext);
    }

    std::optional<std::string> setCurrentHere(std::int32_t value) {
        if (!opened || broken || !volume) {
            return std::nullopt;
        }
        const HRESULT result = setScalar(*volume.get(), value);
        if (FAILED(result)) {
            note("SetMasterVolumeLevelScalar", result);
            breakDown();
            return std::nullopt;
        }
        return utf8(output);
    }

    bool setOnHere(const std::string& id, std::int32_t value) {
        if (!opened || broken || !enumerator) {
            return false;
        }
        if (volume && utf8(output) == id) {
            const HRESULT result = setScalar(*volume.get(), value);
            if (FAILED(result)) {
                note("SetMasterVolumeLevelScalar", result);
                breakDown();
            }
            return SUCCEEDED(result);
        }
        // An output left behind: it may be gone, which is no failure of the enumerator.
        Ref<IMMDevice> device;
        HRESULT result = enumerator->GetDevice(wide(id).c_str(), device.out());
        Ref<IAudioEndpointVolume> other;
        if (SUCCEEDED(result)) {
            result = device->Activate(__uuidof(IAudioEndpointVolume), CLSCTX_INPROC_SERVER, nullptr,
                                      other.outVoid());
        }
        if (SUCCEEDED(result)) {
            result = setScalar(*other.get(), value);
        }
        return SUCCEEDED(result);
    }

    // The default console output is now `id` (none when empty).
    void follow(const std::optional<std::wstring>& id) {
        if (!opened || broken) {
            return;  // the rebuild binds whatever is the default then
        }
        if (id ? (volume && *id == output) : !volume) {
            return;
        }
        unbind();
        if (id) {
            Ref<IMMDevice> device;
            const HRESULT result = enumerator->GetDevice(id->c_str(), device.out());
            if (FAILED(result)) {
                note("GetDevice", result);
                breakDown();
                return;
            }
            if (!bind(*device.get())) {
                breakDown();
                return;
            }
            outputMissing = false;
            report(VolumeEvent::Kind::OutputChanged);
        } else {
            tellWhetherOutput();
        }
    }

    // A call failed: everything goes, and is made again at the next retry. Not at once: where
    // the rebuild works but the set keeps failing, the resend that ServerBack brings would fail
    // again, round and round without a pause.
    void breakDown() {
        releaseAll();
        broken = true;
    }

    bool rebuild() {
        if (!build()) {
            broken = true;
            return false;
        }
        broken = false;
        report(VolumeEvent::Kind::ServerBack);
        outputMissing = false;  // told anew: the news of the server's return ends what was told
        tellWhetherOutput();
        return true;
    }

    // The enumerator, the client registered with it, and the default output's volume; true also
    // when there is no output now (the client tells when one comes).
    bool build() {
        releaseAll();
        HRESULT result = makeEnumerator(enumerator.out());
        if (FAILED(result) || !enumerator) {
            note("creating the device enumerator", FAILED(result) ? result : E_POINTER);
            enumerator.reset();
            return false;
        }
        result = enumerator->RegisterEndpointNotificationCallback(client.get());
        if (FAILED(result)) {
            note("RegisterEndpointNotificationCallback", result);
            releaseAll();
            return false;
        }
        registered = true;
        Ref<IMMDevice> device;
        result = enumerator->GetDefaultAudioEndpoint(eRender, eConsole, device.out());
        if (result == E_NOTFOUND) {
            return true;
        }
        if (FAILED(result)) {
            note("GetDefaultAudioEndpoint", result);
            releaseAll();
            return false;
        }
        if (!bind(*device.get())) {
            releaseAll();
            return false;
        }
        return true;
    }

    bool bind(IMMDevice& device) {
        LPWSTR id = nullptr;
        HRESULT result = device.GetId(&id);
        if (FAILED(result)) {
            note("GetId", result);
            return false;
        }
        std::wstring name = id != nullptr ? id : L"";
        CoTaskMemFree(id);
        Ref<IAudioEndpointVolume> bound;
        result = device.Activate(__uuidof(IAudioEndpointVolume), CLSCTX_INPROC_SERVER, nullptr,
                                 bound.outVoid());
        if (FAILED(result)) {
            note("Activate", result);
            return false;
        }
        volume = std::move(bound);
        output = std::move(name);
        // Without its sessions the output's own volume still works; they are tried again when a
        // program's volume is asked for.
        sessions->bind(device);
        return true;
    }

    void unbind() {
        volume.reset();
        output.clear();
        sessions->release();
    }

    void releaseAll() {
        unbind();
        if (registered) {
            enumerator->UnregisterEndpointNotificationCallback(client.get());
            registered = false;
        }
        enumerator.reset();
    }

    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> tasks;
    bool defaultChanged = false;
    bool sessionStarted = false;
    std::optional<std::wstring> newDefault;  // the latest news only
    bool running = false;
    bool stopping = false;
    bool ended = false;
    std::string lastError;

    std::atomic<bool> programVolume{false};  // once the sessions were bound
    std::atomic<bool> outputMissing{false};  // opened, and no output to set has come since
    bool mustWork = false;                   // set before the thread starts

    std::mutex handlerMutex;  // held while a report runs: after watch() returns none is under way
    EventHandler handler;

    const EnumeratorFactory makeEnumerator;
    const ProcessNames names;
    const std::chrono::milliseconds retry;
    bool comInitialised = false;
    bool opened = false;
    bool broken = false;  // a call failed and no rebuild has succeeded since
    Ref<IMMNotificationClient> client;
    Ref<IMMDeviceEnumerator> enumerator;
    bool registered = false;                  // `client` is registered with `enumerator`
    Ref<IAudioEndpointVolume> volume;         // the default output's; none while there is no output
    std::wstring output;                      // its device id
    std::unique_ptr<AudioSessions> sessions;  // the default output's; made when the thread starts
};

EndpointVolume::EndpointVolume()
    : EndpointVolume([](IMMDeviceEnumerator** enumerator) -> long {
          return CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_INPROC_SERVER,
                                  __uuidof(IMMDeviceEnumerator),
                                  reinterpret_cast<void**>(enumerator));
      }) {
    // Wine's endpoint volume is a stub that may also lack an output: there winmm does the work.
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    mustWorkAtOpen(ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr);
}

EndpointVolume::EndpointVolume(EnumeratorFactory makeEnumerator, std::chrono::milliseconds retry)
    : EndpointVolume(std::move(makeEnumerator), ProcessNames(), retry) {}

EndpointVolume::EndpointVolume(EnumeratorFactory makeEnumerator, ProcessNames names,
                               std::chrono::milliseconds retry)
    : m_apartment(std::make_shared<Apartment>(std::move(makeEnumerator), std::move(names), retry)) {
}

EndpointVolume::~EndpointVolume() {
    stopApartment();
}

bool EndpointVolume::open() {
    if (m_apartment->running) {  // opened before: start afresh
        stopApartment();
        auto fresh = std::make_shared<Apartment>(m_apartment->makeEnumerator, m_apartment->names,
                                                 m_apartment->retry);
        fresh->mustWork = m_apartment->mustWork;
        const std::lock_guard lock(m_apartment->handlerMutex);
        fresh->handler = m_apartment->handler;
        m_apartment = std::move(fresh);
    }
    {
        const std::lock_guard lock(m_apartment->mutex);
        m_apartment->running = true;
    }
    std::thread([apartment = m_apartment] { apartment->run(); }).detach();
    Apartment* apartment = m_apartment.get();
    const bool opened = apartment->ask<bool>([apartment] { return apartment->openHere(); }, false);
    if (!opened) {
        stopApartment();  // COM is uninitialised at once, not when this goes
    }
    return opened;
}

std::optional<std::int32_t> EndpointVolume::locate() {
    Apartment* apartment = m_apartment.get();
    return apartment->ask<std::optional<std::int32_t>>(
        [apartment] { return apartment->opened ? std::optional(kScale) : std::nullopt; },
        std::nullopt);
}

std::optional<std::string> EndpointVolume::set(std::int32_t value) {
    if (!inScale(value)) {
        return std::nullopt;
    }
    Apartment* apartment = m_apartment.get();
    return apartment->ask<std::optional<std::string>>(
        [apartment, value] { return apartment->setCurrentHere(value); }, std::nullopt);
}

bool EndpointVolume::setOn(const std::string& output, std::int32_t value) {
    if (!inScale(value)) {
        return false;
    }
    Apartment* apartment = m_apartment.get();
    return apartment->ask<bool>(
        [apartment, &output, value] { return apartment->setOnHere(output, value); }, false);
}

bool EndpointVolume::hasProgramVolume() const {
    if (m_apartment->programVolume) {
        return true;
    }
    Apartment* apartment = m_apartment.get();
    return apartment->ask<bool>([apartment] { return apartment->programVolumeHere(); }, false);
}

std::vector<std::string> EndpointVolume::playingPrograms() {
    Apartment* apartment = m_apartment.get();
    return apartment->ask<std::vector<std::string>>(
        [apartment] { return apartment->playingHere(); }, {});
}

std::optional<int> EndpointVolume::setProgram(const std::string& program, std::int32_t value) {
    const std::optional<ProgramTaken> taken = setProgramWhere(program, value);
    return taken ? std::optional(taken->streams) : std::nullopt;
}

std::optional<MasterVolume::ProgramTaken> EndpointVolume::setProgramWhere(
    const std::string& program, std::int32_t value) {
    if (!inScale(value)) {
        return std::nullopt;
    }
    Apartment* apartment = m_apartment.get();
    return apartment->ask<std::optional<ProgramTaken>>(
        [apartment, &program, value] { return apartment->setProgramHere(program, value); },
        std::nullopt);
}

std::optional<int> EndpointVolume::setProgramOn(const std::string& output,
                                                const std::string& program, std::int32_t value) {
    if (!inScale(value)) {
        return std::nullopt;
    }
    Apartment* apartment = m_apartment.get();
    return apartment->ask<std::optional<int>>(
        [apartment, &output, &program, value] {
            return apartment->setProgramOnHere(output, program, value);
        },
        std::nullopt);
}

void EndpointVolume::watch(const EventHandler& handler) {
    const std::lock_guard lock(m_apartment->handlerMutex);
    m_apartment->handler = handler;
    // What the open found is told to the watcher that comes after it.
    if (handler && m_apartment->outputMissing) {
        handler({VolumeEvent::Kind::NoOutput, 0});
    }
}

void EndpointVolume::mustWorkAtOpen(bool mustWork) {
    m_apartment->mustWork = mustWork;
}

std::string EndpointVolume::lastError() const {
    const std::lock_guard lock(m_apartment->mutex);
    return m_apartment->lastError;
}

void EndpointVolume::stopApartment() {
    std::unique_lock lock(m_apartment->mutex);
    if (!m_apartment->running || m_apartment->stopping) {
        return;
    }
    m_apartment->stopping = true;
    m_apartment->wake.notify_all();
    m_apartment->wake.wait_for(lock, kEndDeadline, [this] { return m_apartment->ended; });
}

}  // namespace hushwell
