// This file includes no local headers but the Windows provider's own: Windows' audio headers and
// COM stay out of the rest of the program.
#include "mixer/windows/EndpointVolume.h"

#include "mixer/windows/AudioSessions.h"
#include "mixer/windows/ComSupport.h"

// clang-format off
#include <windows.h>
#include <objbase.h>
#include <mmdeviceapi.h>
#include <endpointvolume.h>
// clang-format on

#include <atomic>
#include <cstdio>
#include <mutex>
#include <utility>

#include "mixer/WorkerThread.h"

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
struct EndpointVolume::ComThread : std::enable_shared_from_this<EndpointVolume::ComThread> {
    ComThread(EnumeratorFactory make, ProcessNames processNames, Deadlines limits)
        : makeEnumerator(std::move(make)), names(std::move(processNames)), deadlines(limits) {}

    // Runs `call` on the thread and returns its answer; `none` when the thread does not run, or
    // did not answer within the deadline (an audio service that hangs): the call may still run
    // later, so it owns what it works on. While one call is stuck, the next ones are not queued
    // behind it: each would wait its whole deadline.
    template <typename Result>
    Result ask(std::function<Result()> call, Result none) {
        if (!worker.started() || worker.stopping() || stuck) {
            return none;
        }
        auto answered = std::make_shared<std::atomic<bool>>(false);
        std::optional<Result> answer = worker.call<Result>(
            [this, answered, call = std::move(call)] {
                Result result = call();
                answered->store(true);
                stuck = false;
                return result;
            },
            deadlines.answer);
        if (!answer) {
            stuck = !answered->load();
            if (stuck) {
                noteFailure("a call to the audio service", HRESULT_FROM_WIN32(ERROR_TIMEOUT));
            }
            return none;
        }
        return std::move(*answer);
    }

    // First on the thread: COM, and the objects that hand Windows' news to the thread.
    void enter() {
        const HRESULT initialised = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        comInitialised = SUCCEEDED(initialised);
        if (!comInitialised) {
            noteFailure("CoInitializeEx", initialised);
        }
        client = Ref<IMMNotificationClient>(
            new DefaultOutputClient([weak = weak_from_this()](const wchar_t* id) {
                if (const std::shared_ptr<ComThread> self = weak.lock()) {
                    self->defaultOutputNews(id);
                }
            }));
        sessions = std::make_unique<AudioSessions>(
            names, [this](const char* call, long result) { noteFailure(call, result); },
            [weak = weak_from_this()] {
                if (const std::shared_ptr<ComThread> self = weak.lock()) {
                    self->sessionNews();
                }
            });
    }

    // Last on the thread: every COM object goes before COM does.
    void leave() {
        releaseAll();
        sessions.reset();
        client.reset();
        if (comInitialised) {
            CoUninitialize();
        }
    }

    // The news of the default output first, so that a call made after it reaches the new output;
    // then that of a new session. Queued ahead of the calls.
    void takeNews() {
        std::unique_lock lock(mutex);
        newsQueued = false;
        for (;;) {
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
            } else {
                return;
            }
        }
    }

    // Called locked: the news is taken once, however much came before it ran.
    void queueNews(std::unique_lock<std::mutex>& lock) {
        if (newsQueued) {
            return;
        }
        newsQueued = true;
        lock.unlock();
        if (!worker.postFirst([this] { takeNews(); })) {
            lock.lock();
            newsQueued = false;
            return;
        }
        lock.lock();
    }

    // From the notification client's thread.
    void defaultOutputNews(const wchar_t* id) {
        std::unique_lock lock(mutex);
        defaultChanged = true;
        newDefault = id != nullptr ? std::optional<std::wstring>(id) : std::nullopt;
        queueNews(lock);
    }

    // From the session notification's thread.
    void sessionNews() {
        std::unique_lock lock(mutex);
        sessionStarted = true;
        queueNews(lock);
    }

    void noteFailure(const char* call, HRESULT result) {
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
            noteFailure("GetDefaultAudioEndpoint", E_NOTFOUND);
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
        return true;
    }

    // A volume that does not take its own level again will not take Hushwell's either.
    HRESULT takesItsOwnLevel() {
        float level = 0;
        HRESULT result = volume->GetMasterVolumeLevelScalar(&level);
        if (SUCCEEDED(result)) {
            result = volume->SetMasterVolumeLevelScalar(level, &kEventContext);
            if (FAILED(result)) {
                noteFailure("SetMasterVolumeLevelScalar", result);
            }
        } else {
            noteFailure("GetMasterVolumeLevelScalar", result);
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

    // The default output's sessions, bound again if they could not be had when it was (a busy
    // audio service at log-in refuses them for a while). Sessions that came late are told as a
    // stream started: programs may play there that nothing could see before.
    bool sessionsBound() {
        if (sessions->bound()) {
            return true;
        }
        Ref<IMMDevice> device;
        const bool bound = enumerator && !output.empty() &&
                           SUCCEEDED(enumerator->GetDevice(output.c_str(), device.out())) &&
                           sessions->bind(*device.get());
        if (bound) {
            programVolume = true;
            report(VolumeEvent::Kind::StreamStarted);
        }
        return bound;
    }

    // The output is bound but its sessions are not, and may come: tried again each retry period.
    // A stub (E_NOTIMPL, Wine 8) never gives them.
    [[nodiscard]] bool sessionsAwaited() const {
        return opened && volume && !sessions->bound() && !sessions->stub();
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

    bool programVolumeHere() { return opened && !broken && volume && sessionsBound(); }

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
            noteFailure("SetMasterVolumeLevelScalar", result);
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
                noteFailure("SetMasterVolumeLevelScalar", result);
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
                noteFailure("GetDevice", result);
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
            noteFailure("creating the device enumerator", FAILED(result) ? result : E_POINTER);
            enumerator.reset();
            return false;
        }
        result = enumerator->RegisterEndpointNotificationCallback(client.get());
        if (FAILED(result)) {
            noteFailure("RegisterEndpointNotificationCallback", result);
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
            noteFailure("GetDefaultAudioEndpoint", result);
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
            noteFailure("GetId", result);
            return false;
        }
        std::wstring name = id != nullptr ? id : L"";
        CoTaskMemFree(id);
        Ref<IAudioEndpointVolume> bound;
        result = device.Activate(__uuidof(IAudioEndpointVolume), CLSCTX_INPROC_SERVER, nullptr,
                                 bound.outVoid());
        if (FAILED(result)) {
            noteFailure("Activate", result);
            return false;
        }
        volume = std::move(bound);
        output = std::move(name);
        // Without its sessions the output's own volume still works; they are tried again when a
        // program's volume is asked for, and each retry period.
        programVolume = sessions->bind(device);
        return true;
    }

    void unbind() {
        volume.reset();
        output.clear();
        sessions->release();
        programVolume = false;
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
    bool defaultChanged = false;
    bool sessionStarted = false;
    bool newsQueued = false;                 // takeNews() is queued and has not begun
    std::optional<std::wstring> newDefault;  // the latest news only
    std::string lastError;

    std::atomic<bool> programVolume{false};  // the default output's sessions are bound
    std::atomic<bool> stuck{false};          // a call did not answer in time and has not since
    std::atomic<bool> outputMissing{false};  // opened, and no output to set has come since
    bool mustWork = false;                   // set before the thread starts

    std::mutex handlerMutex;  // held while a report runs: after watch() returns none is under way
    EventHandler handler;

    const EnumeratorFactory makeEnumerator;
    const ProcessNames names;
    const Deadlines deadlines;
    bool comInitialised = false;
    bool opened = false;
    bool broken = false;  // a call failed and no rebuild has succeeded since
    Ref<IMMNotificationClient> client;
    Ref<IMMDeviceEnumerator> enumerator;
    bool registered = false;                  // `client` is registered with `enumerator`
    Ref<IAudioEndpointVolume> volume;         // the default output's; none while there is no output
    std::wstring output;                      // its device id
    std::unique_ptr<AudioSessions> sessions;  // the default output's; made when the thread starts
    WorkerThread worker{{.enter = [this] { enter(); },
                         .leave = [this] { leave(); },
                         .idleLimit =
                             [this] {
                                 return broken || sessionsAwaited() ? std::optional(deadlines.retry)
                                                                    : std::nullopt;
                             },
                         .idle =
                             [this] {
                                 if (broken) {
                                     rebuild();
                                 } else {
                                     (void)sessionsBound();
                                 }
                             }}};
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
    : EndpointVolume(std::move(makeEnumerator), std::move(names), Deadlines{.retry = retry}) {}

EndpointVolume::EndpointVolume(EnumeratorFactory makeEnumerator, ProcessNames names,
                               Deadlines deadlines)
    : m_com(std::make_shared<ComThread>(std::move(makeEnumerator), std::move(names), deadlines)) {}

EndpointVolume::~EndpointVolume() {
    stopComThread();
}

bool EndpointVolume::open() {
    if (m_com->worker.started()) {  // opened before: start afresh
        stopComThread();
        auto fresh =
            std::make_shared<ComThread>(m_com->makeEnumerator, m_com->names, m_com->deadlines);
        fresh->mustWork = m_com->mustWork;
        const std::lock_guard lock(m_com->handlerMutex);
        fresh->handler = m_com->handler;
        m_com = std::move(fresh);
    }
    m_com->worker.start(m_com);
    ComThread* com = m_com.get();
    const bool opened = com->ask<bool>([com] { return com->openHere(); }, false);
    if (!opened && com->stuck && !com->mustWork) {
        // The audio service holds the open (busy at log-in, or hung): it opens all the same and
        // waits; locate() answers once the service has.
        return true;
    }
    if (!opened) {
        stopComThread();  // COM is uninitialised at once, not when this goes
    }
    return opened;
}

std::optional<std::int32_t> EndpointVolume::locate() {
    ComThread* com = m_com.get();
    return com->ask<std::optional<std::int32_t>>(
        [com] { return com->opened ? std::optional(kScale) : std::nullopt; }, std::nullopt);
}

std::optional<std::string> EndpointVolume::set(std::int32_t value) {
    if (!inScale(value)) {
        return std::nullopt;
    }
    ComThread* com = m_com.get();
    return com->ask<std::optional<std::string>>([com, value] { return com->setCurrentHere(value); },
                                                std::nullopt);
}

bool EndpointVolume::setOn(const std::string& output, std::int32_t value) {
    if (!inScale(value)) {
        return false;
    }
    ComThread* com = m_com.get();
    return com->ask<bool>([com, output, value] { return com->setOnHere(output, value); }, false);
}

bool EndpointVolume::hasProgramVolume() const {
    if (m_com->programVolume) {
        return true;
    }
    ComThread* com = m_com.get();
    return com->ask<bool>([com] { return com->programVolumeHere(); }, false);
}

std::vector<std::string> EndpointVolume::playingPrograms() {
    ComThread* com = m_com.get();
    return com->ask<std::vector<std::string>>([com] { return com->playingHere(); }, {});
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
    ComThread* com = m_com.get();
    return com->ask<std::optional<ProgramTaken>>(
        [com, program, value] { return com->setProgramHere(program, value); }, std::nullopt);
}

std::optional<int> EndpointVolume::setProgramOn(const std::string& output,
                                                const std::string& program, std::int32_t value) {
    if (!inScale(value)) {
        return std::nullopt;
    }
    ComThread* com = m_com.get();
    return com->ask<std::optional<int>>(
        [com, output, program, value] { return com->setProgramOnHere(output, program, value); },
        std::nullopt);
}

void EndpointVolume::watch(const EventHandler& handler) {
    const std::lock_guard lock(m_com->handlerMutex);
    m_com->handler = handler;
    // What the open found is told to the watcher that comes after it.
    if (handler && m_com->outputMissing) {
        handler({VolumeEvent::Kind::NoOutput, 0});
    }
}

void EndpointVolume::mustWorkAtOpen(bool mustWork) {
    m_com->mustWork = mustWork;
}

std::string EndpointVolume::lastError() const {
    const std::lock_guard lock(m_com->mutex);
    return m_com->lastError;
}

void EndpointVolume::stopComThread() {
    if (m_com->worker.attached()) {
        // A thread stuck in a call is let go at once: waiting would only add to the caller's.
        (void)m_com->worker.stop(m_com->stuck ? std::chrono::milliseconds(0) : kEndDeadline);
    }
}

}  // namespace hushwell
