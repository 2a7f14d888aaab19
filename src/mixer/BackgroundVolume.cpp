#include "mixer/BackgroundVolume.h"

#include <future>

namespace hushwell {

BackgroundVolume::BackgroundVolume(MasterVolume& provider, Post post)
    : m_provider(provider), m_post(std::move(post)) {
    m_provider.watch([this](const VolumeEvent& event) { onProviderEvent(event); });
}

BackgroundVolume::~BackgroundVolume() {
    finish();
}

void BackgroundVolume::start() {
    if (!m_thread.joinable() && !m_stop) {
        m_thread = std::thread([this] { run(); });
    }
}

template <typename Result>
Result BackgroundVolume::onThread(std::function<Result()> call) {
    start();
    std::packaged_task<Result()> task(std::move(call));
    std::future<Result> result = task.get_future();
    {
        const std::lock_guard lock(m_mutex);
        m_calls.emplace_back([&task] { task(); });
    }
    m_changed.notify_one();
    return result.get();
}

bool BackgroundVolume::open() {
    return onThread<bool>([this] { return m_provider.open(); });
}

std::optional<std::int32_t> BackgroundVolume::locate() {
    return onThread<std::optional<std::int32_t>>([this] { return m_provider.locate(); });
}

bool BackgroundVolume::set(std::int32_t value) {
    start();
    {
        const std::lock_guard lock(m_mutex);
        m_asked = value;
        m_send = true;
    }
    m_changed.notify_one();
    return true;
}

void BackgroundVolume::setUpValue(std::int32_t value) {
    const std::lock_guard lock(m_mutex);
    m_upValue = value;
}

void BackgroundVolume::watch(const EventHandler& handler) {
    const std::lock_guard lock(m_mutex);
    m_handler = handler;
}

void BackgroundVolume::finish() {
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_one();
    if (m_thread.joinable()) {
        m_thread.join();
        m_provider.watch({});
    }
}

void BackgroundVolume::onProviderEvent(const VolumeEvent& event) {
    {
        const std::lock_guard lock(m_mutex);
        const bool held = m_asked && *m_asked != m_upValue;
        if ((event.kind == VolumeEvent::Kind::ServerBack && m_asked) ||
            (event.kind == VolumeEvent::Kind::OutputChanged && held)) {
            m_send = true;
        }
    }
    m_changed.notify_one();
}

// Calls first, then the value asked for, the latest only; stops once nothing is left to do.
void BackgroundVolume::run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return !m_calls.empty() || m_send || m_stop; });
        if (!m_calls.empty()) {
            std::function<void()> call = std::move(m_calls.front());
            m_calls.pop_front();
            lock.unlock();
            call();
            lock.lock();
        } else if (m_send) {
            m_send = false;
            const std::int32_t value = *m_asked;
            const std::int32_t upValue = m_upValue;
            lock.unlock();
            m_provider.setUpValue(upValue);
            const bool taken = m_provider.set(value);
            lock.lock();
            if (!taken && m_handler) {
                m_post([handler = m_handler, value] {
                    handler({VolumeEvent::Kind::Refused, value});
                });
            }
        } else {
            return;
        }
    }
}

}  // namespace hushwell
