#include "mixer/VolumeOwner.h"

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "mixer/WorkerThread.h"

namespace hushwell {

// A value no volume holds: what stands on a program's streams, before one of them took a value.
constexpr std::int32_t kNotKnown = -1;

// Everything the thread works on: it lives as long as the thread or the owner, whichever is last.
struct VolumeOwner::Shared {
    Shared(std::unique_ptr<MasterVolume> volume, Post postTask)
        : provider(std::move(volume)), post(std::move(postTask)) {}
    // The provider may report from a thread of its own until it is told to stop: before anything
    // here goes.
    ~Shared() { provider->watch({}); }

    // The rule: the volume is held from just before a value other than Up goes out until the Up
    // value has landed. A value that was refused may still land (a server that answered late),
    // so only a value that landed ends it.
    [[nodiscard]] bool held() const {
        return awayInFlight || (landed && *landed != record.upValue);
    }
    void updateHeld() { record.held = held(); }

    void onProviderEvent(const VolumeEvent& event) {
        {
            const std::lock_guard lock(mutex);
            if ((event.kind == VolumeEvent::Kind::ServerBack && wanted) ||
                (event.kind == VolumeEvent::Kind::OutputChanged && held()) ||
                (event.kind == VolumeEvent::Kind::StreamStarted && !record.program.empty() &&
                 wanted && (*wanted != record.upValue || held()))) {
                wantedUnsent = true;
            }
            if (event.kind != VolumeEvent::Kind::OutputChanged &&
                event.kind != VolumeEvent::Kind::NoOutput) {
                ++streamsMayHaveStarted;
                owedToTry = owedToTry || !record.owed.empty();
            }
            if (event.kind == VolumeEvent::Kind::NoOutput ||
                event.kind == VolumeEvent::Kind::OutputChanged ||
                event.kind == VolumeEvent::Kind::ServerBack) {
                report(event.kind, 0);  // whether there is an output: the tray tells it
            }
        }
        worker.wake();
    }

    void report(VolumeEvent::Kind kind, std::int32_t value) {
        if (handler) {
            post([report = handler, kind, value] { report({kind, value}); });
        }
    }

    // Tells the observer the record, when it changed since it was last told. Called locked. Not
    // after finish() let the thread go: the observer may be gone by then.
    void tellObserver(std::unique_lock<std::mutex>& lock) {
        if (observer && record != lastTold) {
            lastTold = record;
            const Record now = lastTold;
            const Observer tell = observer;
            lock.unlock();
            {
                const std::lock_guard telling(observerMutex);
                if (!observerGone) {
                    tell(now);
                }
            }
            lock.lock();
        }
    }

    // The program chosen, where the provider can lower one; else the whole output (a choice
    // kept in the options while the system in use has no volume per program). Called locked.
    [[nodiscard]] std::string effectiveTarget() const {
        return programVolume ? target : std::string();
    }

    // Makes `program` what is held, from nothing away from Up; a program owed its Up value
    // stays owed it, now as the target. Called locked.
    void becomeTarget(std::string program) {
        landed.reset();
        landedOn.reset();
        awayInFlight = false;
        if (!program.empty() && std::erase(record.owed, program) > 0) {
            landed = kNotKnown;
        }
        record.program = std::move(program);
        updateHeld();
    }

    // Makes `target` what is held: what the earlier one holds gets the Up value first, and an
    // earlier program with no stream then is owed it. false, the earlier one kept, when that Up
    // value was not taken. Called locked.
    bool switchTarget(std::unique_lock<std::mutex>& lock) {
        if (held()) {
            const std::string earlier = record.program;
            const std::int32_t up = record.upValue;
            const std::optional<std::string> output = landedOn;
            const unsigned startsBefore = streamsMayHaveStarted;
            lock.unlock();
            bool restored = false;
            std::optional<int> streams;
            if (!earlier.empty()) {
                // An earlier run's program, on a system with no volume per program: nothing
                // here can reach it.
                if (programVolume) {
                    const auto reached = setProgramLeaving(earlier, up, output, up);
                    streams = reached ? std::optional(reached->streams) : std::nullopt;
                }
                restored = !programVolume || streams.has_value();
            } else if (output && !output->empty()) {
                restored = provider->setOn(*output, up);
            } else {
                restored = provider->set(up).has_value();
            }
            lock.lock();
            if (!restored) {
                return false;
            }
            if (streams == 0) {
                record.owed.push_back(earlier);
                // A stream that started while it was asked may not have been counted.
                owedToTry = owedToTry || streamsMayHaveStarted != startsBefore;
            }
        }
        becomeTarget(effectiveTarget());
        tellObserver(lock);
        return true;
    }

    // Sets `program`'s streams to `value` where they play now; its streams on `leftBehind`, the
    // output an earlier value stood on while held, get `up` when that is another output now (a
    // program's volume may stay with the output it was set on). Called unlocked.
    std::optional<MasterVolume::ProgramTaken> setProgramLeaving(
        const std::string& program, std::int32_t value,
        const std::optional<std::string>& leftBehind, std::int32_t up) {
        std::optional<MasterVolume::ProgramTaken> reached =
            provider->setProgramWhere(program, value);
        if (reached && leftBehind && *leftBehind != reached->output) {
            (void)provider->setProgramOn(*leftBehind, program, up);
        }
        return reached;
    }

    // Gives the Up value to each program it is owed to; one that has a stream now took it.
    // Called locked.
    void sendOwedUp(std::unique_lock<std::mutex>& lock) {
        owedToTry = false;
        const std::vector<std::string> programs = record.owed;
        const std::int32_t up = record.upValue;
        lock.unlock();
        std::vector<std::string> paid;
        for (const std::string& program : programs) {
            const std::optional<int> streams = provider->setProgram(program, up);
            if (streams && *streams > 0) {
                paid.push_back(program);
            }
        }
        lock.lock();
        for (const std::string& program : paid) {
            std::erase(record.owed, program);
        }
    }

    // Sends the value wanted to the current target: the program's streams, or the current
    // output, the output left behind while held getting the Up value. Called locked.
    void sendWanted(std::unique_lock<std::mutex>& lock) {
        wantedUnsent = false;
        if (!target.empty() && !programVolume) {
            // A provider may gain its volume per program after the open (Windows' sessions,
            // refused while the audio service is busy at log-in): asked again at each value.
            lock.unlock();
            const bool gained = provider->hasProgramVolume();
            lock.lock();
            programVolume = gained;
        }
        const bool switching = effectiveTarget() != record.program;
        if (switching && !switchTarget(lock)) {
            report(VolumeEvent::Kind::Refused, *wanted);
            return;
        }
        const std::int32_t value = *wanted;
        const std::int32_t up = record.upValue;
        if (switching && value == up && !held()) {
            // The new target has nothing away from Up: there is nothing to send it.
            report(VolumeEvent::Kind::Taken, value);
            return;
        }
        const std::string program = record.program;
        const std::optional<std::string> before = landedOn;
        const bool wasHeld = held();
        if (value != up) {
            awayInFlight = true;
            updateHeld();
            tellObserver(lock);
        }
        lock.unlock();
        // The output that took the value: the whole one, or the one the program's streams play on.
        std::optional<std::string> output;
        std::optional<int> streams;
        const std::optional<std::string> leftBehind = wasHeld ? before : std::nullopt;
        if (program.empty()) {
            output = provider->set(value);
            if (output && leftBehind && *leftBehind != *output) {
                (void)provider->setOn(*leftBehind, up);
            }
        } else if (const auto reached = setProgramLeaving(program, value, leftBehind, up)) {
            output = reached->output;
            streams = reached->streams;
        }
        lock.lock();
        const bool taken = output.has_value();
        if (program.empty() ? taken : streams.value_or(0) > 0) {
            // With no stream of the program, what stands is what stood: a sound server keeps a
            // program's volume for its next stream, so an Up value that found none is still owed.
            landed = value;
        }
        if (taken) {
            landedOn = output;
            awayInFlight = false;  // what landed now is what the target holds
        }
        report(taken ? VolumeEvent::Kind::Taken : VolumeEvent::Kind::Refused, value);
        updateHeld();
    }

    // After the calls, the value wanted (the latest only), then the Up value owed; the observer
    // learns each change before the next step. false when none of it had anything to do.
    bool sendPending() {
        std::unique_lock lock(mutex);
        if (observer && record != lastTold) {
            tellObserver(lock);
        } else if (wantedUnsent) {
            sendWanted(lock);
        } else if (owedToTry) {
            sendOwedUp(lock);
        } else {
            return false;
        }
        return true;
    }

    // A call queued behind a change of the record runs after the observer learnt it.
    void tellChanged() {
        std::unique_lock lock(mutex);
        tellObserver(lock);
    }

    const std::unique_ptr<MasterVolume> provider;
    const Post post;
    std::mutex mutex;
    EventHandler handler;
    Observer observer;
    Record record;
    Record lastTold;
    std::optional<std::int32_t> wanted;
    std::optional<std::int32_t> landed;
    std::optional<std::string> landedOn;
    struct EarlierRun {
        std::int32_t value = 0;
        std::int32_t scale = 0;
        std::optional<std::string> held;
        std::vector<std::string> owed;
    };
    std::optional<EarlierRun> earlierRun;
    std::string target;          // what the value wanted goes to: a program, or "" the output
    bool programVolume = false;  // the provider has a volume per program
    bool wantedUnsent = false;   // `wanted` is still to be sent
    bool owedToTry = false;      // the Up value is to be tried on the programs owed it
    unsigned streamsMayHaveStarted = 0;  // counts the events after which a stream may be new
    bool awayInFlight = false;  // a value other than Up went out and nothing has landed since
    bool finishing = false;     // finish() began: nothing more reaches the core
    std::mutex observerMutex;   // held while the observer is told
    bool observerGone = false;  // under observerMutex: the observer is told nothing more
    WorkerThread worker{{.pending = [this] { return sendPending(); }}};
};

VolumeOwner::VolumeOwner(std::unique_ptr<MasterVolume> provider, Post post, Deadlines deadlines)
    : m_shared(std::make_shared<Shared>(std::move(provider), std::move(post))),
      m_deadlines(deadlines) {
    m_shared->provider->watch(
        [state = m_shared.get()](const VolumeEvent& event) { state->onProviderEvent(event); });
}

VolumeOwner::~VolumeOwner() {
    finish();
}

void VolumeOwner::start() {
    m_shared->worker.start(m_shared);
}

template <typename Result>
std::optional<Result> VolumeOwner::ask(std::function<Result(Shared&)> call) {
    start();
    return m_shared->worker.call<Result>(
        [call = std::move(call), state = m_shared.get()] {
            state->tellChanged();
            return call(*state);
        },
        m_deadlines.answer);
}

bool VolumeOwner::open() {
    return ask<bool>([](Shared& state) {
               const bool opened = state.provider->open();
               const bool programVolume = opened && state.provider->hasProgramVolume();
               const std::lock_guard lock(state.mutex);
               state.programVolume = programVolume;
               return opened;
           })
        .value_or(false);
}

bool VolumeOwner::hasProgramVolume() const {
    const std::lock_guard lock(m_shared->mutex);
    return m_shared->programVolume;
}

void VolumeOwner::lowerOnly(std::string program) {
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->target = std::move(program);
        m_shared->wantedUnsent = m_shared->wanted.has_value();
    }
    start();
    m_shared->worker.wake();
}

void VolumeOwner::askPlayingPrograms(std::function<void(std::vector<std::string>)> reply) {
    start();
    m_shared->worker.post([state = m_shared.get(), reply = std::move(reply)] {
        state->tellChanged();
        std::vector<std::string> programs = state->provider->playingPrograms();
        // A provider may gain its volume per program after the open (Windows' sessions).
        const bool programVolume = state->provider->hasProgramVolume();
        const std::lock_guard answering(state->mutex);
        state->programVolume = programVolume;
        if (!state->finishing) {
            state->post([reply, programs = std::move(programs)] { reply(programs); });
        }
    });
}

std::optional<std::int32_t> VolumeOwner::locate() {
    return ask<std::optional<std::int32_t>>([](Shared& state) {
               const std::optional<std::int32_t> scale = state.provider->locate();
               const std::lock_guard lock(state.mutex);
               if (scale) {
                   state.record.scale = *scale;
                   if (state.earlierRun && !state.wanted) {
                       const auto& [value, from, held, owed] = *state.earlierRun;
                       state.record.upValue = rescaled(value, from, *scale);
                       state.record.owed = owed;
                       state.owedToTry = !owed.empty();
                       if (held) {
                           state.record.program = *held;
                           state.wanted = state.record.upValue;
                           state.wantedUnsent = true;
                           state.awayInFlight = true;  // the earlier run's level may be on it
                           if (!held->empty()) {
                               // What its streams hold is not known: Up is owed until one took it.
                               state.landed = kNotKnown;
                           }
                       } else {
                           state.becomeTarget(state.effectiveTarget());
                       }
                   }
                   state.updateHeld();
               }
               return scale;
           })
        .value_or(std::nullopt);
}

void VolumeOwner::setUpValue(std::int32_t value) {
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->record.upValue = value;
        m_shared->updateHeld();
    }
    m_shared->worker.wake();
}

void VolumeOwner::set(std::int32_t value) {
    start();
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->wanted = value;
        m_shared->wantedUnsent = true;
    }
    m_shared->worker.wake();
}

void VolumeOwner::watch(const EventHandler& handler) {
    const std::lock_guard lock(m_shared->mutex);
    m_shared->handler = handler;
}

void VolumeOwner::observe(Observer observer) {
    const std::lock_guard lock(m_shared->mutex);
    m_shared->observer = std::move(observer);
}

void VolumeOwner::tellAgain() {
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->lastTold =
            Record{-1, -1, false, {}, {}};  // no record is that: the thread tells it
    }
    m_shared->worker.wake();
}

void VolumeOwner::putBackFirst(std::int32_t value, std::int32_t scale,
                               std::optional<std::string> held, std::vector<std::string> owed) {
    const std::lock_guard lock(m_shared->mutex);
    m_shared->earlierRun = Shared::EarlierRun{value, scale, std::move(held), std::move(owed)};
}

void VolumeOwner::finish() {
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->finishing = true;
        m_shared->handler = nullptr;  // nothing more reaches the core
    }
    const bool attached = m_shared->worker.attached();
    const bool ended = m_shared->worker.stop(m_deadlines.finish);
    if (!attached) {
        return;
    }
    if (ended) {
        m_shared->provider->watch({});
    } else {
        // The thread is let go with what it works on; whoever observes may be gone before it
        // ends. The observer was told the volume is held, if it is.
        const std::lock_guard telling(m_shared->observerMutex);
        m_shared->observerGone = true;
    }
}

}  // namespace hushwell
