#include "mixer/PulseCapture.h"

#include <pulse/pulseaudio.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

namespace hushwell {
namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;
using TimePoint = std::chrono::time_point<Clock, Seconds>;

constexpr pa_usec_t kRetry = 1000 * PA_USEC_PER_MSEC;
constexpr double kCaptureRate = 11025;  // the record stream's rate
constexpr auto kBlockSamples = static_cast<std::size_t>(kCaptureRate / 10);
constexpr auto kBlockBytes = static_cast<std::uint32_t>(kBlockSamples * sizeof(float));
constexpr double kJump = 0.5;     // s between the count and the clock that starts it afresh
constexpr double kFollow = 0.01;  // of the difference taken up per piece

class PulseCapture final : public AudioCapture {
public:
    PulseCapture() {
        m_loop = pa_threaded_mainloop_new();
        if (m_loop != nullptr && pa_threaded_mainloop_start(m_loop) < 0) {
            pa_threaded_mainloop_free(m_loop);
            m_loop = nullptr;
        }
    }

    ~PulseCapture() override {
        if (m_loop == nullptr) {
            return;
        }
        stop();
        pa_threaded_mainloop_stop(m_loop);
        pa_threaded_mainloop_free(m_loop);
    }

    PulseCapture(const PulseCapture&) = delete;
    PulseCapture& operator=(const PulseCapture&) = delete;

    void start(const std::string& program, Samples samples) override {
        if (m_loop == nullptr) {
            return;
        }
        pa_threaded_mainloop_lock(m_loop);
        forget();
        m_program = program;
        m_samples = std::move(samples);
        m_running = true;
        connect();
        pa_threaded_mainloop_unlock(m_loop);
    }

    void stop() override {
        if (m_loop == nullptr) {
            return;
        }
        pa_threaded_mainloop_lock(m_loop);
        m_running = false;
        forget();
        m_samples = {};
        pa_threaded_mainloop_unlock(m_loop);
    }

private:
    // Everything below runs with the loop locked, on libpulse's thread or under start()/stop().

    void forget() {
        dropStream();
        if (m_context != nullptr) {
            pa_context_set_state_callback(m_context, nullptr, nullptr);
            pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
            pa_context_disconnect(m_context);
            pa_context_unref(m_context);
            m_context = nullptr;
        }
        m_defaultSink.clear();
    }

    void dropStream() {
        m_block.clear();
        m_counting = false;
        if (m_stream != nullptr) {
            pa_stream_set_state_callback(m_stream, nullptr, nullptr);
            pa_stream_set_read_callback(m_stream, nullptr, nullptr);
            pa_stream_disconnect(m_stream);
            pa_stream_unref(m_stream);
            m_stream = nullptr;
        }
    }

    void connect() {
        forget();
        m_context = pa_context_new(pa_threaded_mainloop_get_api(m_loop), "Hushwell listener");
        if (m_context == nullptr) {
            return retryLater();
        }
        pa_context_set_state_callback(m_context, &PulseCapture::onContextState, this);
        pa_context_set_subscribe_callback(
            m_context,
            [](pa_context* context, pa_subscription_event_type_t type, uint32_t, void* self) {
                if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) == PA_SUBSCRIPTION_EVENT_SERVER) {
                    pa_operation_unref(
                        pa_context_get_server_info(context, &PulseCapture::onServerInfo, self));
                }
            },
            this);
        if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            retryLater();
        }
    }

    // Starts afresh a second from now: the server, the stream or the program may be back.
    void retryLater() {
        if (m_retrying || !m_running) {
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
                auto* capture = static_cast<PulseCapture*>(self);
                capture->m_retrying = false;
                if (capture->m_running) {
                    capture->connect();
                }
            },
            this);
    }

    static void onContextState(pa_context* context, void* self) {
        auto* capture = static_cast<PulseCapture*>(self);
        switch (pa_context_get_state(context)) {
            case PA_CONTEXT_READY:
                pa_operation_unref(
                    pa_context_subscribe(context, PA_SUBSCRIPTION_MASK_SERVER, nullptr, nullptr));
                pa_operation_unref(
                    pa_context_get_server_info(context, &PulseCapture::onServerInfo, self));
                break;
            case PA_CONTEXT_FAILED:
            case PA_CONTEXT_TERMINATED:
                capture->retryLater();
                break;
            default:
                break;
        }
    }

    // Where the default output is, at the start and whenever the server changes: the default
    // monitor is taken afresh when the default sink is another.
    static void onServerInfo(pa_context* context, const pa_server_info* info, void* self) {
        auto* capture = static_cast<PulseCapture*>(self);
        if (info == nullptr || info->default_sink_name == nullptr ||
            capture->m_defaultSink == info->default_sink_name) {
            return;
        }
        capture->m_defaultSink = info->default_sink_name;
        if (capture->m_program.empty()) {
            // By the sink's own monitor: PipeWire does not know "@DEFAULT_MONITOR@".
            capture->m_wantedInput = PA_INVALID_INDEX;
            pa_operation_unref(pa_context_get_sink_info_by_name(context, info->default_sink_name,
                                                                &PulseCapture::onSink, self));
        } else if (capture->m_stream == nullptr) {
            pa_operation_unref(
                pa_context_get_sink_input_info_list(context, &PulseCapture::onSinkInput, self));
        }
    }

    // The program's first stream, once the list is through; none: try again later.
    static void onSinkInput(pa_context* context, const pa_sink_input_info* info, int last,
                            void* self) {
        auto* capture = static_cast<PulseCapture*>(self);
        if (last != 0) {
            if (capture->m_stream == nullptr && capture->m_wantedInput == PA_INVALID_INDEX) {
                capture->m_defaultSink.clear();
                capture->retryLater();
            } else if (capture->m_stream == nullptr) {
                pa_operation_unref(pa_context_get_sink_info_by_index(context, capture->m_wantedSink,
                                                                     &PulseCapture::onSink, self));
            }
            return;
        }
        if (info != nullptr && capture->m_wantedInput == PA_INVALID_INDEX &&
            programOf(info->proplist) == capture->m_program) {
            capture->m_wantedInput = info->index;
            capture->m_wantedSink = info->sink;
        }
    }

    static void onSink(pa_context*, const pa_sink_info* info, int last, void* self) {
        auto* capture = static_cast<PulseCapture*>(self);
        if (last == 0 && info != nullptr && info->monitor_source_name != nullptr) {
            capture->record(info->monitor_source_name, capture->m_wantedInput);
        }
        capture->m_wantedInput = PA_INVALID_INDEX;
    }

    static std::string programOf(const pa_proplist* properties) {
        for (const char* key : {PA_PROP_APPLICATION_PROCESS_BINARY, PA_PROP_APPLICATION_NAME}) {
            const char* value = pa_proplist_gets(properties, key);
            if (value != nullptr && *value != '\0') {
                return value;
            }
        }
        return {};
    }

    // A record stream from `source`, or from one stream's part of it.
    void record(const char* source, std::uint32_t sinkInput) {
        dropStream();
        const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, static_cast<std::uint32_t>(kCaptureRate),
                                    1};
        m_stream = pa_stream_new(m_context, "Hushwell listening", &format, nullptr);
        if (m_stream == nullptr) {
            return retryLater();
        }
        if (sinkInput != PA_INVALID_INDEX) {
            pa_stream_set_monitor_stream(m_stream, sinkInput);
        }
        pa_stream_set_state_callback(m_stream, &PulseCapture::onStreamState, this);
        pa_stream_set_read_callback(m_stream, &PulseCapture::onRead, this);
        pa_buffer_attr attributes{};
        attributes.maxlength = static_cast<std::uint32_t>(-1);
        attributes.fragsize = kBlockBytes;
        const auto flags = static_cast<pa_stream_flags_t>(
            PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE | PA_STREAM_DONT_INHIBIT_AUTO_SUSPEND);
        if (pa_stream_connect_record(m_stream, source, &attributes, flags) < 0) {
            dropStream();
            retryLater();
        }
    }

    static void onStreamState(pa_stream* stream, void* self) {
        const pa_stream_state_t state = pa_stream_get_state(stream);
        if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
            // The monitored stream or sink went away: start afresh from the connection.
            auto* capture = static_cast<PulseCapture*>(self);
            capture->dropStream();
            capture->m_defaultSink.clear();
            capture->retryLater();
        }
    }

    static void onRead(pa_stream* stream, std::size_t, void* self) {
        auto* capture = static_cast<PulseCapture*>(self);
        const void* data = nullptr;
        std::size_t bytes = 0;
        while (pa_stream_readable_size(stream) > 0 && pa_stream_peek(stream, &data, &bytes) >= 0 &&
               bytes > 0) {
            capture->take(static_cast<const float*>(data), bytes / sizeof(float));
            pa_stream_drop(stream);
        }
    }

    // Times come from counting samples, the clock only keeping the count's start true: the
    // server hands over pieces of any size at uneven moments, and a late piece must not look like
    // a gap. A hole (`data` null) or a jump of the clock starts the count afresh.
    void take(const float* data, std::size_t count) {
        const Clock::time_point now = Clock::now();
        const Seconds length(static_cast<double>(count) / kCaptureRate);
        const Seconds error = now - length - (m_countStart + m_counted);
        if (!m_counting || data == nullptr || std::abs(error.count()) > kJump) {
            deliver();
            m_countStart = now - length;
            m_counted = {};
            m_counting = data != nullptr;
        } else {
            m_countStart += error * kFollow;
        }
        if (data == nullptr) {
            return;
        }
        if (m_block.empty()) {
            m_blockStart = m_countStart + m_counted;
        }
        m_block.insert(m_block.end(), data, data + count);
        m_counted += length;
        if (m_block.size() >= kBlockSamples) {
            deliver();
        }
    }

    void deliver() {
        if (!m_block.empty() && m_samples) {
            m_samples(m_block, kCaptureRate,
                      std::chrono::time_point_cast<Clock::duration>(m_blockStart));
        }
        m_block.clear();
    }

    pa_threaded_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    std::string m_program;
    Samples m_samples;
    std::vector<float> m_block;  // samples not handed on yet
    TimePoint m_blockStart;
    TimePoint m_countStart;  // the time of the first sample counted
    Seconds m_counted{};
    bool m_counting = false;
    std::string m_defaultSink;
    std::uint32_t m_wantedInput = PA_INVALID_INDEX;
    std::uint32_t m_wantedSink = PA_INVALID_INDEX;
    bool m_running = false;
    bool m_retrying = false;
};

}  // namespace

std::unique_ptr<AudioCapture> pulseCapture() {
    return std::make_unique<PulseCapture>();
}

}  // namespace hushwell
