#pragma once

// Records when a PulseAudio server announces a change of a sink, from its own thread, and the
// sink's volume then (the mean of its channels, read right after the announcement); and when a
// player's stream appears. Used by the
// benches that time what the listener gets: the moment the server's volume moved.

#include <pulse/pulseaudio.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace hushwell::bench {

inline double msSinceEpoch(std::chrono::system_clock::time_point t) {
    return std::chrono::duration<double, std::milli>(t.time_since_epoch()).count();
}

class SinkWatcher {
public:
    struct Change {
        double at = 0;     // ms since the epoch on the wall clock, when it was announced
        long volume = -1;  // the sink's volume after it; -1 if the server did not tell it
        std::uint32_t sink = 0;
    };

    // The server `server` names ("unix:/path"), or libpulse's default when it is empty.
    explicit SinkWatcher(const std::string& server = {}) {
        m_loop = pa_threaded_mainloop_new();
        m_context = pa_context_new(pa_threaded_mainloop_get_api(m_loop), "hushwell bench");
        pa_context_set_state_callback(m_context, &SinkWatcher::onState, this);
        pa_context_set_subscribe_callback(m_context, &SinkWatcher::onEvent, this);
        pa_context_connect(m_context, server.empty() ? nullptr : server.c_str(),
                           PA_CONTEXT_NOAUTOSPAWN, nullptr);
        pa_threaded_mainloop_start(m_loop);
    }
    ~SinkWatcher() {
        pa_threaded_mainloop_stop(m_loop);
        if (m_record != nullptr) {
            pa_stream_disconnect(m_record);
            pa_stream_unref(m_record);
        }
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
        pa_threaded_mainloop_free(m_loop);
    }
    SinkWatcher(const SinkWatcher&) = delete;
    SinkWatcher& operator=(const SinkWatcher&) = delete;

    // The changes announced since the last call whose volume has been read.
    std::vector<Change> take() {
        std::lock_guard lock(m_mutex);
        return std::exchange(m_changes, {});
    }
    // When a player's stream appeared on the server (ms since the epoch), each since the last call.
    std::vector<double> takePlayers() {
        std::lock_guard lock(m_mutex);
        return std::exchange(m_players, {});
    }
    // When sound began on `monitor` (a sink's monitor source) after a silence, ms since the epoch,
    // each since the last call. A player's stream begins to sound only when the sink renders it,
    // which on a null sink that had rendered silence ahead comes a second or more after the stream
    // appeared: this is the moment what it plays is heard.
    void listenTo(const std::string& monitor) {
        pa_threaded_mainloop_lock(m_loop);
        for (int i = 0; i < 500 && pa_context_get_state(m_context) != PA_CONTEXT_READY; ++i) {
            pa_threaded_mainloop_unlock(m_loop);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            pa_threaded_mainloop_lock(m_loop);
        }
        const pa_sample_spec format{PA_SAMPLE_FLOAT32LE, kRate, 1};
        m_record = pa_stream_new(m_context, "hushwell bench onset", &format, nullptr);
        pa_stream_set_read_callback(m_record, &SinkWatcher::onRead, this);
        pa_buffer_attr attributes{};
        attributes.maxlength = static_cast<std::uint32_t>(-1);
        attributes.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(10000, &format));
        pa_stream_connect_record(m_record, monitor.c_str(), &attributes, PA_STREAM_ADJUST_LATENCY);
        pa_threaded_mainloop_unlock(m_loop);
    }
    std::vector<double> takeSounds() {
        std::lock_guard lock(m_mutex);
        return std::exchange(m_sounds, {});
    }
    // A sound on the monitor from its first to its last sounding sample (ms since the epoch),
    // each followed by at least 0.1 s of silence, since the last call. A new stream's first
    // samples may never reach the monitor (the sink rewinds what it had rendered ahead to mix
    // them in, and the monitor had that part already), so a sound's end times it better than
    // its beginning.
    struct Sound {
        double begin = 0, end = 0;
    };
    std::vector<Sound> takeEnded() {
        std::lock_guard lock(m_mutex);
        return std::exchange(m_ended, {});
    }
    // Waits until the subscription is in place, so that no change goes unseen.
    void waitUntilSubscribed() {
        for (int i = 0; i < 500 && !m_subscribed; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

private:
    static void onState(pa_context* context, void* self) {
        if (pa_context_get_state(context) == PA_CONTEXT_READY) {
            pa_operation_unref(pa_context_subscribe(
                context,
                static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK |
                                                    PA_SUBSCRIPTION_MASK_SINK_INPUT),
                [](pa_context*, int success, void* watcher) {
                    static_cast<SinkWatcher*>(watcher)->m_subscribed = success != 0;
                },
                self));
        }
    }
    static void onEvent(pa_context* context, pa_subscription_event_type_t type, uint32_t index,
                        void* self) {
        auto* watcher = static_cast<SinkWatcher*>(self);
        const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
        const auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
        if (facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT && kind == PA_SUBSCRIPTION_EVENT_NEW) {
            std::lock_guard lock(watcher->m_mutex);
            watcher->m_players.push_back(msSinceEpoch(std::chrono::system_clock::now()));
            return;
        }
        if (facility != PA_SUBSCRIPTION_EVENT_SINK || kind != PA_SUBSCRIPTION_EVENT_CHANGE) {
            return;
        }
        {
            std::lock_guard lock(watcher->m_mutex);
            watcher->m_asked.push_back({msSinceEpoch(std::chrono::system_clock::now()), -1, index});
        }
        pa_operation_unref(pa_context_get_sink_info_by_index(context, index, &onInfo, self));
    }
    // Answers come in the order asked: each completes the oldest change still waiting.
    static void onInfo(pa_context*, const pa_sink_info* info, int end, void* self) {
        auto* watcher = static_cast<SinkWatcher*>(self);
        std::lock_guard lock(watcher->m_mutex);
        if (watcher->m_asked.empty() || (end > 0 && info == nullptr)) {
            return;  // the end of an answer already taken
        }
        Change change = watcher->m_asked.front();
        watcher->m_asked.erase(watcher->m_asked.begin());
        if (info != nullptr) {
            change.volume = static_cast<long>(pa_cvolume_avg(&info->volume));
        }
        watcher->m_changes.push_back(change);
    }
    static void onRead(pa_stream* stream, std::size_t, void* self) {
        auto* watcher = static_cast<SinkWatcher*>(self);
        const void* data = nullptr;
        std::size_t bytes = 0;
        while (pa_stream_peek(stream, &data, &bytes) == 0 && bytes > 0) {
            const double now = msSinceEpoch(std::chrono::system_clock::now());
            const std::size_t count = bytes / sizeof(float);
            for (std::size_t i = 0; data != nullptr && i < count; ++i) {
                const bool sounding = std::abs(static_cast<const float*>(data)[i]) > 0.001F;
                const double at = now - static_cast<double>(count - i) * 1000.0 / kRate;
                if (sounding && watcher->m_silentFor >= kRate / 2) {
                    std::lock_guard lock(watcher->m_mutex);
                    watcher->m_sounds.push_back(at);
                }
                if (sounding && watcher->m_silentFor >= kRate / 10) {
                    watcher->m_sound.begin = at;
                }
                if (sounding) {
                    watcher->m_sound.end = at;
                }
                watcher->m_silentFor = sounding ? 0 : watcher->m_silentFor + 1;
                if (watcher->m_silentFor == kRate / 10 && watcher->m_sound.end > 0) {
                    std::lock_guard lock(watcher->m_mutex);
                    watcher->m_ended.push_back(watcher->m_sound);
                }
            }
            pa_stream_drop(stream);
        }
    }

    static constexpr std::uint32_t kRate = 11025;
    pa_stream* m_record = nullptr;
    std::uint32_t m_silentFor = kRate;  // samples of silence in a row on the monitor
    std::vector<double> m_sounds;
    Sound m_sound;  // the sound going on, or the last one
    std::vector<Sound> m_ended;
    pa_threaded_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
    std::mutex m_mutex;
    std::vector<Change> m_changes;
    std::vector<double> m_players;
    std::vector<Change> m_asked;  // changes whose volume is still to come
    std::atomic<bool> m_subscribed{false};
};

}  // namespace hushwell::bench
