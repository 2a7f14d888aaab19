#include "app/CrashGuard.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <csignal>
#include <iterator>
#include <thread>
#include <vector>

#include "app/MixerLog.h"
#include "mixer/MixerChoice.h"

namespace hushwell {
namespace {

using Message = CrashGuard::Message;
using namespace std::chrono_literals;

// How long the guard tries to reach a sound server that is away (a restart, a resume from
// sleep), and how long it pauses between tries.
constexpr auto kTryFor = 60s;
constexpr auto kPauseBetweenTries = 250ms;

// A guard that could not be started is tried again after this pause, doubled after each failure
// up to the longest: a system out of processes gets a few spare moments, never a storm of forks.
// A guard that ends sooner than kSettled after its start ended as it started (it could not run:
// an exec that failed, say) and counts as a failed start.
constexpr std::chrono::milliseconds kFirstRetry = 500ms;
constexpr std::chrono::milliseconds kLongestRetry = 30s;
constexpr auto kSettled = 5s;

// "0.5 s", "30 s".
std::string inSeconds(std::chrono::milliseconds pause) {
    const auto count = pause.count();
    return std::to_string(count / 1000) +
           (count % 1000 != 0 ? "." + std::to_string(count % 1000 / 100) : "") + " s";
}

}  // namespace

PutBack putBackOn(MasterVolume& volume, const CrashGuard::Message& last, std::int32_t value) {
    const std::string name = last.loweredName();
    if (name.empty()) {
        return volume.set(value) ? PutBack::Done : PutBack::NotTaken;
    }
    std::optional<int> streams;
    if (last.loweredWhole()) {
        streams = volume.setProgram(name, value);
    } else {
        streams = 0;
        for (const std::string& program : volume.playingPrograms()) {
            if (program.compare(0, name.size(), name) == 0) {
                const std::optional<int> set = volume.setProgram(program, value);
                streams = set && streams ? std::optional(*streams + *set) : std::nullopt;
            }
        }
    }
    if (!streams) {
        return PutBack::NotTaken;
    }
    return *streams > 0 ? PutBack::Done : PutBack::NothingPlaying;
}

namespace {

// Puts the Up value back through a mixer of the guard's own, connecting afresh on every try,
// until it lands, the time is up, or the guard is asked to end. The guard's mixer may not be the
// one the program had (a server that was slow when the program started, and is not now): the
// value goes over in the guard's own scale.
int putBack(const Message& last, const volatile std::sig_atomic_t* askedToEnd) {
    // The provider that held the volume, and no other: one that opens while the program's is
    // away (winmm while Windows' audio service restarts, ALSA while PulseAudio does) would set a
    // volume that is not the one held down, and the guard would end content.
    std::vector<MixerProvider> providers = platformProviders();
    if (last.provider >= 0 && static_cast<std::size_t>(last.provider) < providers.size()) {
        providers = {providers[static_cast<std::size_t>(last.provider)]};
    }
    const auto until = std::chrono::steady_clock::now() + kTryFor;
    for (;;) {
        {
            ChosenProvider volume(providers,
                                  [](const std::string& line) { logMixerCall("guard: " + line); });
            const std::optional<std::int32_t> scale =
                volume.open() ? volume.locate() : std::nullopt;
            const PutBack done =
                scale ? putBackOn(volume, last, rescaled(last.upValue, last.scale, *scale))
                      : PutBack::NotTaken;
            if (done != PutBack::NotTaken) {
                if (done == PutBack::Done) {
                    // The record of the program's server: the guard has the program's
                    // environment, and so names that server as the program did.
                    HeldRecord().releaseHeldBy(last.processId);
                }
                return 0;
            }
        }
        if ((askedToEnd != nullptr && *askedToEnd != 0) ||
            std::chrono::steady_clock::now() >= until) {
            return 1;
        }
        std::this_thread::sleep_for(kPauseBetweenTries);
    }
}

}  // namespace

// The guard's whole life: it waits for what the program tells it; when the program is gone while
// the volume was held, it puts the Up value back.
int CrashGuard::runGuard(const std::function<bool(Message&)>& read,
                         const volatile std::sig_atomic_t* askedToEnd) {
    Message last{};
    Message message{};
    while (read(message)) {
        last = message;
    }
    return last.held != 0 ? putBack(last, askedToEnd) : 0;
}

void CrashGuard::Message::setLowered(const std::string& name) {
    loweredLength = static_cast<std::int32_t>(std::min<std::size_t>(name.size(), INT32_MAX));
    std::fill(std::begin(lowered), std::end(lowered), '\0');
    std::copy_n(name.begin(), std::min(name.size(), sizeof lowered), std::begin(lowered));
}

bool CrashGuard::Message::loweredWhole() const {
    return loweredLength >= 0 && static_cast<std::size_t>(loweredLength) <= sizeof lowered;
}

std::string CrashGuard::Message::loweredName() const {
    if (loweredLength <= 0) {
        return {};
    }
    return {lowered, std::min(static_cast<std::size_t>(loweredLength), sizeof lowered)};
}

CrashGuard::CrashGuard(std::function<void()> onReplaced)
    : CrashGuard(std::move(onReplaced), System{}) {}

CrashGuard::CrashGuard(std::function<void()> onReplaced, System system)
    : m_onReplaced(std::move(onReplaced)), m_system(std::move(system)) {
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, [this] { start(true); });
    connect(this, &CrashGuard::lost, this, &CrashGuard::replaceIfGone, Qt::QueuedConnection);
    start(false);
}

CrashGuard::~CrashGuard() {
    const std::lock_guard lock(m_mutex);
    closeGuard();
}

void CrashGuard::start(bool tellRecord) {
    std::string failed;
    {
        const std::lock_guard lock(m_mutex);
        failed = spawn();
    }
    if (!failed.empty()) {
        retryLater("could not be started (" + failed + ")");
        return;
    }
    m_startedAt = std::chrono::steady_clock::now();
    if (m_failures > 0) {
        logMixerCall("guard: started: the volume has a guard again");
    }
    if (tellRecord) {
        m_onReplaced();
    }
}

void CrashGuard::retryLater(const std::string& why) {
    const std::chrono::milliseconds pause = std::min<std::chrono::milliseconds>(
        kFirstRetry * (1 << std::min(m_failures, 16)), kLongestRetry);
    ++m_failures;
    logMixerCall("guard: " + why + ": the volume has no guard; next try in " + inSeconds(pause));
    if (m_system.retryAfter) {
        m_system.retryAfter(pause, [this] { start(true); });
    } else {
        m_retry.start(pause);
    }
}

// Both the notifier and a failed send report a guard that is gone: only the first report about
// a guard replaces it, so that a later one does not end the new guard, nor start a second try.
void CrashGuard::replaceIfGone(unsigned generation) {
    {
        const std::lock_guard lock(m_mutex);
        if (generation != m_generation || m_pipe == -1) {
            return;
        }
        closeGuard();
    }
    if (std::chrono::steady_clock::now() - m_startedAt < kSettled) {
        retryLater("ended soon after its start");
        return;
    }
    m_failures = 0;
    start(true);
}

void CrashGuard::onRecordProblem(std::function<void(const std::string&)> tell) {
    const std::lock_guard lock(m_mutex);
    m_recordProblem = std::move(tell);
}

void CrashGuard::tell(std::int32_t upValue, std::int32_t scale, bool held, int provider,
                      const std::string& program, const std::vector<std::string>& owed,
                      const std::vector<std::pair<std::string, std::string>>& owedOn) {
    const std::lock_guard lock(m_mutex);
    if (held || !owed.empty() || !owedOn.empty()) {
        const std::optional<std::string> problem =
            m_record.write({upValue, scale, thisProcessId(), program, owed, held, owedOn});
        if (problem && m_recordProblem) {
            m_recordProblem(*problem);
            m_recordProblem = nullptr;  // once: the record is tried again at each change
        }
    } else {
        m_record.remove();
    }
    Message message;
    message.upValue = upValue;
    message.scale = scale;
    message.held = held ? 1 : 0;
    message.provider = provider;
    message.processId = thisProcessId();
    message.setLowered(program);
    if (m_pipe != -1 && !send(message)) {
        // Gone: on the window's thread, a new guard takes its place and is told the record.
        emit lost(m_generation);
    }
}

}  // namespace hushwell
