#include "mixer/BackgroundVolume.h"

#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>

namespace hushwell {

// Everything the thread works on: it lives as long as the thread or the owner, whichever is last.
struct BackgroundVolume::State {
    explicit State(std::unique_ptr<MasterVolume> volume, Post postTask)
        : provider(std::move(volume)), post(std::move(postTask)) {}

    // What the provider tells: the value asked for goes again when the server is back, or when
    // the output changed while the value is held away from the Up value.
    void onProviderEvent(const VolumeEvent& event) {
        {
            const std::lock_guard lock(mutex);
            const bool held = asked && *asked != upValue;
            if ((event.kind == VolumeEvent::Kind::ServerBack && asked) ||
                (event.kind == VolumeEvent::Kind::OutputChanged && held)) {
                send = true;
            }
        }
        changed.notify_one();
    }

    // Calls first, then the value asked for, the latest only; ends once told to stop and nothing
    // is left to do.
    void run() {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return !calls.empty() || send || stop; });
            if (!calls.empty()) {
                std::function<void()> call = std::move(calls.front());
                calls.pop_front();
                lock.unlock();
                call();
                lock.lock();
            } else if (send) {
                send = false;
                const std::int32_t value = *asked;
                const std::int32_t up = upValue;
                lock.unlock();
                provider->setUpValue(up);
                const bool taken = provider->set(value);
                lock.lock();
                if (!taken && handler) {
                    post([report = handler, value] {
                        report({VolumeEvent::Kind::Refused, value});
                    });
                }
            } else {
                idle = true;
                finished.notify_all();
                return;
            }
        }
    }

    const std::unique_ptr<MasterVolume> provider;
    const Post post;
    std::mutex mutex;
    std::condition_variable changed;
    std::condition_variable finished;
    std::deque<std::function<void()>> calls;
    EventHandler handler;
    std::optional<std::int32_t> asked;  // the value last asked for
    std::int32_t upValue = 0;
    bool send = false;  // `asked` is still to be sent
    bool stop = false;
    bool idle = false;  // the thread has ended
};

BackgroundVolume::BackgroundVolume(std::unique_ptr<MasterVolume> provider, Post post,
                                   Deadlines deadlines)
    : m_state(std::make_shared<State>(std::move(provider), std::move(post))),
      m_deadlines(deadlines) {
    m_state->provider->watch(
        [state = m_state.get()](const VolumeEvent& event) { state->onProviderEvent(event); });
}

BackgroundVolume::~BackgroundVolume() {
    finish();
}

void BackgroundVolume::start() {
    if (!m_thread.joinable() && !m_state->stop) {
        m_thread = std::thread([state = m_state] { state->run(); });
    }
}

template <typename Result>
std::optional<Result> BackgroundVolume::ask(std::function<Result(MasterVolume&)> call) {
    start();
    auto promise = std::make_shared<std::promise<Result>>();
    std::future<Result> answer = promise->get_future();
    {
        const std::lock_guard lock(m_state->mutex);
        m_state->calls.emplace_back([promise, call = std::move(call), state = m_state.get()] {
            promise->set_value(call(*state->provider));
        });
    }
    m_state->changed.notify_one();
    if (answer.wait_for(m_deadlines.answer) != std::future_status::ready) {
        return std::nullopt;
    }
    return answer.get();
}

bool BackgroundVolume::open() {
    return ask<bool>([](MasterVolume& provider) { return provider.open(); }).value_or(false);
}

std::optional<std::int32_t> BackgroundVolume::locate() {
    return ask<std::optional<std::int32_t>>(
               [](MasterVolume& provider) { return provider.locate(); })
        .value_or(std::nullopt);
}

bool BackgroundVolume::set(std::int32_t value) {
    start();
    {
        const std::lock_guard lock(m_state->mutex);
        m_state->asked = value;
        m_state->send = true;
    }
    m_state->changed.notify_one();
    return true;
}

void BackgroundVolume::setUpValue(std::int32_t value) {
    const std::lock_guard lock(m_state->mutex);
    m_state->upValue = value;
}

void BackgroundVolume::watch(const EventHandler& handler) {
    const std::lock_guard lock(m_state->mutex);
    m_state->handler = handler;
}

void BackgroundVolume::finish() {
    std::unique_lock lock(m_state->mutex);
    m_state->stop = true;
    m_state->handler = nullptr;  // nothing more reaches the owner
    m_state->changed.notify_one();
    if (!m_thread.joinable()) {
        return;
    }
    const bool ended =
        m_state->finished.wait_for(lock, m_deadlines.finish, [this] { return m_state->idle; });
    lock.unlock();
    if (ended) {
        m_thread.join();
        m_state->provider->watch({});
    } else {
        m_thread.detach();
    }
}

}  // namespace hushwell
