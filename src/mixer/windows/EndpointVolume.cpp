// This file includes no local headers but the Windows provider's own: Windows' audio headers and
// COM stay out of the rest of the program.
#include "mixer/windows/EndpointVolume.h"

#include "mixer/windows/AudioSessions.h"
#include "mixer/windows/ComSupport.h"
#include "mixer/windows/ComThread.h"

// clang-format off
#include <windows.h>
#include <objbase.h>
#include <mmdeviceapi.h>
#include <endpointvolume.h>
// clang-format on

#include <atomic>
#include <mutex>
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

[[nodiscard]] bool inScale(std::int32_t value) {
    return value >= 0 && value <= EndpointVolume::kScale;
}

[[nodiscard]] float toScalar(std::int32_t value) {
    return static_cast<float>(value) / static_cast<float>(EndpointVolume::kScale);
}

[[nodiscard]] HRESULT setScalar(IAudioEndpointVolume& volume, std::int32_t value) {
    return volume.SetMasterVolumeLevelScalar(toScalar(value), &kEventContext);
}

}  // namespace

// The provider's objects, a user of the COM thread. Members after `handler` belong to the thread
// alone.
struct EndpointVolume::Endpoint final : ComThread::User {
    // The news of a new session, from Windows' thread, which may come after the endpoint went (see
    // ComThread::enter()): it reaches the endpoint through weak references, on the COM thread, so
    // that its last reference never goes on Windows' thread.
    struct SessionNews {
        void tell() {
            const std::lock_guard lock(mutex);
            if (const std::shared_ptr<ComThread> on = thread.lock()) {
                on->post([to = endpoint] {
                    if (const std::shared_ptr<Endpoint> self = to.lock()) {
                        self->report(VolumeEvent::Kind::StreamStarted);
                    }
                });
            }
        }

        std::mutex mutex;
        std::weak_ptr<ComThread> thread;
        std::weak_ptr<Endpoint> endpoint;  // set once the endpoint is shared, before it is joined
    };

    Endpoint(std::shared_ptr<ComThread> on, ProcessNames names, Deadlines limits)
        : thread(std::move(on)),
          deadlines(limits),
          news(std::make_shared<SessionNews>()),
          sessions(
              std::move(names),
              [this](const char* call, long result) { noteFailure(call, result); },
              [news = news] { news->tell(); }) {
        news->thread = thread;
    }

    // `call`'s answer from the thread; `none` when it did not answer within the deadline (an audio
    // service that hangs), and at once while an earlier call is stuck so.
    template <typename Result>
    Result ask(std::function<Result()> call, Result none) {
        std::optional<Result> answer = thread->ask(std::move(call), deadlines.answer);
        if (!answer && thread->stuck()) {
            noteFailure("a call to the audio service", HRESULT_FROM_WIN32(ERROR_TIMEOUT));
        }
        return answer ? std::move(*answer) : std::move(none);
    }

    void noteFailure(const char* call, HRESULT result) { noteFailure(failure(call, result)); }
    void noteFailure(std::string text) {
        const std::lock_guard lock(mutex);
        lastError = std::move(text);
    }

    void report(VolumeEvent::Kind kind) {
        const std::lock_guard lock(handlerMutex);
        if (handler) {
            handler({kind, 0});
        }
    }

    // The thread's questions.
    void defaultOutput(const std::optional<std::wstring>& id) override { follow(id); }
    std::optional<std::chrono::milliseconds> idleEvery() override {
        return broken || sessionsAwaited() ? std::optional(deadlines.retry) : std::nullopt;
    }
    void idle() override {
        if (broken) {
            rebuild();
        } else {
            (void)sessionsBound();
        }
    }
    void end() override { unbind(); }

    // --- on the thread

    // At log-in the audio service and the output may come after Hushwell: without them the
    // provider opens all the same and waits, through its retry and the default output's news
    // (winmm, the other choice, would reach only Hushwell's own session all day). It fails only
    // where the volume is known not to work: a stub, or any failure where `mustWork` (Wine).
    bool openHere() {
        if (!thread->ready()) {
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
            unbind();  // the enumerator goes as the provider leaves the thread
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
        if (sessions.bound()) {
            return true;
        }
        Ref<IMMDevice> device;
        std::string why;
        const bool bound = !output.empty() && SUCCEEDED(thread->device(output, device, why)) &&
                           sessions.bind(*device.get());
        if (bound) {
            programVolume = true;
            report(VolumeEvent::Kind::StreamStarted);
        }
        return bound;
    }

    // The output is bound but its sessions are not, and may come: tried again each retry period.
    // A stub (E_NOTIMPL, Wine 8) never gives them.
    [[nodiscard]] bool sessionsAwaited() const {
        return opened && volume && !sessions.bound() && !sessions.stub();
    }

    std::vector<std::string> playingHere() {
        if (!opened || broken || !volume || !sessionsBound()) {
            return {};
        }
        std::optional<std::vector<std::string>> programs = sessions.programs();
        if (!programs) {
            if (sessions.outputLost()) {
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
            sessions.setVolume(program, toScalar(value), kEventContext);
        if (!taken) {
            if (sessions.outputLost()) {
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
        Ref<IMMDevice> device;
        std::string why;
        if (!opened || broken || FAILED(thread->device(wide(id), device, why))) {
            return std::nullopt;
        }
        return sessions.setVolumeOn(*device.get(), program, toScalar(value), kEventContext);
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
        if (!opened || broken) {
            return false;
        }
        if (volume && utf8(output) == id) {
            return setCurrentHere(value).has_value();
        }
        // An output left behind: it may be gone, which is no failure of the enumerator.
        Ref<IMMDevice> device;
        std::string why;
        HRESULT result = thread->device(wide(id), device, why);
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
            std::string why;
            if (FAILED(thread->device(*id, device, why))) {
                noteFailure(why);
            }
            if (!device || !bind(*device.get())) {
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

    // The enumerator, with the thread's client registered with it, and the default output's volume;
    // true also when there is no output now (the client tells when one comes).
    bool build() {
        unbind();
        Ref<IMMDevice> device;
        std::string why;
        const HRESULT result = thread->device({}, device, why);
        if (result == E_NOTFOUND) {
            return true;
        }
        if (FAILED(result)) {
            noteFailure(why);
        }
        if (FAILED(result) || !bind(*device.get())) {
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
        programVolume = sessions.bind(device);
        return true;
    }

    void unbind() {
        volume.reset();
        output.clear();
        sessions.release();
        programVolume = false;
    }

    // The audio service may have gone with them: the enumerator is made afresh too.
    void releaseAll() {
        unbind();
        thread->dropEnumerator();
    }

    std::mutex mutex;
    std::string lastError;

    std::atomic<bool> programVolume{false};  // the default output's sessions are bound
    std::atomic<bool> outputMissing{false};  // opened, and no output to set has come since
    bool mustWork = false;                   // set before the open

    std::mutex handlerMutex;  // held while a report runs: after watch() returns none is under way
    EventHandler handler;

    const std::shared_ptr<ComThread> thread;
    const Deadlines deadlines;
    const std::shared_ptr<SessionNews> news;
    bool opened = false;
    bool broken = false;               // a call failed and no rebuild has succeeded since
    Ref<IAudioEndpointVolume> volume;  // the default output's; none while there is no output
    std::wstring output;               // its device id
    AudioSessions sessions;            // the default output's
};

EndpointVolume::EndpointVolume() : EndpointVolume(ComThread::shared()) {
    // Wine's endpoint volume is a stub that may also lack an output: there winmm does the work.
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    m_endpoint->mustWork = ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

EndpointVolume::EndpointVolume(std::shared_ptr<ComThread> thread, ProcessNames names,
                               Deadlines deadlines)
    : m_thread(std::move(thread)),
      m_endpoint(
          std::make_shared<Endpoint>(m_thread->shared_from_this(), std::move(names), deadlines)) {
    const std::lock_guard lock(m_endpoint->news->mutex);
    m_endpoint->news->endpoint = m_endpoint;
}

EndpointVolume::~EndpointVolume() {
    m_thread->leave(m_endpoint);
}

bool EndpointVolume::open() {
    m_thread->join(m_endpoint);
    const std::shared_ptr<Endpoint> com = m_endpoint;
    const bool opened = com->ask<bool>([com] { return com->openHere(); }, false);
    if (!opened && m_thread->stuck() && !com->mustWork) {
        // The audio service holds the open (busy at log-in, or hung): it opens all the same and
        // waits; locate() answers once the service has.
        return true;
    }
    if (!opened) {
        m_thread->leave(m_endpoint);  // the enumerator goes at once, unless another user has it
    }
    return opened;
}

std::optional<std::int32_t> EndpointVolume::locate() {
    return m_endpoint->ask<std::optional<std::int32_t>>(
        [com = m_endpoint] { return com->opened ? std::optional(kScale) : std::nullopt; },
        std::nullopt);
}

std::optional<std::string> EndpointVolume::set(std::int32_t value) {
    if (!inScale(value)) {
        return std::nullopt;
    }
    return m_endpoint->ask<std::optional<std::string>>(
        [com = m_endpoint, value] { return com->setCurrentHere(value); }, std::nullopt);
}

bool EndpointVolume::setOn(const std::string& output, std::int32_t value) {
    if (!inScale(value)) {
        return false;
    }
    return m_endpoint->ask<bool>(
        [com = m_endpoint, output, value] { return com->setOnHere(output, value); }, false);
}

bool EndpointVolume::hasProgramVolume() const {
    if (m_endpoint->programVolume) {
        return true;
    }
    return m_endpoint->ask<bool>([com = m_endpoint] { return com->programVolumeHere(); }, false);
}

std::vector<std::string> EndpointVolume::playingPrograms() {
    return m_endpoint->ask<std::vector<std::string>>(
        [com = m_endpoint] { return com->playingHere(); }, {});
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
    return m_endpoint->ask<std::optional<ProgramTaken>>(
        [com = m_endpoint, program, value] { return com->setProgramHere(program, value); },
        std::nullopt);
}

std::optional<int> EndpointVolume::setProgramOn(const std::string& output,
                                                const std::string& program, std::int32_t value) {
    if (!inScale(value)) {
        return std::nullopt;
    }
    return m_endpoint->ask<std::optional<int>>(
        [com = m_endpoint, output, program, value] {
            return com->setProgramOnHere(output, program, value);
        },
        std::nullopt);
}

void EndpointVolume::watch(const EventHandler& handler) {
    const std::lock_guard lock(m_endpoint->handlerMutex);
    m_endpoint->handler = handler;
    // What the open found is told to the watcher that comes after it.
    if (handler && m_endpoint->outputMissing) {
        handler({VolumeEvent::Kind::NoOutput, 0});
    }
}

std::string EndpointVolume::lastError() const {
    const std::lock_guard lock(m_endpoint->mutex);
    return m_endpoint->lastError;
}

}  // namespace hushwell
