// Windows' audio headers and COM stay in this file and the other Windows provider files.
#include "mixer/windows/LoopbackCapture.h"

#include "mixer/CaptureHandOff.h"
#include "mixer/windows/ComSupport.h"
#include "mixer/windows/ComThread.h"

// clang-format off
#include <windows.h>
#include <objbase.h>
#include <mmdeviceapi.h>
#include <audioclient.h>
#include <mmreg.h>
// clang-format on

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

namespace hushwell {
namespace {

using com::failure;
using com::Ref;
using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;
using TimePoint = std::chrono::time_point<Clock, Seconds>;

constexpr double kBlockLength = 0.1;  // s of samples handed on at once
// A packet whose time is further than this from the end of the one before does not follow it: the
// engine's time stamps are good to well under a millisecond.
constexpr double kSlack = 0.002;
constexpr double kCounterUnit = 1e-7;  // s: the performance counter as GetBuffer gives it
// The shared buffer holds a second; it is emptied every 40 ms, so a late wake loses nothing.
constexpr REFERENCE_TIME kBufferLength = 10'000'000;
constexpr std::chrono::milliseconds kPoll{40};

// The mix format, as far as reading its samples goes.
struct Format {
    // PCM first, a byte a sample more each: formatOf() counts on the order.
    enum class Type { Unsigned8, Signed16, Signed24, Signed32, Float32, Float64 } type;
    unsigned channels;
    unsigned frameBytes;
    double rate;
};

// Shared-mode mix formats are float or PCM; anything else is not read.
std::optional<Format> formatOf(const WAVEFORMATEX& wave) {
    WORD tag = wave.wFormatTag;
    if (tag == WAVE_FORMAT_EXTENSIBLE && wave.cbSize >= 22) {
        // The subformats are {0000xxxx-0000-0010-8000-00aa00389b71}, xxxx the plain format tag.
        tag =
            static_cast<WORD>(reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(wave).SubFormat.Data1);
    }
    if (wave.nChannels == 0 || wave.nSamplesPerSec == 0 ||
        wave.nBlockAlign != wave.nChannels * (wave.wBitsPerSample / 8)) {
        return std::nullopt;
    }
    using Type = Format::Type;
    std::optional<Type> type;
    if (tag == WAVE_FORMAT_IEEE_FLOAT && wave.wBitsPerSample == 32) {
        type = Type::Float32;
    } else if (tag == WAVE_FORMAT_IEEE_FLOAT && wave.wBitsPerSample == 64) {
        type = Type::Float64;
    } else if (tag == WAVE_FORMAT_PCM && wave.wBitsPerSample % 8 == 0 && wave.wBitsPerSample >= 8 &&
               wave.wBitsPerSample <= 32) {
        // 8 to 32 bits, in the order of Type. A 32-bit container holds its valid bits at the top:
        // read whole, 24 valid bits or 32.
        type = static_cast<Type>(wave.wBitsPerSample / 8 - 1);
    }
    if (!type) {
        return std::nullopt;
    }
    return Format{*type, wave.nChannels, wave.nBlockAlign,
                  static_cast<double>(wave.nSamplesPerSec)};
}

std::string describe(const Format& format) {
    static constexpr const char* kTypes[] = {"8-bit",  "16-bit",       "24-bit",
                                             "32-bit", "32-bit float", "64-bit float"};
    char text[96];
    std::snprintf(text, sizeof text, "%.0f Hz, %u channels, %s", format.rate, format.channels,
                  kTypes[static_cast<int>(format.type)]);
    return text;
}

// Frames of the mix format to mono samples: the channels averaged.
class ToMono {
public:
    explicit ToMono(const Format& format) : m_format(format) {}

    // `data` null: silence.
    void convert(const BYTE* data, UINT32 frames, std::vector<float>& out) const {
        if (data == nullptr) {
            out.insert(out.end(), frames, 0.0f);
            return;
        }
        for (UINT32 i = 0; i < frames; ++i) {
            out.push_back(static_cast<float>(frame(data + std::size_t{i} * m_format.frameBytes)));
        }
    }

private:
    [[nodiscard]] double frame(const BYTE* at) const {
        double sum = 0.0;
        for (unsigned channel = 0; channel < m_format.channels; ++channel) {
            sum += sample(at + channel * (m_format.frameBytes / m_format.channels));
        }
        return std::clamp(sum / m_format.channels, -1.0, 1.0);
    }

    [[nodiscard]] double sample(const BYTE* at) const {
        switch (m_format.type) {
            case Format::Type::Unsigned8:
                return (at[0] - 128) / 128.0;
            case Format::Type::Signed16:
                return read<std::int16_t>(at) / 32768.0;
            case Format::Type::Signed24: {
                const auto value =
                    static_cast<std::int32_t>(static_cast<std::uint32_t>(at[0]) << 8 |
                                              static_cast<std::uint32_t>(at[1]) << 16 |
                                              static_cast<std::uint32_t>(at[2]) << 24);
                return value / 2147483648.0;
            }
            case Format::Type::Signed32:
                return read<std::int32_t>(at) / 2147483648.0;
            case Format::Type::Float32:
                return read<float>(at);
            case Format::Type::Float64:
                return read<double>(at);
        }
        return 0.0;
    }

    template <typename Value>
    static Value read(const BYTE* at) {
        Value value;
        std::memcpy(&value, at, sizeof value);
        return value;
    }

    Format m_format;
};

// QueryPerformanceCounter in 100-ns units, as Microsoft converts it for GetBuffer.
std::uint64_t performanceCounter() {
    LARGE_INTEGER count;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    const auto ticks = static_cast<std::uint64_t>(count.QuadPart);
    const auto perSecond = static_cast<std::uint64_t>(frequency.QuadPart);
    constexpr std::uint64_t kUnitsPerSecond = 10'000'000;
    return ticks / perSecond * kUnitsPerSecond + ticks % perSecond * kUnitsPerSecond / perSecond;
}

// One packet of a read, turned into mono.
struct Packet {
    UINT32 frames = 0;
    UINT64 position = 0;    // the device position of its first frame
    UINT64 recorded = 0;    // the performance counter when that was recorded (0: uncertain)
    bool afterGap = false;  // flagged a discontinuity: samples were lost before it
    std::vector<float> samples;
};

}  // namespace

// The stream and what reads it, a user of the COM thread; members after `handOff` belong to the
// COM thread alone. Read every kPoll while bound, or bound afresh every `retry` (at once when the
// default output changes).
struct LoopbackCapture::Stream final : ComThread::User {
    Stream(Options given, Samples samples)
        : options(std::move(given)), handOff(std::move(samples)) {}

    void defaultOutput(const std::optional<std::wstring>& /*id*/) override {
        told.clear();  // the new output is told even where its format is the same
        release();
        bound = bind();
    }
    std::optional<std::chrono::milliseconds> idleEvery() override {
        return bound ? kPoll : options.retry;
    }
    void idle() override {
        if (!bound) {
            bound = bind();
        } else if (!drain()) {
            bound = release();
        }
    }
    void end() override { bound = release(); }

    // The failures are told once each until capture works again; the work itself quietly.
    void tell(const std::string& line) {
        if (options.log && line != told) {
            options.log("capture: " + line);
        }
        told = line;
    }

    // --- on the thread

    bool bind() {
        Ref<IMMDevice> device;
        std::string why;
        HRESULT result = options.thread->device({}, device, why);
        if (result == E_NOTFOUND) {
            tell("no audio output to listen to");
            return false;
        }
        if (FAILED(result)) {
            tell(why);
            options.thread->dropEnumerator();  // the audio service may have gone: made afresh
            return false;
        }
        result = device->Activate(__uuidof(IAudioClient), CLSCTX_INPROC_SERVER, nullptr,
                                  client.outVoid());
        if (FAILED(result)) {
            tell(failure("Activate(IAudioClient)", result));
            return false;
        }
        WAVEFORMATEX* mix = nullptr;
        result = client->GetMixFormat(&mix);
        if (FAILED(result)) {
            tell(failure("GetMixFormat", result));
            return release();
        }
        const std::optional<Format> format = formatOf(*mix);
        if (format) {
            result = client->Initialize(AUDCLNT_SHAREMODE_SHARED, AUDCLNT_STREAMFLAGS_LOOPBACK,
                                        kBufferLength, 0, mix, nullptr);
        }
        CoTaskMemFree(mix);
        if (!format) {
            tell("the output's mix format cannot be read");
            return release();
        }
        if (FAILED(result)) {
            tell(failure("Initialize", result));
            return release();
        }
        result = client->GetService(__uuidof(IAudioCaptureClient), capture.outVoid());
        if (FAILED(result)) {
            tell(failure("GetService(IAudioCaptureClient)", result));
            return release();
        }
        result = client->Start();
        if (FAILED(result)) {
            tell(failure("Start", result));
            return release();
        }
        tell("the default output, " + describe(*format));
        rate = format->rate;
        converter.emplace(*format);
        anchor.reset();  // device positions count from this stream's start
        heardUntil.reset();
        return true;
    }

    // Every packet that waits, each released as soon as it is read, then each placed in time.
    bool drain() {
        std::size_t count = 0;
        UINT64 framesRead = 0;
        for (;;) {
            BYTE* data = nullptr;
            UINT32 frames = 0;
            DWORD flags = 0;
            UINT64 position = 0;
            UINT64 recorded = 0;
            HRESULT result = capture->GetBuffer(&data, &frames, &flags, &position, &recorded);
            if (FAILED(result)) {
                tell(failure("GetBuffer", result));
                return false;
            }
            if (result == AUDCLNT_S_BUFFER_EMPTY) {
                break;
            }
            if (count == packets.size()) {
                packets.emplace_back();
            }
            Packet& packet = packets[count];
            packet.frames = frames;
            packet.position = position;
            packet.afterGap = (flags & AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY) != 0;
            packet.recorded = (flags & AUDCLNT_BUFFERFLAGS_TIMESTAMP_ERROR) != 0 ? 0 : recorded;
            packet.samples.clear();
            converter->convert((flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0 ? nullptr : data, frames,
                               packet.samples);
            result = capture->ReleaseBuffer(frames);
            if (FAILED(result)) {
                tell(failure("ReleaseBuffer", result));
                return false;
            }
            if (frames == 0) {
                break;
            }
            framesRead += frames;
            ++count;
        }
        if (count == 0) {
            return true;
        }
        const TimePoint now = options.now();
        const std::uint64_t counterNow = options.counter();
        for (std::size_t i = 0; i < count; ++i) {
            // Without a time stamp so far, the read's end is about now.
            const TimePoint woke = now - Seconds(static_cast<double>(framesRead) / rate);
            framesRead -= packets[i].frames;
            take(packets[i], place(packets[i], woke, now, counterNow));
        }
        return true;
    }

    // A packet's time: the performance counter's reading when its first frame was recorded; where
    // that is uncertain, its device position counted from the last packet that had one (or, with
    // none yet or after a discontinuity, from `woke`).
    TimePoint place(const Packet& packet, TimePoint woke, TimePoint now, std::uint64_t counterNow) {
        if (packet.recorded != 0) {
            const auto ago = static_cast<std::int64_t>(counterNow - packet.recorded);
            anchor =
                Anchor{packet.position, now - Seconds(static_cast<double>(ago) * kCounterUnit)};
        } else if (!anchor || packet.afterGap) {
            anchor = Anchor{packet.position, woke};
        }
        const auto frames = static_cast<std::int64_t>(packet.position - anchor->position);
        return anchor->time + Seconds(static_cast<double>(frames) / rate);
    }

    // Packets that follow one another (no discontinuity, the device position and the time going on
    // from the last) make one block; any other starts a block of its own, at its time, and the log
    // tells the gap before it.
    void take(const Packet& packet, TimePoint start) {
        if (heardUntil) {
            const double gap = (start - *heardUntil).count();
            if (packet.afterGap || packet.position != nextPosition || std::abs(gap) > kSlack) {
                deliver();
                tellGap(gap, packet.afterGap);
            }
        }
        if (block.empty()) {
            blockStart = start;
        }
        block.insert(block.end(), packet.samples.begin(), packet.samples.end());
        heardUntil = start + Seconds(static_cast<double>(packet.frames) / rate);
        nextPosition = packet.position + packet.frames;
        if (static_cast<double>(block.size()) >= rate * kBlockLength) {
            deliver();
        }
    }

    void tellGap(double seconds, bool lost) {
        if (options.log) {
            char text[80];
            std::snprintf(text, sizeof text, "capture: %.3f s without sound%s", seconds,
                          lost ? " (samples lost)" : "");
            options.log(text);
        }
    }

    void deliver() {
        if (!block.empty()) {
            handOff.post(block, rate, std::chrono::time_point_cast<Clock::duration>(blockStart));
        }
        block.clear();
    }

    // The stream goes; the enumerator stays, to tell of the next default output. Returns false,
    // for a bind that ends with it.
    bool release() {
        deliver();
        if (client && capture) {
            client->Stop();
        }
        capture.reset();
        client.reset();
        converter.reset();
        return false;
    }

    const Options options;   // its thread the object's, not a reference that keeps it running
    CaptureHandOff handOff;  // the listener's thread, not the COM thread

    Ref<IAudioClient> client;
    Ref<IAudioCaptureClient> capture;
    std::optional<ToMono> converter;
    double rate = 48000;          // of the mix format
    std::string told;             // the last line logged
    std::vector<Packet> packets;  // one read's, converted; kept for their space
    // The time of a device position, from the last packet whose time stamp was certain.
    struct Anchor {
        UINT64 position;
        TimePoint time;
    };
    std::optional<Anchor> anchor;
    std::vector<float> block;  // samples not handed on yet
    TimePoint blockStart;
    std::optional<TimePoint> heardUntil;  // the end of the last packet taken from the stream
    UINT64 nextPosition = 0;              // the device position after it
    bool bound = false;                   // reading the default output
};

LoopbackCapture::LoopbackCapture(Options options) : m_options(std::move(options)) {
    if (!m_options.thread) {
        m_options.thread = ComThread::shared();
    }
    if (!m_options.now) {
        m_options.now = [] { return Clock::now(); };
    }
    if (!m_options.counter) {
        m_options.counter = performanceCounter;
    }
}

LoopbackCapture::~LoopbackCapture() {
    stop();
}

void LoopbackCapture::start(const std::string& program, Samples samples) {
    stop();
    if (!program.empty() && m_options.log) {
        m_options.log("capture: the whole output, " + program +
                      " alone cannot be captured by this build");
    }
    Options options = m_options;
    options.thread = m_options.thread->shared_from_this();
    m_stream = std::make_shared<Stream>(std::move(options), std::move(samples));
    m_options.thread->join(m_stream);
}

void LoopbackCapture::stop() {
    if (!m_stream) {
        return;
    }
    m_options.thread->leave(m_stream);  // the stream goes, its last block handed on
    m_stream->handOff.stop();
    m_stream.reset();
}

}  // namespace hushwell
