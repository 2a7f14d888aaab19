#include "mixer/pulse/PulseCapture.h"

#include "mixer/CaptureHandOff.h"
#include "mixer/pulse/PulseConnection.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
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

double streamGain(double streamVolume, double sinkVolume, bool flatVolumes) {
    if (!flatVolumes) {
        return streamVolume;
    }
    return sinkVolume > 0 ? std::min(1.0, streamVolume / sinkVolume) : 1.0;
}

std::uint8_t recordedChannels(std::uint8_t sinkChannels, bool pipeWire) {
    return !pipeWire && sinkChannels <= 2 ? 1 : sinkChannels;
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

// s the server gathers before it hands a piece over: while prompt on PulseAudio (a switch comes up
// to that after its sound, and the capture's thread wakes at most that often while audio comes),
// always on PipeWire, and while not prompt.
constexpr double kFragment = 0.1;
constexpr double kFixedFragment = 0.25;
constexpr double kRelaxedFragment = 2.0;
constexpr double kRelaxedPause = 0.5;
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
// A stream's volume under this (-120 dB) is taken for none: there is nothing to undo.
constexpr double kLeastGain = 1e-6;
// A sink as its streams are recorded: its own sample format and channels.
struct Sink {
    std::string name;
    std::string monitor;
    std::uint32_t rate = 0;
    pa_channel_map channels{};
    pa_sample_format_t format = PA_SAMPLE_FLOAT32NE;
    double volume = 1;  // linear, the mean of its channels'
    bool flat = false;  // its streams' volumes are shares of its own (flat volumes)
};

// A stream that plays to a sink.
struct Input {
    std::uint32_t sink = PA_INVALID_INDEX;
    bool playing = false;  // not corked
    double volume = 1;     // linear, the mean of its channels'
};

double linear(const pa_cvolume& volume) {
    return pa_sw_volume_to_linear(pa_cvolume_avg(&volume));
}

class PulseCapture;

// One record stream: that of one sink input's part of its sink's monitor (`input`).
struct Monitor {
    PulseCapture* capture = nullptr;
    std::uint32_t input = PA_INVALID_INDEX;
    std::uint32_t sink = PA_INVALID_INDEX;
    pa_stream* stream = nullptr;
    std::uint32_t sinkRate = 0;  // and channels, when it was recorded
    std::uint8_t sinkChannels = 0;
    double fragment = 0;        // s, asked of the server
    std::uint8_t channels = 0;  // as recorded
    bool s16 = false;           // its samples: 16-bit, else floats
};

class PulseCapture final : public AudioCapture, PulseListener {
public:
    PulseCapture() {
        const std::lock_guard hold(*m_connection);
        m_connection->pacing().setPause(pause());
    }

    ~PulseCapture() override { stop(); }

    PulseCapture(const PulseCapture&) = delete;
    PulseCapture& operator=(const PulseCapture&) = delete;

    // The connection tells everything anew to a listener that joins it.
    void start(const std::string& program, Samples samples) override {
        stop();
        const std::lock_guard hold(*m_connection);
        m_program = program;
        m_handOff = std::make_unique<CaptureHandOff>(std::move(samples));
        m_connection->listen(*this);
    }

    void stop() override {
        std::unique_ptr<CaptureHandOff> handOff;  // ends after the lock: its last blocks taken
        const std::lock_guard hold(*m_connection);
        m_connection->forget(*this);
        lost();
        handOff = std::move(m_handOff);
    }

    void setActive(bool active) override {
        if (m_askedActive.exchange(active) == active) {
            return;
        }
        const std::lock_guard hold(*m_connection);
        m_active = active;
        follow();
    }

    [[nodiscard]] bool hearsBeforeTheVolume() const override { return true; }

    void setPrompt(bool prompt) override {
        // Asked each second: the loop is woken only for a change.
        if (m_askedPrompt.exchange(prompt) == prompt) {
            return;
        }
        const std::lock_guard hold(*m_connection);
        m_prompt = prompt;
        m_connection->pacing().setPause(pause());
        for (const auto& monitor : m_monitors) {
            askFragment(*monitor);
        }
    }

private:
    // Everything below runs with the connection held, on its thread or under start()/stop().

    // The server went away, or the capture stopped: nothing recorded, nothing known.
    void lost() override {
        while (!m_monitors.empty()) {
            drop(*m_monitors.back());
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

    void server(const pa_server_info& info) override {
        if (info.server_name != nullptr) {
            m_fixedFragments =
                std::string_view(info.server_name).find("PipeWire") != std::string_view::npos;
            m_connection->pacing().setPause(pause());
        }
        if (info.default_sink_name != nullptr) {
            m_defaultSink = info.default_sink_name;
            follow();
        }
    }

    void sink(std::uint32_t index, const pa_sink_info* info) override {
        if (info == nullptr) {
            m_sinks.erase(index);
            follow();
        } else if (info->monitor_source_name != nullptr) {
            m_sinks[index] = {info->name,
                              info->monitor_source_name,
                              info->sample_spec.rate,
                              info->channel_map,
                              info->sample_spec.format,
                              linear(info->volume),
                              (info->flags & PA_SINK_FLAT_VOLUME) != 0};
        }
    }

    void input(std::uint32_t index, const pa_sink_input_info* info, bool) override {
        if (info == nullptr) {
            m_inputs.erase(index);
            follow();
        } else if (m_program.empty() || programOf(info->proplist) == m_program) {
            m_inputs[index] = {info->sink, info->corked == 0, linear(info->volume)};
        }
    }

    // Records what should be recorded as far as the server has told: each stream that plays to
    // the default sink, or each of the program's streams that plays, on its sink; stops what
    // should not be. A stream's part of the monitor carries the sound before the sink's volume,
    // so a break lowered there is heard as loud as ever. Nothing is recorded while nothing plays,
    // nor while not active: the streams are ended, which spares the server more than corking them
    // (a corked stream still cost PipeWire about 0.15 % of a core), and the count starts afresh
    // after.
    void follow() {
        if (!m_connection->ready()) {
            return;
        }
        std::map<std::uint32_t, std::uint32_t> wanted;  // stream: its sink
        for (const auto& [index, input] : m_inputs) {
            if (!input.playing || !m_active) {
                continue;
            }
            const auto sink = m_sinks.find(input.sink);
            if (!m_program.empty() ||
                (sink != m_sinks.end() && sink->second.name == m_defaultSink)) {
                wanted[index] = input.sink;
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

    // A record stream from one stream's part of its sink's monitor, at the sink's own rate (the
    // first stream's for all), which the server does not resample, in recordedChannels(): 16-bit
    // samples stay 16-bit, other formats come as floats.
    void record(std::uint32_t input, std::uint32_t sinkIndex, const Sink& sink) {
        if (m_monitors.empty()) {
            m_rate = sink.rate;
            m_mix = StreamMix(static_cast<std::size_t>(kSlack * m_rate),
                              std::chrono::duration_cast<Clock::duration>(Seconds(kPatience)));
            m_clock = SampleClock(m_rate, kMixJump);
        }
        const pa_sample_spec format{
            sink.format == PA_SAMPLE_S16NE ? PA_SAMPLE_S16NE : PA_SAMPLE_FLOAT32NE, m_rate,
            recordedChannels(sink.channels.channels, m_fixedFragments)};
        if (pa_sample_spec_valid(&format) == 0) {
            return;
        }
        auto monitor = std::make_unique<Monitor>(Monitor{this, input, sinkIndex, nullptr, sink.rate,
                                                         sink.channels.channels, 0, format.channels,
                                                         format.format == PA_SAMPLE_S16NE});
        pa_channel_map mono{};
        monitor->stream =
            pa_stream_new(m_connection->context(), "Hushwell listening", &format,
                          format.channels == 1 ? pa_channel_map_init_mono(&mono) : &sink.channels);
        if (monitor->stream == nullptr) {
            return m_connection->retryLater();
        }
        pa_stream_set_monitor_stream(monitor->stream, input);
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
            m_connection->retryLater();
        }
    }

    // PipeWire hands over a piece each cycle whatever the fragment, and a record stream asked for
    // another fragment then gets a burst (1.7 s of samples at once) that throws the times off by
    // as much: there the prompt fragment is kept.
    [[nodiscard]] double fragment() const {
        return m_fixedFragments ? kFixedFragment : m_prompt ? kFragment : kRelaxedFragment;
    }

    // The least time between two wake-ups while audio comes: the prompt fragment, or while not
    // prompt kRelaxedPause (pieces read that much late stay well within kJump). PipeWire hands
    // over a fragment at a time anyway, and a record stream read late there loses audio.
    [[nodiscard]] Clock::duration pause() const {
        return m_fixedFragments ? Clock::duration{}
                                : std::chrono::duration_cast<Clock::duration>(
                                      Seconds(m_prompt ? kFragment : kRelaxedPause));
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
            capture->m_connection->retryLater();
        }
    }

    // The stream's own volume undone: what its player plays (a program lowered here is heard as
    // loud as at its Up level).
    [[nodiscard]] float unheardGain(const Monitor& monitor) const {
        const auto input = m_inputs.find(monitor.input);
        const auto sink = m_sinks.find(monitor.sink);
        if (input == m_inputs.end() || sink == m_sinks.end()) {
            return 1;
        }
        const double gain =
            streamGain(input->second.volume, sink->second.volume, sink->second.flat);
        return gain > kLeastGain ? static_cast<float>(1 / gain) : 1.0F;
    }

    // Each piece the server handed over, mixed down to mono floats. Peeked and dropped only, as
    // far as the server said is readable: each call into libpulse asks the kernel whether the
    // process forked, and a piece comes per piece the player wrote (a browser's 10 ms).
    static void onRead(pa_stream* stream, std::size_t readable, void* self) {
        auto* monitor = static_cast<Monitor*>(self);
        PulseCapture* capture = monitor->capture;
        const std::size_t channels = monitor->channels;
        const std::size_t frameBytes =
            channels * (monitor->s16 ? sizeof(std::int16_t) : sizeof(float));
        const float gain = capture->unheardGain(*monitor);
        const void* data = nullptr;
        std::size_t bytes = 0;
        for (std::size_t left = readable;
             left > 0 && pa_stream_peek(stream, &data, &bytes) >= 0 && bytes > 0;
             left -= std::min(left, bytes)) {
            std::span<const float> mono;
            capture->m_mono.resize(bytes / frameBytes);
            if (data == nullptr) {
                // A hole in the stream is silence in the mix.
                std::fill(capture->m_mono.begin(), capture->m_mono.end(), 0.0F);
                mono = capture->m_mono;
            } else if (monitor->s16) {
                downmix(static_cast<const std::int16_t*>(data), channels, gain / 32768.0F,
                        capture->m_mono);
                mono = capture->m_mono;
            } else if (channels > 1 || gain != 1) {
                downmix(static_cast<const float*>(data), channels, gain, capture->m_mono);
                mono = capture->m_mono;
            } else {
                mono = {static_cast<const float*>(data), bytes / frameBytes};
            }
            capture->m_connection->pacing().audio();
            capture->take(capture->m_mix.push(monitor->input, mono, Clock::now()));
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
        if (m_handOff) {
            m_handOff->post({m_block.data(), count}, m_rate, start);
        }
        m_block.erase(m_block.begin(), m_block.begin() + std::ptrdiff_t(count));
    }

    const std::shared_ptr<PulseConnection> m_connection = PulseConnection::shared();
    std::string m_program;
    std::unique_ptr<CaptureHandOff> m_handOff;  // to the listener, off the connection's thread
    std::map<std::uint32_t, Sink> m_sinks;      // every sink, by index
    std::map<std::uint32_t, Input> m_inputs;    // the program's streams, or every one
    std::string m_defaultSink;
    std::vector<std::unique_ptr<Monitor>> m_monitors;  // the record streams
    std::uint32_t m_rate = 0;                          // theirs: the first one's sink's
    StreamMix m_mix{0, {}};
    std::vector<float> m_mono;   // the piece being read, as floats
    std::vector<float> m_block;  // samples not handed on yet
    SampleClock m_clock{1, kJump};
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
