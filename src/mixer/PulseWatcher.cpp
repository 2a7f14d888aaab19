#include "mixer/PulseWatcher.h"

#include <pulse/pulseaudio.h>
#include <pulse/timeval.h>

#include <utility>

namespace hushwell {
namespace {

constexpr pa_usec_t kRetry = 500 * PA_USEC_PER_MSEC;

}  // namespace

PulseWatcher::PulseWatcher(Report report) : m_report(std::move(report)) {
    m_loop = pa_threaded_mainloop_new();
    if (m_loop == nullptr || pa_threaded_mainloop_start(m_loop) < 0) {
        return;
    }
    pa_threaded_mainloop_lock(m_loop);
    connect();
    pa_threaded_mainloop_unlock(m_loop);
}

PulseWatcher::~PulseWatcher() {
    if (m_loop == nullptr) {
        return;
    }
    pa_threaded_mainloop_lock(m_loop);
    m_stopping = true;
    forget();
    pa_threaded_mainloop_unlock(m_loop);
    pa_threaded_mainloop_stop(m_loop);
    pa_threaded_mainloop_free(m_loop);
}

// Drops the connection, if any. Runs with the loop locked.
void PulseWatcher::forget() {
    if (m_context != nullptr) {
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
        m_context = nullptr;
    }
}

// A fresh connection; its state callback takes it from there. Runs with the loop locked.
void PulseWatcher::connect() {
    forget();
    m_context = pa_context_new(pa_threaded_mainloop_get_api(m_loop), "Hushwell watcher");
    if (m_context == nullptr) {
        return retryLater();
    }
    pa_context_set_state_callback(m_context, &PulseWatcher::onState, this);
    pa_context_set_subscribe_callback(
        m_context,
        [](pa_context* context, pa_subscription_event_type_t type, uint32_t index, void* self) {
            onChange(context, type, index, self);
        },
        this);
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        m_lost = true;
        retryLater();
    }
}

void PulseWatcher::retryLater() {
    if (m_retrying || m_stopping) {
        return;
    }
    m_retrying = true;
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_loop);
    struct timeval when {};
    pa_timeval_add(pa_gettimeofday(&when), kRetry);
    api->time_new(
        api, &when,
        [](pa_mainloop_api* a, pa_time_event* event, const struct timeval*, void* self) {
            a->time_free(event);
            auto* watcher = static_cast<PulseWatcher*>(self);
            watcher->m_retrying = false;
            if (!watcher->m_stopping) {
                watcher->connect();
            }
        },
        this);
}

void PulseWatcher::onState(pa_context* context, void* self) {
    auto* watcher = static_cast<PulseWatcher*>(self);
    switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY:
            pa_operation_unref(pa_context_subscribe(
                context,
                static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SERVER |
                                                    PA_SUBSCRIPTION_MASK_SINK_INPUT),
                nullptr, nullptr));
            pa_operation_unref(
                pa_context_get_server_info(context, &PulseWatcher::onServerInfo, self));
            if (std::exchange(watcher->m_lost, false)) {
                watcher->m_report(VolumeEvent::Kind::ServerBack);
            }
            break;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            // Gone: connect afresh, later, until the server is back.
            watcher->m_lost = true;
            watcher->retryLater();
            break;
        default:
            break;
    }
}

void PulseWatcher::onChange(pa_context* context, int facility, unsigned, void* self) {
    if ((facility & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) == PA_SUBSCRIPTION_EVENT_SERVER) {
        pa_operation_unref(pa_context_get_server_info(context, &PulseWatcher::onServerInfo, self));
    } else if ((facility & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) ==
                   PA_SUBSCRIPTION_EVENT_SINK_INPUT &&
               (facility & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_NEW) {
        static_cast<PulseWatcher*>(self)->m_report(VolumeEvent::Kind::StreamStarted);
    }
}

void PulseWatcher::onServerInfo(pa_context*, const pa_server_info* info, void* self) {
    auto* watcher = static_cast<PulseWatcher*>(self);
    if (info == nullptr || info->default_sink_name == nullptr) {
        return;
    }
    const std::string sink = info->default_sink_name;
    const bool changed = !watcher->m_defaultSink.empty() && sink != watcher->m_defaultSink;
    watcher->m_defaultSink = sink;
    if (changed) {
        watcher->m_report(VolumeEvent::Kind::OutputChanged);
    }
}

}  // namespace hushwell
