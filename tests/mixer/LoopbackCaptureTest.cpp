#include "mixer/LoopbackCapture.h"

#include <gtest/gtest.h>

#include "mixer/FakeAudioCapture.h"

namespace hushwell::testing {
namespace {

using namespace std::chrono_literals;
using Seconds = std::chrono::duration<double>;

WAVEFORMATEXTENSIBLE mix(WORD tag, WORD bits, WORD validBits, WORD channels, DWORD rate) {
    const auto frame = static_cast<WORD>(channels * bits / 8);
    const bool plain = tag == WAVE_FORMAT_PCM && bits == 16;  // as older drivers give it
    return {{plain ? WORD{WAVE_FORMAT_PCM} : WORD{WAVE_FORMAT_EXTENSIBLE}, channels, rate,
             rate * frame, frame, bits, static_cast<WORD>(plain ? 0 : 22)},
            {validBits},
            0,
            {tag, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}}};
}

template <typename Sample>
std::vector<BYTE> frameOf(std::vector<Sample> channels) {
    std::vector<BYTE> bytes(channels.size() * sizeof(Sample));
    std::memcpy(bytes.data(), channels.data(), bytes.size());
    return bytes;
}

// Polls for up to 10 s: a hang fails, and all is well long before.
template <typename Condition>
bool waitUntil(Condition condition) {
    for (int i = 0; i < 2000 && !condition(); ++i) {
        std::this_thread::sleep_for(5ms);
    }
    return condition();
}

// The capture of two outputs' loopback streams, the speakers the default, and what it handed on.
struct Capture {
    explicit Capture(const WAVEFORMATEXTENSIBLE& format = mix(WAVE_FORMAT_IEEE_FLOAT, 32, 32, 2,
                                                              48000)) {
        speakers.audioClient = &speakerStream.emplace(system, clock, format);
        headphones.audioClient = &headphoneStream.emplace(system, clock, format);
        enumerator.add(speakers);
        enumerator.add(headphones);
        enumerator.setDefault(&speakers);
    }
    ~Capture() {
        capture.stop();
        EXPECT_EQ(enumerator.heldByOthers() + speakerStream->heldByOthers() +
                      headphoneStream->heldByOthers(),
                  0);
        EXPECT_EQ(enumerator.registered(), nullptr);
    }
    void start(const std::string& program = {}) {
        capture.start(program, [this](std::span<const float> samples, double blockRate,
                                      std::chrono::steady_clock::time_point start) {
            const std::lock_guard lock(mutex);
            rate = blockRate;
            blocks.emplace_back(std::vector<float>(samples.begin(), samples.end()),
                                Seconds(start.time_since_epoch()));
            received += samples.size();
        });
    }
    std::size_t calls(const std::string& name) {
        const std::vector<std::string> names = system.callNames();
        return static_cast<std::size_t>(std::count(names.begin(), names.end(), name));
    }
    // Plays until some of it was handed on: the stream is read.
    bool capturing(FakeStream& stream) {
        const std::size_t before = received;
        return waitUntil([&] {
            stream.play(frameOf<float>({0.1f, 0.1f}), 1);
            return received > before;
        });
    }

    FakeAudioSystem system;
    std::atomic<double> clock{1000.0};
    FakeEnumerator enumerator{system};
    FakeDevice speakers{system, L"speakers"};
    FakeDevice headphones{system, L"headphones"};
    std::optional<FakeStream> speakerStream;
    std::optional<FakeStream> headphoneStream;
    std::vector<std::string> log;  // read after stop()
    std::mutex mutex;
    std::vector<std::pair<std::vector<float>, Seconds>> blocks;  // the samples and their start
    std::atomic<std::size_t> received{0};
    std::atomic<double> rate{0};  // of the latest block
    LoopbackCapture capture{
        {[this](IMMDeviceEnumerator** out) -> long {
             enumerator.AddRef();
             *out = &enumerator;
             return S_OK;
         },
         [this] {
             return std::chrono::steady_clock::time_point(
                 std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                     Seconds(clock.load())));
         },
         20ms, [this](const std::string& line) { log.push_back(line); }}};
};

struct Conversion {
    const char* name;
    WAVEFORMATEXTENSIBLE format;
    std::vector<BYTE> frame;
    DWORD flags;
    float mono;
    bool gap;  // 0.2 s lost after half a second: the packet after it flagged a discontinuity
};

class LoopbackConversion : public ::testing::TestWithParam<Conversion> {};

TEST_P(LoopbackConversion, TurnsASecondOfTheMixIntoASecondOfMonoCountedFromThePackets) {
    const Conversion& row = GetParam();
    Capture capture(row.format);
    capture.start();
    capture.speakerStream->play(row.frame, row.gap ? 50 : 100, row.flags);
    if (row.gap) {
        ASSERT_TRUE(waitUntil([&] { return capture.received >= 5000; }));  // read before the gap
        capture.clock = capture.clock + 0.2;  // less than a read late could be
        capture.speakerStream->play(row.frame, 50, row.flags,
                                    AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY);
    }
    ASSERT_TRUE(waitUntil([&] { return capture.received >= 10000; }));
    capture.capture.stop();  // hands on the last samples
    EXPECT_EQ(capture.speakerStream->streamFlags, DWORD{AUDCLNT_STREAMFLAGS_LOOPBACK});
    EXPECT_NEAR(static_cast<double>(capture.received), capture.rate, 1.0);
    // The first sample was played a second (and the gap) before the last packet ended.
    Seconds next(capture.clock - 1.0 - (row.gap ? 0.2 : 0.0));
    std::vector<double> gaps;
    for (const auto& [samples, start] : capture.blocks) {
        if (std::abs((start - next).count()) > 5e-5) {
            gaps.push_back((start - next).count());
        }
        next = start + Seconds(static_cast<double>(samples.size()) / capture.rate);
        for (float sample : samples) {
            ASSERT_NEAR(sample, row.mono, 1e-4);
        }
    }
    ASSERT_EQ(gaps.size(), row.gap ? 1u : 0u);
    if (row.gap) {
        EXPECT_NEAR(gaps[0], 0.2, 1e-3);
    }
}

INSTANTIATE_TEST_SUITE_P(
    MixFormats, LoopbackConversion,
    ::testing::Values(Conversion{"FloatStereo48k", mix(WAVE_FORMAT_IEEE_FLOAT, 32, 32, 2, 48000),
                                 frameOf<float>({0.5f, -0.1f}), 0, 0.2f, false},
                      Conversion{"Pcm16Stereo44k", mix(WAVE_FORMAT_PCM, 16, 16, 2, 44100),
                                 frameOf<std::int16_t>({16384, 0}), 0, 0.25f, false},
                      Conversion{"Pcm24In32SixChannels96k", mix(WAVE_FORMAT_PCM, 32, 24, 6, 96000),
                                 frameOf<std::int32_t>(std::vector<std::int32_t>(6, 0x40000000)), 0,
                                 0.5f, false},
                      Conversion{"Pcm24PackedMono8k",
                                 mix(WAVE_FORMAT_PCM, 24, 24, 1, 8000),
                                 {0x00, 0x40, 0xe0},
                                 0,
                                 -0.248046875f,
                                 false},
                      Conversion{"SilentFlag", mix(WAVE_FORMAT_IEEE_FLOAT, 32, 32, 2, 48000),
                                 frameOf<float>({0.9f, 0.9f}), AUDCLNT_BUFFERFLAGS_SILENT, 0.0f,
                                 false},
                      Conversion{"Discontinuity", mix(WAVE_FORMAT_IEEE_FLOAT, 32, 32, 2, 48000),
                                 frameOf<float>({0.1f, 0.1f}), 0, 0.1f, true}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(LoopbackCapture, WaitsForAnOutputFollowsTheDefaultAndComesBackAfterTheDeviceWasLost) {
    Capture capture;
    capture.enumerator.setDefault(nullptr);
    capture.start("firefox.exe");
    const std::string asked = "GetDefaultAudioEndpoint(eRender, eConsole)";
    ASSERT_TRUE(waitUntil([&] { return capture.calls(asked) >= 3; }));  // tried again and again
    capture.enumerator.setDefault(&capture.speakers);
    ASSERT_TRUE(capture.capturing(*capture.speakerStream));

    capture.enumerator.setDefault(&capture.headphones);
    IMMNotificationClient* news = capture.enumerator.registered();
    ASSERT_NE(news, nullptr);
    std::thread([news] { news->OnDefaultDeviceChanged(eRender, eConsole, L"headphones"); }).join();
    ASSERT_TRUE(capture.capturing(*capture.headphoneStream));
    EXPECT_EQ(capture.speakerStream->heldByOthers(), 0);

    // Unplugged: every call fails until it is back.
    const std::size_t activated = capture.calls("Activate(IAudioClient)");
    capture.headphones.activateResult = AUDCLNT_E_DEVICE_INVALIDATED;
    capture.headphoneStream->failure = AUDCLNT_E_DEVICE_INVALIDATED;
    ASSERT_TRUE(
        waitUntil([&] { return capture.calls("Activate(IAudioClient)") >= activated + 2; }));
    capture.headphones.activateResult = S_OK;
    capture.headphoneStream->failure = S_OK;
    ASSERT_TRUE(capture.capturing(*capture.headphoneStream));
    capture.capture.stop();
    const std::string output = "capture: the default output, 48000 Hz, 2 channels, 32-bit float";
    EXPECT_EQ(capture.log,
              (std::vector<std::string>{
                  "capture: the whole output, firefox.exe alone cannot be captured by this build",
                  "capture: no audio output to listen to", output, output,
                  "capture: GetBuffer: HRESULT 0x88890004",
                  "capture: Activate(IAudioClient): HRESULT 0x88890004", output}));
}

}  // namespace
}  // namespace hushwell::testing
