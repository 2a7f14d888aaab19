#include "mixer/pulse/PulseConnection.h"

#include <poll.h>
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <utility>

namespace hushwell {
namespace {

constexpr pa_usec_t kRetry = 500 * PA_USEC_PER_MSEC;

}  // namespace

WakePacing::Clock::time_point WakePacing::waitUntil(Clock::time_point now,
                                                    std::optional<Clock::time_point> timer) const {
    if (!m_audio) {
        return now;
    }
    const Clock::time_point paced =
        timer ? std::min(m_wokeAt + m_pause, *timer) : m_wokeAt + m_pause;
    return std::max(now, paced);
}

std::string programOf(const pa_proplist* properties) {
    for (const char* key : {PA_PROP_APPLICATION_PROCESS_BINARY, PA_PROP_APPLICATION_NAME}) {
        const char* value = pa_proplist_gets(properties, key);
        if (value != nullptr && *value != '\0') {
            return value;
        }
    }
    return {};
}

std::shared_ptr<PulseConnection> PulseConnection::shared() {
    static std::mutex mutex;
    static std::weak_ptr<PulseConnection> current;
    const std::lock_guard lock(mutex);
    std::shared_ptr<PulseConnection> connection = current.lock();
    if (!connection) {
        connection = std::make_shared<PulseConnection>();
        current = connection;
    }
    return connection;
}

PulseConnection::PulseConnection() : m_loop(pa_mainloop_new()) {
    pa_mainloop_set_poll_func(m_loop, &PulseConnection::poll, this);
    const std::lock_guard hold(*this);
    m_thread = std::thread([this] {
        const std::lock_guard lock(m_mutex);
        pa_mainloop_run(m_loop, nullptr);
    });
    connect();
}

PulseConnection::~PulseConnection() {
    lock();
    drop();
    if (m_retry != nullptr) {
        pa_mainloop_get_api(m_loop)->time_free(m_retry);
    }
    pa_mainloop_quit(m_loop, 0);
    unlock();
    m_thread.join();
    pa_mainloop_free(m_loop);
}

void PulseConnection::unlock() {
    tell();
    m_mutex.unlock();
}

void PulseConnection::tell() {
    {
        const std::lock_guard told(m_tellMutex);
        m_told = true;
    }
    m_wake.notify_one();
}

void PulseConnection::listen(PulseListener& listener) {
    m_listeners.push_back(&listener);
    if (ready()) {
        askAll();
    }
}

void PulseConnection::forget(PulseListener& listener) {
    std::erase(m_listeners, &listener);
}

bool PulseConnection::ready() const {
    return m_context != nullptr && pa_context_get_state(m_context) == PA_CONTEXT_READY;
}

bool PulseConnection::good() const {
    return m_context != nullptr && PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context));
}

void PulseConnection::drop() {
    if (m_context != nullptr) {
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
        m_context = nullptr;
    }
}

// A fresh connection; its state callback takes it from there.
void PulseConnection::connect() {
    drop();
    m_context = pa_context_new(pa_mainloop_get_api(m_loop), "Hushwell");
    pa_context_set_state_callback(
        m_context,
        [](pa_context* context, void* self) {
            auto* connection = static_cast<PulseConnection*>(self);
            const pa_context_state_t state = pa_context_get_state(context);
            if (state == PA_CONTEXT_READY) {
                pa_operation_unref(pa_context_subscribe(
                    context,
                    static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SERVER |
                                                        PA_SUBSCRIPTION_MASK_SINK |
                                                        PA_SUBSCRIPTION_MASK_SINK_INPUT),
                    nullptr, nullptr));
                connection->askAll();
            } else if (!PA_CONTEXT_IS_GOOD(state) && state != PA_CONTEXT_UNCONNECTED) {
                connection->failed();
            }
        },
        this);
    pa_context_set_subscribe_callback(
        m_context,
        [](pa_context* context, pa_subscription_event_type_t type, std::uint32_t index,
           void* self) {
            auto* connection = static_cast<PulseConnection*>(self);
            const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
            const auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
            if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
                pa_operation_unref(pa_context_get_server_info(context, &onServer, self));
            } else if (kind == PA_SUBSCRIPTION_EVENT_REMOVE) {
                for (PulseListener* listener : connection->m_listeners) {
                    if (facility == PA_SUBSCRIPTION_EVENT_SINK) {
                        listener->sink(index, nullptr);
                    } else {
                        listener->input(index, nullptr, false);
                    }
                }
            } else if (facility == PA_SUBSCRIPTION_EVENT_SINK) {
                pa_operation_unref(
                    pa_context_get_sink_info_by_index(context, index, &onSink, self));
            } else {
                pa_operation_unref(pa_context_get_sink_input_info(
                    context, index,
                    kind == PA_SUBSCRIPTION_EVENT_NEW ? &onInput<true> : &onInput<false>, self));
            }
        },
        this);
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        failed();
    }
}

// Gone, or not there: every listener told, and a connection afresh later.
void PulseConnection::failed() {
    for (PulseListener* listener : m_listeners) {
        listener->lost();
    }
    retryLater();
}

void PulseConnection::retryLater() {
    if (m_retry != nullptr) {
        return;
    }
    pa_mainloop_api* api = pa_mainloop_get_api(m_loop);
    struct timeval when {};
    pa_timeval_add(pa_gettimeofday(&when), kRetry);
    m_retry = api->time_new(
        api, &when,
        [](pa_mainloop_api* a, pa_time_event* event, const struct timeval*, void* self) {
            a->time_free(event);
            auto* connection = static_cast<PulseConnection*>(self);
            connection->m_retry = nullptr;
            if (connection->ready()) {
                connection->askAll();
            } else if (!connection->good()) {
                connection->connect();
            }
        },
        this);
}

// Answered in this order: the sinks are known before the streams on them.
void PulseConnection::askAll() {
    pa_operation_unref(pa_context_get_server_info(m_context, &onServer, this));
    pa_operation_unref(pa_context_get_sink_info_list(m_context, &onSink, this));
    pa_operation_unref(pa_context_get_sink_input_info_list(m_context, &onInput<false>, this));
}

void PulseConnection::onServer(pa_context*, const pa_server_info* info, void* self) {
    for (PulseListener* listener : static_cast<PulseConnection*>(self)->m_listeners) {
        if (info != nullptr) {
            listener->server(*info);
        }
    }
}

void PulseConnection::onSink(pa_context*, const pa_sink_info* info, int last, void* self) {
    const bool told = last == 0 && info != nullptr;
    for (PulseListener* listener : static_cast<PulseConnection*>(self)->m_listeners) {
        listener->sink(told ? info->index : PA_INVALID_INDEX, told ? info : nullptr);
    }
}

template <bool Started>
void PulseConnection::onInput(pa_context*, const pa_sink_input_info* info, int last, void* self) {
    const bool told = last == 0 && info != nullptr;
    for (PulseListener* listener : static_cast<PulseConnection*>(self)->m_listeners) {
        listener->input(told ? info->index : PA_INVALID_INDEX, told ? info : nullptr, Started);
    }
}

bool PulseConnection::reach(Clock::time_point deadline) {
    bool afresh = false;
    while (!ready()) {
        if (!good()) {
            if (std::exchange(afresh, true)) {
                return false;
            }
            connect();
        }
        if (!waitUntil(deadline, [this] { return ready() || !good(); })) {
            return false;
        }
    }
    return true;
}

bool PulseConnection::wait(pa_operation* operation, Clock::time_point deadline) {
    if (operation == nullptr) {
        return false;
    }
    (void)waitUntil(deadline, [operation] {
        return pa_operation_get_state(operation) != PA_OPERATION_RUNNING;
    });
    const bool done = pa_operation_get_state(operation) == PA_OPERATION_DONE;
    if (!done) {
        pa_operation_cancel(operation);
    }
    pa_operation_unref(operation);
    return done;
}

// The loop runs while this thread waits, unpaced; it tells each round.
template <typename Done>
bool PulseConnection::waitUntil(Clock::time_point deadline, Done done) {
    ++m_callers;
    tell();
    std::unique_lock held(m_mutex, std::adopt_lock);
    const bool met = m_answered.wait_until(held, deadline, done);
    held.release();
    --m_callers;
    return met;
}

int PulseConnection::poll(pollfd* fds, unsigned long count, int timeout, void* self) {
    auto* loop = static_cast<PulseConnection*>(self);
    if (loop->m_callers > 0) {
        loop->m_answered.notify_all();
    }
    const Clock::time_point now = Clock::now();
    const std::optional<Clock::time_point> timer =
        timeout < 0 ? std::nullopt : std::optional(now + std::chrono::milliseconds(timeout));
    const Clock::time_point until =
        loop->m_callers > 0 ? now : loop->m_pacing.waitUntil(now, timer);
    loop->m_mutex.unlock();
    int ready = ::poll(fds, count, 0);
    const bool wait = ready == 0 && timeout != 0;
    if (wait) {
        {
            std::unique_lock told(loop->m_tellMutex);
            loop->m_wake.wait_until(told, until, [loop] { return loop->m_told; });
            loop->m_told = false;
        }
        const auto left =
            timer ? std::max(std::chrono::ceil<std::chrono::milliseconds>(*timer - Clock::now()),
                             std::chrono::milliseconds(0))
                  : std::chrono::milliseconds(-1);
        ready = ::poll(fds, count, static_cast<int>(left.count()));
    }
    loop->m_mutex.lock();
    if (wait) {
        loop->m_pacing.woke(Clock::now());
    }
    return ready;
}

}  // namespace hushwell
