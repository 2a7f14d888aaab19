#include "mixer/PulseCapture.h"

#include <poll.h>
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace hushwell {

void StreamMix::add(std::uint32_t stream, Clock::time_point now) {
    std::uint64_t furthest = m_through;
    for (const Lane& lane : m_lanes) {
        if (lane.stream == stream) {
            return;
        }
        furthest = std::max(furthest, lane.at);
    }
    m_lanes.push_back({stream, furthest, now});
}

void StreamMix::remove(std::uint32_t stream) {
    std::erase_if(m_lanes, [stream](const Lane& lane) { return lane.stream == stream; });
    if (m_lanes.empty()) {
        m_sum.clear();
        m_through = 0;
    }
}

std::span<const float> StreamMix::push(std::uint32_t stream, std::span<const float> samples,
                                       Clock::time_point now) {
    const auto lane = std::find_if(m_lanes.begin(), m_lanes.end(),
                                   [stream](const Lane& each) { return each.stream == stream; });
    m_out.clear();
    if (lane == m_lanes.end()) {
        return m_out;
    }
    const auto offset = static_cast<std::size_t>(lane->at - m_through);
    m_sum.resize(std::max(m_sum.size(), offset + samples.size()), 0.0F);
    std::transform(samples.begin(), samples.end(), m_sum.begin() + std::ptrdiff_t(offset),
                   m_sum.begin() + std::ptrdiff_t(offset), std::plus<>());
    lane->at += samples.size();
    lane->heard = now;
    std::uint64_t furthest = 0;
    for (const Lane& each : m_lanes) {
        furthest = std::max(furthest, each.at);
    }
    // Waited for: the streams heard from lately, and not too far behind.
    std::uint64_t through = furthest;
    for (const Lane& each : m_lanes) {
        if (now - each.heard <= m_patience) {
            through = std::min(through, each.at);
        }
    }
    through = std::max(through, furthest - std::min<std::uint64_t>(furthest, m_slack));
    for (Lane& each : m_lanes) {
        each.at = std::max(each.at, through);
    }
    const auto count = std::ptrdiff_t(through - m_through);
    m_out.assign(m_sum.begin(), m_sum.begin() + count);
    m_sum.erase(m_sum.begin(), m_sum.begin() + count);
    m_through = through;
    return m_out;
}

std::uint8_t recordedChannels(std::uint8_t sinkChannels, bool pipeWire) {
    return !pipeWire && sinkChannels <= 2 ? 1 : sinkChannels;
}

WakePacing::Clock::time_point WakePacing::waitUntil(Clock::time_point now,
                                                    std::optional<Clock::time_point> timer) const {
    if (!m_audio) {
        return now;
    }
    const Clock::time_point paced =
        timer ? std::min(m_wokeAt + m_pause, *timer) : m_wokeAt + m_pause;
    return std::max(now, paced);
}

bool SampleClock::follows(std::size_t count, Clock::time_point now) const {
    return m_counting && behind(count, now) <= m_jump;
}

double SampleClock::behind(std::size_t count, Clock::time_point now) const {
    const TimePoint end = m_start + Seconds(static_cast<double>(m_counted + count) / m_rate);
    return Seconds(now - end).count();
}

void SampleClock::add(std::size_t count, Clock::time_point now) {
    if (!m_counting) {
        m_start = now - Seconds(static_cast<double>(count) / m_rate);
        m_counted = 0;
        m_handed = 0;
        m_handedAny = false;
        m_counting = true;
    } else {
        m_start += Seconds(std::min(behind(count, now), kCreep));
    }
    m_counted += count;
}

SampleClock::Clock::time_point SampleClock::handOn(std::size_t count) {
    const TimePoint counted = m_start + Seconds(static_cast<double>(m_handed) / m_rate);
    const TimePoint start = m_handedAny ? std::clamp(counted, m_handedEnd - Seconds(kSlew),
                                                     m_handedEnd + Seconds(kSlew))
                                        : counted;
    m_handed += count;
    m_handedEnd = start + Seconds(static_cast<double>(count) / m_rate);
    m_handedAny = true;
    return std::chrono::time_point_cast<Clock::duration>(start);
}

namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

constexpr pa_usec_t kRetry = 1000 * PA_USEC_PER_MSEC;
// s the server gathers before it hands a piece over: while prompt on PulseAudio (a switch comes up
// to that after its sound, and the capture's thread wakes at most that often while audio comes),
// always on PipeWire, and while not prompt.
constexpr double kFragment = 0.5;
constexpr double kFixedFragment = 0.25;
constexpr double kRelaxedFragment = 2.0;
constexpr double kBlock = 0.1;  // s of audio handed on at a time
// s a program's stream may fall behind its others while it is waited for: its pieces come a
// fragment at a time (or two, read late) on a beat of their own, and it is waited for while one
// came within a fragment, a wake-up's pause and a margin.
constexpr double kSlack = 2 * kRelaxedFragment + 1;
constexpr double kPatience = kRelaxedFragment + 1;
// s the count may fall behind the clock before it starts afresh: beyond the first piece of a
// fragment, which comes when the fragment is complete.
constexpr double kJump = kRelaxedFragment + 0.5;
// A program's streams are handed on as far as the one a fragment behind has come: the mix may lag
// a fragment more.
constexpr double kMixJump = kJump + kRelaxedFragment;
constexpr std::uint32_t kWholeOutput = PA_INVALID_INDEX;  // the monitor of the sink itself

// A sink as its monitor is recorded: its own sample format and channels.
struct Sink {
    std::string name;
    std::string monitor;
    std::uint32_t rate = 0;
    pa_channel_map channels{};
    pa_sample_format_t format = PA_SAMPLE_FLOAT32NE;
};

// A stream that plays to a sink.
struct Input {
    std::uint32_t sink = PA_INVALID_INDEX;
    bool playing = false;  // not corked
};

class PulseCapture;

// libpulse's loop on a thread of its own, locked but while it waits, as pa_threaded_mainloop runs
// it, paced by a WakePacing: a server that hands over a piece every few milliseconds does not
// wake it each time.
class PacedLoop {
public:
    PacedLoop() : m_loop(pa_mainloop_new()) {
        if (m_loop == nullptr) {
            return;
        }
        pa_mainloop_set_poll_func(m_loop, &PacedLoop::poll, this);
        m_thread = std::thread([this] {
            const std::lock_guard lock(m_mutex);
            pa_mainloop_run(m_loop, nullptr);
        });
    }

    ~PacedLoop() {
        if (m_loop == nullptr) {
            return;
        }
        lock();
        pa_mainloop_quit(m_loop, 0);
        unlock();
        m_thread.join();
        pa_mainloop_free(m_loop);
    }

    PacedLoop(const PacedLoop&) = delete;
    PacedLoop& operator=(const PacedLoop&) = delete;

    [[nodiscard]] bool running() const { return m_loop != nullptr; }
    [[nodiscard]] pa_mainloop_api* api() const { return pa_mainloop_get_api(m_loop); }
    // With the loop locked, on its thread or under lock().
    WakePacing& pacing() { return m_pacing; }

    // From another thread: the loop is held until unlock(), which ends its wait.
    void lock() { m_mutex.lock(); }
    void unlock() {
        {
            const std::lock_guard told(m_tellMutex);
            m_told = true;
        }
        m_wake.notify_one();
        m_mutex.unlock();
    }

private:
    static int poll(pollfd* fds, unsigned long count, int timeout, void* self) {
        auto* loop = static_cast<PacedLoop*>(self);
        const Clock::time_point now = Clock::now();
        const std::optional<Clock::time_point> timer =
            timeout < 0 ? std::nullopt : std::optional(now + std::chrono::milliseconds(timeout));
        const Clock::time_point until = loop->m_pacing.waitUntil(now, timer);
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
                timer
                    ? std::max(std::chrono::ceil<std::chrono::milliseconds>(*timer - Clock::now()),
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

    pa_mainloop* m_loop;
    std::mutex m_mutex;  // held by the loop's thread but while it waits
    WakePacing m_pacing;
    std::mutex m_tellMutex;
    std::condition_variable m_wake;
    bool m_told = false;  // another thread had the loop since it last waited
    std::thread m_thread;
};

// One record stream: the whole output's, or one sink input's (`input`).
struct Monitor {
    PulseCapture* capture = nullptr;
    std::uint32_t input = kWholeOutput;
    std::uint32_t sink = PA_INVALID_INDEX;
    pa_stream* stream = nullptr;
    std::uint32_t sinkRate = 0;  // and channels, when it was recorded
    std::uint8_t sinkChannels = 0;
    double fragment = 0;  // s, asked of the server
    bool s16 = false;     // its samples: 16-bit, else floats
};

class PulseCapture final : public AudioCapture {
public:
    PulseCapture() {
        if (m_loop.running()) {
            m_loop.lock();
            m_loop.pacing().setPause(pause());
            m_loop.unlock();
        }
    }

    ~PulseCapture() override { stop(); }

    PulseCapture(const PulseCapture&) = delete;
    PulseCapture& operator=(const PulseCapture&) = delete;

    void start(const std::string& program, Samples samples) override {
        if (!m_loop.running()) {
            return;
        }
        m_loop.lock();
        forget();
        m_program = program;
        m_samples = std::move(samples);
        m_running = true;
        connect();
        m_loop.unlock();
    }

    void stop() override {
        if (!m_loop.running()) {
            return;
        }
        m_loop.lock();
        m_running = false;
        forget();
        m_samples = {};
        m_loop.unlock();
    }

    void setActive(bool active) override {
        if (!m_loop.running() || m_askedActive.exchange(active) == active) {
            return;
        }
        m_loop.lock();
        m_active = active;
        follow();
        m_loop.unlock();
    }

    void setPrompt(bool prompt) override {
        // Asked each second: the loop is woken only for a change.
        if (!m_loop.running() || m_askedPrompt.exchange(prompt) == prompt) {
            return;
        }
        m_loop.lock();
        m_prompt = prompt;
        m_loop.pacing().setPause(pause());
        for (const auto& monitor : m_monitors) {
            askFragment(*monitor);
        }
        m_loop.unlock();
    }

private:
    // Everything below runs with the loop locked, on libpulse's thread or under start()/stop().

    void forget() {
        while (!m_monitors.empty()) {
            drop(*m_monitors.back());
        }
        if (m_context != nullptr) {
            pa_context_set_state_callback(m_context, nullptr, nullptr);
            pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
            pa_context_disconnect(m_context);
            pa_context_unref(m_context);
            m_context = nullptr;
        }
        m_sinks.clear();
        m_inputs.clear();
        m_defaultSink.clear();
    }

    void drop(Monitor& monitor) {
        if (monitor.stream != nullptr) {
            pa_stream_set_state_callback(monitor.stream, nullptr, nullptr);
            pa_stream_set_read_callback(monitor.stream, nullptr, nullptr);
            pa_stream_disconnect(monitor.stream);
            pa_stream_unref(monitor.stream);
        }
        m_mix.remove(monitor.input);
        std::erase_if(m_monitors, [&monitor](const auto& each) { return each.get() == &monitor; });
        if (m_monitors.empty()) {
            // Nothing recorded: the next stream may be at another rate, and a gap follows.
            restartCount();
        }
    }

    void connect() {
        forget();
        m_context = pa_context_new(m_loop.api(), "Hushwell listener");
        if (m_context == nullptr) {
            return retryLater();
        }
        pa_context_set_state_callback(m_context, &PulseCapture::onContextState, this);
        pa_context_set_subscribe_callback(m_context, &PulseCapture::onEvent, this);
        if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            retryLater();
        }
    }

    [[nodiscard]] bool connected() const {
        return m_context != nullptr && pa_context_get_state(m_context) == PA_CONTEXT_READY;
    }

    // A second from now: a connection afresh when the server went away, else another look at
    // what is there (a record stream failed).
    void retryLater() {
        if (m_retrying || !m_running) {
            return;
        }
        m_retrying = true;
        pa_mainloop_api* api = m_loop.api();
        struct timeval when {};
        pa_timeval_add(pa_gettimeofday(&when), kRetry);
        api->time_new(
            api, &when,
            [](pa_mainloop_api* a, pa_time_event* event, const struct timeval*, void* self) {
                a->time_free(event);
                auto* capture = static_cast<PulseCapture*>(self);
                capture->m_retrying = false;
                if (!capture->m_running) {
                    return;
                }
                if (capture->connected()) {
                    capture->follow();
                } else {
                    capture->connect();
                }
            },
            this);
    }

    static void onContextState(pa_context* context, void* self) {
        auto* capture = static_cast<PulseCapture*>(self);
        switch (pa_context_get_state(context)) {
            case PA_CONTEXT_READY: {
                pa_operation_unref(pa_context_subscribe(
                    context,
                    static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SERVER |
                                                        PA_SUBSCRIPTION_MASK_SINK |
                                                        PA_SUBSCRIPTION_MASK_SINK_INPUT),
                    nullptr, nullptr));
                // Answered in this order: the sinks are known before the streams on them.
                pa_operation_unref(pa_context_get_server_info(context, &onServerInfo, self));
                pa_operation_unref(pa_context_get_sink_info_list(context, &onSink, self));
                pa_operation_unref(
                    pa_context_get_sink_input_info_list(context, &onSinkInput, self));
                break;
            }
            case PA_CONTEXT_FAILED:
            case PA_CONTEXT_TERMINATED:
                capture->retryLater();
                break;
            default:
                break;
        }
    }

    static void onEvent(pa_context* context, pa_subscription_event_type_t type, std::uint32_t index,
                        void* self) {
        auto* capture = static_cast<PulseCapture*>(self);
        const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
        const bool removed =
            (type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_REMOVE;
        if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
            pa_operation_unref(pa_context_get_server_info(context, &onServerInfo, self));
        } else if (facility == PA_SUBSCRIPTION_EVENT_SINK && removed) {
            capture->m_sinks.erase(index);
            capture->follow();
        } else if (facility == PA_SUBSCRIPTION_EVENT_SINK) {
            pa_operation_unref(pa_context_get_sink_info_by_index(context, index, &onSink, self));
        } else if (facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT && removed) {
            capture->m_inputs.erase(index);
            capture->follow();
        } else if (facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT) {
            pa_operation_unref(pa_context_get_sink_input_info(context, index, &onSinkInput, self));
        }
    }

    static void onServerInfo(pa_context*, const pa_server_info* info, void* self) {
        auto* capture = static_cast<PulseCapture*>(self);
        if (info != nullptr && info->server_name != nullptr) {
            capture->m_fixedFragments =
                std::string_view(info->server_name).find("PipeWire") != std::string_view::npos;
            capture->m_loop.pacing().setPause(capture->pause());
        }
        if (info != nullptr && info->default_sink_name != nullptr) {
            capture->m_defaultSink = info->default_sink_name;
            capture->follow();
        }
    }

    static void onSink(pa_context*, const pa_sink_info* info, int last, void* self) {
        auto* capture = static_cast<PulseCapture*>(self);
        if (last != 0) {
            capture->follow();
        } else if (info != nullptr && info->monitor_source_name != nullptr) {
            capture->m_sinks[info->index] = {info->name, info->monitor_source_name,
                                             info->sample_spec.rate, info->channel_map,
                                             info->sample_spec.format};
        }
    }

    static void onSinkInput(pa_context*, const pa_sink_input_info* info, int last, void* self) {
        auto* capture = static_cast<PulseCapture*>(self);
        if (last != 0) {
            capture->follow();
        } else if (info != nullptr && (capture->m_program.empty() ||
                                       programOf(info->proplist) == capture->m_program)) {
            capture->m_inputs[info->index] = {info->sink, info->corked == 0};
        }
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

    // Records what should be recorded as far as the server has told: the default sink's
    // monitor while a stream plays to it, or each of the program's streams that plays, on its
    // sink; stops what should not be. Nothing is recorded while nothing plays, nor while not
    // active: the streams are ended, which spares the server more than corking them (a corked
    // stream still cost PipeWire about 0.15 % of a core), and the count starts afresh after.
    void follow() {
        if (!connected()) {
            return;
        }
        std::map<std::uint32_t, std::uint32_t> wanted;  // stream (or the whole output): its sink
        for (const auto& [index, input] : m_inputs) {
            if (!input.playing || !m_active) {
                continue;
            }
            if (!m_program.empty()) {
                wanted[index] = input.sink;
            } else if (const auto sink = m_sinks.find(input.sink);
                       sink != m_sinks.end() && sink->second.name == m_defaultSink) {
                wanted[kWholeOutput] = input.sink;
            }
        }
        for (std::size_t i = m_monitors.size(); i-- > 0;) {
            const auto it = wanted.find(m_monitors[i]->input);
            if (it == wanted.end() || it->second != m_monitors[i]->sink ||
                !current(*m_monitors[i])) {
                drop(*m_monitors[i]);
            } else {
                wanted.erase(it);
            }
        }
        for (const auto& [input, sink] : wanted) {
            if (const auto found = m_sinks.find(sink); found != m_sinks.end()) {
                record(input, sink, found->second);
            }
        }
    }

    // Whether the monitor's sink is still there in the format it was recorded in.
    [[nodiscard]] bool current(const Monitor& monitor) const {
        const auto sink = m_sinks.find(monitor.sink);
        return sink != m_sinks.end() && sink->second.rate == monitor.sinkRate &&
               sink->second.channels.channels == monitor.sinkChannels;
    }

    // A record stream from the sink's monitor, or from one stream's part of it, at the sink's own
    // rate (the first stream's for all of a program's), which the server does not resample, in
    // recordedChannels(): 16-bit samples stay 16-bit, other formats come as floats.
    void record(std::uint32_t input, std::uint32_t sinkIndex, const Sink& sink) {
        if (m_monitors.empty()) {
            m_rate = sink.rate;
            m_mix = StreamMix(static_cast<std::size_t>(kSlack * m_rate),
                              std::chrono::duration_cast<Clock::duration>(Seconds(kPatience)));
            m_clock = SampleClock(m_rate, m_program.empty() ? kJump : kMixJump);
        }
        const pa_sample_spec format{
            sink.format == PA_SAMPLE_S16NE ? PA_SAMPLE_S16NE : PA_SAMPLE_FLOAT32NE, m_rate,
            recordedChannels(sink.channels.channels, m_fixedFragments)};
        if (pa_sample_spec_valid(&format) == 0) {
            return;
        }
        auto monitor = std::make_unique<Monitor>(Monitor{this, input, sinkIndex, nullptr, sink.rate,
                                                         sink.channels.channels, 0,
                                                         format.format == PA_SAMPLE_S16NE});
        pa_channel_map mono{};
        monitor->stream =
            pa_stream_new(m_context, "Hushwell listening", &format,
                          format.channels == 1 ? pa_channel_map_init_mono(&mono) : &sink.channels);
        if (monitor->stream == nullptr) {
            return retryLater();
        }
        if (input != kWholeOutput) {
            pa_stream_set_monitor_stream(monitor->stream, input);
        }
        pa_stream_set_state_callback(monitor->stream, &PulseCapture::onStreamState, monitor.get());
        pa_stream_set_read_callback(monitor->stream, &PulseCapture::onRead, monitor.get());
        monitor->fragment = fragment();
        const pa_buffer_attr attributes = bufferOf(monitor->fragment, format);
        // Not PA_STREAM_ADJUST_LATENCY: that asks the sink for the fragment as its latency, and
        // PulseAudio then renders and hands over pieces more often than the players ask (the
        // server's share of following halved without it). The pieces still come a fragment at a
        // time, as soon as the sink has rendered them.
        const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_DONT_MOVE |
                                                          PA_STREAM_DONT_INHIBIT_AUTO_SUSPEND);
        m_mix.add(input, Clock::now());
        Monitor& added = *m_monitors.emplace_back(std::move(monitor));
        if (pa_stream_connect_record(added.stream, sink.monitor.c_str(), &attributes, flags) < 0) {
            drop(added);
            retryLater();
        }
    }

    // PipeWire hands over a piece each cycle whatever the fragment, and a record stream asked for
    // another fragment then gets a burst (1.7 s of samples at once) that throws the times off by
    // as much: there the prompt fragment is kept.
    [[nodiscard]] double fragment() const {
        return m_fixedFragments ? kFixedFragment : m_prompt ? kFragment : kRelaxedFragment;
    }

    // The least time between two wake-ups while audio comes: the prompt fragment, relaxed or not
    // (pieces read that much late stay well within kJump). PipeWire hands over a fragment at a
    // time anyway, and a record stream read late there loses audio.
    [[nodiscard]] Clock::duration pause() const {
        return m_fixedFragments ? Clock::duration{}
                                : std::chrono::duration_cast<Clock::duration>(Seconds(kFragment));
    }

    static pa_buffer_attr bufferOf(double fragment, const pa_sample_spec& format) {
        pa_buffer_attr attributes{};
        attributes.maxlength = static_cast<std::uint32_t>(-1);
        attributes.fragsize =
            static_cast<std::uint32_t>(pa_usec_to_bytes(pa_usec_t(fragment * 1e6), &format));
        return attributes;
    }

    // The fragment of the moment, for a stream made while it was another; a stream not yet
    // ready is asked once it is.
    void askFragment(Monitor& monitor) {
        if (monitor.fragment == fragment() ||
            pa_stream_get_state(monitor.stream) != PA_STREAM_READY) {
            return;
        }
        monitor.fragment = fragment();
        const pa_buffer_attr attributes =
            bufferOf(monitor.fragment, *pa_stream_get_sample_spec(monitor.stream));
        if (pa_operation* asked =
                pa_stream_set_buffer_attr(monitor.stream, &attributes, nullptr, nullptr)) {
            pa_operation_unref(asked);
        }
    }

    static void onStreamState(pa_stream* stream, void* self) {
        const pa_stream_state_t state = pa_stream_get_state(stream);
        if (state == PA_STREAM_READY) {
            auto* monitor = static_cast<Monitor*>(self);
            monitor->capture->askFragment(*monitor);
        }
        if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
            // The stream or sink went away, or moved: the server tells which; else look again.
            auto* monitor = static_cast<Monitor*>(self);
            PulseCapture* capture = monitor->capture;
            capture->drop(*monitor);
            capture->retryLater();
        }
    }

    // Each piece the server handed over, mixed down to mono floats. Peeked only: each call into
    // libpulse asks the kernel whether the process forked, and a piece comes per render of the
    // sink.
    static void onRead(pa_stream* stream, std::size_t, void* self) {
        auto* monitor = static_cast<Monitor*>(self);
        PulseCapture* capture = monitor->capture;
        const std::size_t channels = pa_stream_get_sample_spec(stream)->channels;
        const std::size_t frameBytes =
            channels * (monitor->s16 ? sizeof(std::int16_t) : sizeof(float));
        const void* data = nullptr;
        std::size_t bytes = 0;
        while (pa_stream_peek(stream, &data, &bytes) >= 0 && bytes > 0) {
            std::span<const float> mono;
            capture->m_mono.resize(bytes / frameBytes);
            if (data == nullptr) {
                // A hole in the stream is silence in the mix.
                std::fill(capture->m_mono.begin(), capture->m_mono.end(), 0.0F);
                mono = capture->m_mono;
            } else if (monitor->s16) {
                downmix(static_cast<const std::int16_t*>(data), channels, 1.0F / 32768.0F,
                        capture->m_mono);
                mono = capture->m_mono;
            } else if (channels > 1) {
                downmix(static_cast<const float*>(data), channels, 1.0F, capture->m_mono);
                mono = capture->m_mono;
            } else {
                mono = {static_cast<const float*>(data), bytes / frameBytes};
            }
            capture->m_loop.pacing().audio();
            // The whole output's one stream needs no mix.
            capture->take(monitor->input == kWholeOutput
                              ? mono
                              : capture->m_mix.push(monitor->input, mono, Clock::now()));
            pa_stream_drop(stream);
        }
    }

    template <typename Sample>
    static void downmix(const Sample* frames, std::size_t channels, float scale,
                        std::vector<float>& mono) {
        const float share = scale / static_cast<float>(channels);
        for (float& sample : mono) {
            float sum = 0;
            for (std::size_t c = 0; c < channels; ++c) {
                sum += static_cast<float>(frames[c]);
            }
            sample = sum * share;
            frames += channels;
        }
    }

    // Times come from counting samples (SampleClock): a late piece must not look like a gap.
    void take(std::span<const float> samples) {
        if (samples.empty()) {
            return;
        }
        const Clock::time_point now = Clock::now();
        if (!m_clock.follows(samples.size(), now)) {
            restartCount();
        }
        m_clock.add(samples.size(), now);
        m_block.insert(m_block.end(), samples.begin(), samples.end());
        const auto block = static_cast<std::size_t>(m_rate * kBlock);
        while (m_block.size() >= block) {
            handOn(block);
        }
    }

    void restartCount() {
        handOn(m_block.size());
        m_clock.restart();
    }

    void handOn(std::size_t count) {
        if (count == 0) {
            return;
        }
        const Clock::time_point start = m_clock.handOn(count);
        if (m_samples) {
            m_samples({m_block.data(), count}, m_rate, start);
        }
        m_block.erase(m_block.begin(), m_block.begin() + std::ptrdiff_t(count));
    }

    PacedLoop m_loop;
    pa_context* m_context = nullptr;
    std::string m_program;
    Samples m_samples;
    std::map<std::uint32_t, Sink> m_sinks;    // every sink, by index
    std::map<std::uint32_t, Input> m_inputs;  // the program's streams, or every one
    std::string m_defaultSink;
    std::vector<std::unique_ptr<Monitor>> m_monitors;  // the record streams
    std::uint32_t m_rate = 0;                          // theirs: the first one's sink's
    StreamMix m_mix{0, {}};
    std::vector<float> m_mono;   // the piece being read, as floats
    std::vector<float> m_block;  // samples not handed on yet
    SampleClock m_clock{1, kJump};
    bool m_running = false;
    bool m_retrying = false;
    bool m_prompt = true;
    bool m_active = true;
    std::atomic<bool> m_askedPrompt{true};  // as last asked, read without the loop
    std::atomic<bool> m_askedActive{true};
    bool m_fixedFragments = false;  // the server is PipeWire's
};

}  // namespace

std::unique_ptr<AudioCapture> pulseCapture() {
    return std::make_unique<PulseCapture>();
}

}  // namespace hushwell
