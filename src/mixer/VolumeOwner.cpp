#include "mixer/VolumeOwner.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "mixer/VolumeRules.h"
#include "mixer/WorkerThread.h"

namespace hushwell {

// Everything the thread works on: it lives as long as the thread or the owner, whichever is last.
// The rules are the thread's alone; what the core asks reaches them as a task on it.
struct VolumeOwner::Shared {
    Shared(std::unique_ptr<MasterVolume> volume, Post postTask)
        : provider(std::move(volume)),
          post(std::move(postTask)),
          rules(
              *provider, [this](const Record& record) { tell(record); },
              [this](VolumeEvent::Kind kind, std::int32_t value) { report(kind, value); }) {}
    // The provider may report from a thread of its own until it is told to stop: before anything
    // here goes.
    ~Shared() { provider->watch({}); }

    void onProviderEvent(const VolumeEvent& event) {
        if (event.kind == VolumeEvent::Kind::NoOutput ||
            event.kind == VolumeEvent::Kind::OutputChanged ||
            event.kind == VolumeEvent::Kind::ServerBack) {
            report(event.kind, 0);  // whether there is an output: the tray tells it
        }
        worker.post([this, kind = event.kind] { rules.providerReported(kind); });
    }

    void report(VolumeEvent::Kind kind, std::int32_t value) {
        const std::lock_guard lock(mutex);
        if (handler) {
            post([report = handler, kind, value] { report({kind, value}); });
        }
    }

    // Tells the observer the record, when it changed since it was last told; false when it did
    // not. Not after finish() let the thread go: the observer may be gone by then.
    bool tell(const Record& record) {
        Observer observing;
        {
            const std::lock_guard lock(mutex);
            if (!observer || record == lastTold) {
                return false;
            }
            lastTold = record;
            observing = observer;
        }
        const std::lock_guard telling(observerMutex);
        if (!observerGone) {
            observing(record);
        }
        return true;
    }

    // Runs on the thread: a change of the record is told before the next step.
    void runAfterTelling(const std::function<void()>& task) {
        (void)tell(rules.record());
        task();
        programVolume = rules.hasProgramVolume();
    }

    // After the calls, the value wanted (the latest only), then the Up value owed; the observer
    // learns each change before the next step. false when none of it had anything to do.
    bool sendPending() {
        if (tell(rules.record())) {
            return true;
        }
        const bool sent = rules.sendDue();
        programVolume = rules.hasProgramVolume();
        return sent;
    }

    const std::unique_ptr<MasterVolume> provider;
    const Post post;
    VolumeRules rules;
    std::atomic<bool> programVolume{false};  // the rules' copy, for the core's thread
    std::mutex mutex;
    EventHandler handler;
    Observer observer;
    Record lastTold;
    bool finishing = false;     // finish() began: nothing more reaches the core
    std::mutex observerMutex;   // held while the observer is told
    bool observerGone = false;  // under observerMutex: the observer is told nothing more
    WorkerThread worker{{.pending = [this] { return sendPending(); }}};
};

VolumeOwner::VolumeOwner(std::unique_ptr<MasterVolume> provider, Post post, Deadlines deadlines)
    : m_shared(std::make_shared<Shared>(std::move(provider), std::move(post))),
      m_deadlines(deadlines) {
    m_shared->provider->watch(
        [shared = m_shared.get()](const VolumeEvent& event) { shared->onProviderEvent(event); });
}

VolumeOwner::~VolumeOwner() {
    finish();
}

void VolumeOwner::start() {
    m_shared->worker.start(m_shared);
}

void VolumeOwner::onThread(std::function<void(VolumeRules&)> task) {
    start();
    m_shared->worker.post([shared = m_shared.get(), task = std::move(task)] {
        shared->runAfterTelling([&] { task(shared->rules); });
    });
}

template <typename Result>
std::optional<Result> VolumeOwner::ask(std::function<Result(VolumeRules&)> call) {
    start();
    return m_shared->worker.call<Result>(
        [call = std::move(call), shared = m_shared.get()] {
            std::optional<Result> answer;
            shared->runAfterTelling([&] { answer = call(shared->rules); });
            return std::move(*answer);
        },
        m_deadlines.answer);
}

bool VolumeOwner::open() {
    return ask<bool>([](VolumeRules& rules) { return rules.open(); }).value_or(false);
}

bool VolumeOwner::hasProgramVolume() const {
    return m_shared->programVolume;
}

void VolumeOwner::lowerOnly(std::string program) {
    onThread([program = std::move(program)](VolumeRules& rules) { rules.lowerOnly(program); });
}

void VolumeOwner::askPlayingPrograms(std::function<void(std::vector<std::string>)> reply) {
    onThread([shared = m_shared.get(), reply = std::move(reply)](VolumeRules& rules) {
        std::vector<std::string> programs = rules.playingPrograms();
        const std::lock_guard answering(shared->mutex);
        if (!shared->finishing) {
            shared->post([reply, programs = std::move(programs)] { reply(programs); });
        }
    });
}

std::optional<std::int32_t> VolumeOwner::locate() {
    return ask<std::optional<std::int32_t>>([](VolumeRules& rules) { return rules.locate(); })
        .value_or(std::nullopt);
}

void VolumeOwner::setUpValue(std::int32_t value) {
    onThread([value](VolumeRules& rules) { rules.setUpValue(value); });
}

void VolumeOwner::set(std::int32_t value) {
    onThread([value](VolumeRules& rules) { rules.want(value); });
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

void VolumeOwner::putBackFirst(VolumeRules::EarlierRun earlier) {
    onThread([earlier = std::move(earlier)](VolumeRules& rules) { rules.putBackFirst(earlier); });
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
