#include "mixer/LoopbackCapture.h"

#include <gtest/gtest.h>

#include "mixer/FakeAudioCapture.h"

namespace hushwell::testing {
namespace {

using namespace std::chrono_literals;
using Seconds = std::chrono::duration<double>;

WAVEFORMATEXTENSIBLE mixFormat(WORD tag, WORD bits, WORD validBits, WORD channels, DWORD rate) {
    WAVEFORMATEXTENSIBLE format{};
    format.Format = {WAVE_FORMAT_EXTENSIBLE,
                     channels,
                     rate,
                     rate * channels * bits / 8,
                     static_cast<WORD>(channels * bits / 8),
                     bits,
                     22};
    format.Samples.wValidBitsPerSample = validBits;
    format.SubFormat = {tag, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
    if (tag == WAVE_FORMAT_PCM && bits == 16) {
        format.Format.wFormatTag = WAVE_FORMAT_PCM;  // the plain record, as older drivers give it
        format.Format.cbSize = 0;
    }
    return format;
}

// `count` packets of 10 ms, each one frame's bytes (`frame`) again and again; the first flagged
// `first` besides `flags`.
std::vector<FakeStream::Packet> packets(const WAVEFORMATEXTENSIBLE& format,
                                        const std::vector<BYTE>& frame, int count, DWORD flags = 0,
                                        DWORD first = 0) {
    std::vector<FakeStream::Packet> made(static_cast<std::size_t>(count), {{}, flags});
    made.front().flags |= first;
    for (FakeStream::Packet& packet : made) {
        for (DWORD i = 0; i < format.Format.nSamplesPerSec / 100; ++i) {
            packet.bytes.insert(packet.bytes.end(), frame.begin(), frame.end());
        }
    }
    return made;
}

template <typename Sample>
std::vector<BYTE> frameOf(std::vector<Sample> channels) {
    std::vector<BYTE> bytes(channels.size() * sizeof(Sample));
    std::memcpy(bytes.data(), channels.data(), bytes.size());
    return bytes;
}

// Polls `condition` for up to 10 s: a hang fails, it never waits when all is well.
template <typename Condition>
bool waitUntil(Condition condition) {
    for (int i = 0; i < 2000; ++i) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(5ms);
    }
    return condition();
}

struct Block {
    std::vector<float> samples;
    Seconds start;
};

// A capture of the speakers (or headphones) through the fakes, and what it handed on.
struct Capture {
    explicit Capture(const WAVEFORMATEXTENSIBLE& format = mixFormat(WAVE_FORMAT_IEEE_FLOAT, 32, 32,
                                                                    2, 48000))
        : speakerStream(system, clock, format), headphoneStream(system, clock, format) {
        enumerator.add(speakers);
        enumerator.add(headphones);
        enumerator.setDefault(&speakers);
        speakers.audioClient = &speakerStream;
        headphones.audioClient = &headphoneStream;
    }
    void start(const std::string& program = {}) {
        capture.start(program, [this](std::span<const float> samples,
                                      std::chrono::steady_clock::time_point start) {
            const std::lock_guard lock(mutex);
            blocks.push_back({{samples.begin(), samples.end()}, start.time_since_epoch()});
        });
    }
    std::size_t calls(const std::string& name) {
        const std::vector<std::string> names = system.callNames();
        return static_cast<std::size_t>(std::count(names.begin(), names.end(), name));
    }
    ~Capture() {
        capture.stop();
        EXPECT_EQ(enumerator.heldByOthers(), 0);
        EXPECT_EQ(enumerator.registered(), nullptr);
        EXPECT_EQ(speakerStream.heldByOthers(), 0);
        EXPECT_EQ(headphoneStream.heldByOthers(), 0);
    }
    std::size_t received() {
        const std::lock_guard lock(mutex);
        std::size_t count = 0;
        for (const Block& block : blocks) {
            count += block.samples.size();
        }
        return count;
    }
    // Plays until some of it was handed on: the stream is being read.
    bool capturing(FakeStream& stream) {
        const std::size_t before = received();
        return waitUntil([&] {
            stream.play(packets(stream.format, frameOf<float>({0.1f, 0.1f}), 1));
            return received() > before;
        });
    }

    FakeAudioSystem system;
    FakeCaptureClock clock;
    FakeEnumerator enumerator{system};
    FakeDevice speakers{system, L"speakers"};
    FakeDevice headphones{system, L"headphones"};
    FakeStream speakerStream;
    FakeStream headphoneStream;
    std::vector<std::string> log;  // read after stop()
    LoopbackCapture capture{{[this](IMMDeviceEnumerator** out) -> long {
                                 enumerator.AddRef();
                                 *out = &enumerator;
                                 return S_OK;
                             },
                             [this] { return clock.now(); }, 20ms,
                             [this](const std::string& line) { log.push_back(line); }}};
    std::mutex mutex;
    std::vector<Block> blocks;  // starts relative to the clock when the test ended
};

struct Conversion {
    const char* name;
    WAVEFORMATEXTENSIBLE format;
    std::vector<BYTE> frame;
    DWORD flags;
    float mono;
};

class LoopbackConversion : public ::testing::TestWithParam<Conversion> {};

TEST_P(LoopbackConversion, TurnsASecondOfTheMixIntoASecondOfMonoCountedWithoutGaps) {
    const Conversion& row = GetParam();
    Capture capture(row.format);
    capture.start();
    capture.speakerStream.play(packets(row.format, row.frame, 100, row.flags));
    ASSERT_TRUE(waitUntil([&] { return capture.received() >= 10000; }));
    capture.capture.stop();  // hands on the last samples
    EXPECT_EQ(capture.speakerStream.streamFlags, DWORD{AUDCLNT_STREAMFLAGS_LOOPBACK});
    EXPECT_NEAR(static_cast<double>(capture.received()), kCaptureRate, 1.0);
    // The first sample was played a second before the last packet ended.
    Seconds next = capture.clock.now().time_since_epoch() - 1s;
    for (const Block& block : capture.blocks) {
        EXPECT_NEAR(block.start.count(), next.count(), 5e-5);
        next = block.start + Seconds(static_cast<double>(block.samples.size()) / kCaptureRate);
        for (float sample : block.samples) {
            ASSERT_NEAR(sample, row.mono, 1e-4);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    MixFormats, LoopbackConversion,
    ::testing::Values(Conversion{"FloatStereo48k",
                                 mixFormat(WAVE_FORMAT_IEEE_FLOAT, 32, 32, 2, 48000),
                                 frameOf<float>({0.5f, -0.1f}), 0, 0.2f},
                      Conversion{"Pcm16Stereo44k", mixFormat(WAVE_FORMAT_PCM, 16, 16, 2, 44100),
                                 frameOf<std::int16_t>({16384, 0}), 0, 0.25f},
                      Conversion{"Pcm24In32SixChannels96k",
                                 mixFormat(WAVE_FORMAT_PCM, 32, 24, 6, 96000),
                                 frameOf<std::int32_t>({0x40000000, 0x40000000, 0x40000000,
                                                        0x40000000, 0x40000000, 0x40000000}),
                                 0, 0.5f},
                      Conversion{"Pcm24PackedMono8k",
                                 mixFormat(WAVE_FORMAT_PCM, 24, 24, 1, 8000),
                                 {0x00, 0x00, 0xe0},
                                 0,
                                 -0.25f},
                      Conversion{"SilentFlag", mixFormat(WAVE_FORMAT_IEEE_FLOAT, 32, 32, 2, 48000),
                                 frameOf<float>({0.9f, 0.9f}), AUDCLNT_BUFFERFLAGS_SILENT, 0.0f}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(LoopbackCapture, ADiscontinuityShowsAsAGapAfterTheSamplesBeforeIt) {
    Capture capture;
    capture.start();
    FakeStream& stream = capture.speakerStream;
    const std::vector<BYTE> frame = frameOf<float>({0.1f, 0.1f});
    stream.play(packets(stream.format, frame, 50));
    ASSERT_TRUE(waitUntil([&] { return capture.received() >= 5000; }));  // read before the gap
    capture.clock.advance(200ms);  // lost: less than a read late could be
    stream.play(packets(stream.format, frame, 50, 0, AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY));
    ASSERT_TRUE(waitUntil([&] { return capture.received() >= 10000; }));
    capture.capture.stop();
    Seconds next = capture.blocks.front().start;
    std::vector<double> gaps;
    for (const Block& block : capture.blocks) {
        if (std::abs((block.start - next).count()) > 5e-5) {
            gaps.push_back((block.start - next).count());
        }
        next = block.start + Seconds(static_cast<double>(block.samples.size()) / kCaptureRate);
    }
    ASSERT_EQ(gaps.size(), 1u);
    EXPECT_NEAR(gaps[0], 0.2, 1e-3);
}

TEST(LoopbackCapture, WaitsForAnOutputFollowsTheDefaultAndComesBackAfterTheDeviceWasLost) {
    Capture capture;
    capture.enumerator.setDefault(nullptr);
    capture.start("firefox.exe");
    const std::string asked = "GetDefaultAudioEndpoint(eRender, eConsole)";
    ASSERT_TRUE(waitUntil([&] { return capture.calls(asked) >= 3; }));  // tried again and again
    capture.enumerator.setDefault(&capture.speakers);
    ASSERT_TRUE(capture.capturing(capture.speakerStream));

    capture.enumerator.setDefault(&capture.headphones);
    IMMNotificationClient* news = capture.enumerator.registered();
    ASSERT_NE(news, nullptr);
    std::thread([news] { news->OnDefaultDeviceChanged(eRender, eConsole, L"headphones"); }).join();
    ASSERT_TRUE(capture.capturing(capture.headphoneStream));
    EXPECT_FALSE(capture.speakerStream.started);
    EXPECT_EQ(capture.speakerStream.heldByOthers(), 0);

    // Unplugged: every call fails until it is back.
    const std::size_t activated = capture.calls("Activate(IAudioClient)");
    capture.headphones.activateResult = AUDCLNT_E_DEVICE_INVALIDATED;
    capture.headphoneStream.failure = AUDCLNT_E_DEVICE_INVALIDATED;
    ASSERT_TRUE(
        waitUntil([&] { return capture.calls("Activate(IAudioClient)") >= activated + 2; }));
    capture.headphones.activateResult = S_OK;
    capture.headphoneStream.failure = S_OK;
    ASSERT_TRUE(capture.capturing(capture.headphoneStream));
    capture.capture.stop();
    EXPECT_EQ(capture.log,
              (std::vector<std::string>{
                  "capture: the whole output, firefox.exe alone cannot be captured by this build",
                  "capture: no audio output to listen to",
                  "capture: the default output, 48000 Hz, 2 channels, 32-bit float",
                  "capture: the default output, 48000 Hz, 2 channels, 32-bit float",
                  "capture: GetBuffer: HRESULT 0x88890004",
                  "capture: Activate(IAudioClient): HRESULT 0x88890004",
                  "capture: the default output, 48000 Hz, 2 channels, 32-bit float"}));
}

}  // namespace
}  // namespace hushwell::testing
