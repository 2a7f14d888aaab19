#include "mixer/windows/LoopbackCapture.h"

#include <gtest/gtest.h>

#include "mixer/windows/ComThread.h"
#include "mixer/windows/EndpointVolume.h"
#include "mixer/windows/FakeAudioCapture.h"

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
        EXPECT_EQ(speakerStream->refused + headphoneStream->refused, 0);
    }
    void start(const std::string& program = {}) {
        capture.start(program, [this](std::span<const float> samples, double blockRate,
                                      std::chrono::steady_clock::time_point start) {
            listener = GetCurrentThreadId();  // before the lock, which a test may hold
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
    std::atomic<double> rate{0};     // of the latest block
    std::atomic<DWORD> listener{0};  // the thread that handed on the latest block
    std::shared_ptr<ComThread> thread = ComThread::start([this](IMMDeviceEnumerator** out) -> long {
        enumerator.AddRef();
        *out = &enumerator;
        return S_OK;
    });
    LoopbackCapture capture{
        {thread,
         [this] {
             return std::chrono::steady_clock::time_point(
                 std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                     Seconds(clock.load())));
         },
         [this] { return static_cast<std::uint64_t>(std::llround(clock * 1e7)); }, 20ms,
         [this](const std::string& line) { log.push_back(line); }}};
};

constexpr DWORD kDiscontinuity = AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY;
constexpr DWORD kTimestampError = AUDCLNT_BUFFERFLAGS_TIMESTAMP_ERROR;

struct Conversion {
    const char* name;
    WAVEFORMATEXTENSIBLE format;
    std::vector<BYTE> frame;
    DWORD flags;
    float mono;
    double idle = 0.0;    // s of nothing played after half a second (the device position moves on)
    DWORD afterIdle = 0;  // the flags of the first packet after it
    double late = 0.0;    // s from each packet's recording to its being read
};

void PrintTo(const Conversion& row, std::ostream* out) {
    *out << row.name;
}

class LoopbackConversion : public ::testing::TestWithParam<Conversion> {};

TEST_P(LoopbackConversion, HandsOnASecondOfMonoAtTheMixRateTimedByTheAudioEngine) {
    const Conversion& row = GetParam();
    const double rate = row.format.Format.nSamplesPerSec;
    Capture capture(row.format);
    capture.start();
    FakeStream& stream = *capture.speakerStream;
    stream.latency = row.late;
    stream.play(row.frame, 50, row.flags);
    ASSERT_TRUE(waitUntil([&] { return stream.waiting() == 0; }));
    stream.idle(row.idle);
    stream.play(row.frame, 50, row.flags, row.afterIdle);
    ASSERT_TRUE(waitUntil([&] { return stream.waiting() == 0; }));
    capture.capture.stop();  // hands on the last samples
    EXPECT_EQ(stream.streamFlags, DWORD{AUDCLNT_STREAMFLAGS_LOOPBACK});
    EXPECT_EQ(capture.rate, rate);
    EXPECT_EQ(capture.received, static_cast<std::size_t>(rate));
    // The first sample was played a second (and the idle time) before the last packet ended.
    Seconds next(capture.clock - 1.0 - row.idle - row.late);
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
    // The log tells each gap.
    std::vector<std::string> told;
    std::copy_if(
        capture.log.begin(), capture.log.end(), std::back_inserter(told),
        [](const std::string& line) { return line.find(" s without sound") != line.npos; });
    std::string gap = "capture: 0.200 s without sound";
    gap += row.afterIdle == kDiscontinuity ? " (samples lost)" : "";
    EXPECT_EQ(told, row.idle > 0.0 ? std::vector{gap} : std::vector<std::string>{});
    ASSERT_EQ(gaps.size(), row.idle > 0.0 ? 1u : 0u);
    if (row.idle > 0.0) {
        EXPECT_NEAR(gaps[0], row.idle, 1e-4);
    }
}

INSTANTIATE_TEST_SUITE_P(
    MixFormats, LoopbackConversion,
    ::testing::Values(
        Conversion{"FloatStereo48k", mix(WAVE_FORMAT_IEEE_FLOAT, 32, 32, 2, 48000),
                   frameOf<float>({0.5f, -0.1f}), 0, 0.2f},
        Conversion{"Pcm16Stereo44k", mix(WAVE_FORMAT_PCM, 16, 16, 2, 44100),
                   frameOf<std::int16_t>({16384, 0}), 0, 0.25f},
        Conversion{"Pcm24In32SixChannels96k", mix(WAVE_FORMAT_PCM, 32, 24, 6, 96000),
                   frameOf<std::int32_t>(std::vector<std::int32_t>(6, 0x40000000)), 0, 0.5f},
        Conversion{"Pcm24PackedMono8k",
                   mix(WAVE_FORMAT_PCM, 24, 24, 1, 8000),
                   {0x00, 0x40, 0xe0},
                   0,
                   -0.248046875f},
        Conversion{"SilentFlag", mix(WAVE_FORMAT_IEEE_FLOAT, 32, 32, 2, 48000),
                   frameOf<float>({0.9f, 0.9f}), AUDCLNT_BUFFERFLAGS_SILENT, 0.0f},
        Conversion{"IdleIsAGap", mix(WAVE_FORMAT_IEEE_FLOAT, 32, 32, 2, 48000),
                   frameOf<float>({0.1f, 0.1f}), 0, 0.1f, 0.2},
        Conversion{"Discontinuity", mix(WAVE_FORMAT_IEEE_FLOAT, 32, 32, 2, 44100),
                   frameOf<float>({0.1f, 0.1f}), 0, 0.1f, 0.2, kDiscontinuity},
        Conversion{"ReadLate", mix(WAVE_FORMAT_IEEE_FLOAT, 32, 32, 2, 44100),
                   frameOf<float>({0.1f, 0.1f}), 0, 0.1f, 0.0, 0, 0.3},
        // Every time stamp off: the first read's end is its time, then the device position counts.
        Conversion{"TimestampErrorsIdle", mix(WAVE_FORMAT_IEEE_FLOAT, 32, 32, 2, 48000),
                   frameOf<float>({0.1f, 0.1f}), kTimestampError, 0.1f, 0.2}),
    [](const auto& row) { return std::string(row.param.name); });

// What Windows refuses, the fake refuses (and the capture above never asks it).
TEST(FakeStream, RefusesReleasesOutOfOrderAndOfAnotherLength) {
    FakeAudioSystem system;
    std::atomic<double> clock{10.0};
    FakeStream stream(system, clock, mix(WAVE_FORMAT_IEEE_FLOAT, 32, 32, 2, 48000));
    BYTE* data = nullptr;
    UINT32 frames = 0;
    DWORD flags = 0;
    const auto get = [&] { return stream.GetBuffer(&data, &frames, &flags, nullptr, nullptr); };
    EXPECT_EQ(stream.ReleaseBuffer(0), AUDCLNT_E_OUT_OF_ORDER);
    stream.play(frameOf<float>({0.1f, 0.1f}), 1);
    ASSERT_EQ(get(), S_OK);
    EXPECT_EQ(get(), AUDCLNT_E_OUT_OF_ORDER);
    EXPECT_EQ(stream.ReleaseBuffer(frames - 1), AUDCLNT_E_INVALID_SIZE);
    EXPECT_EQ(stream.ReleaseBuffer(0), S_OK);  // kept: the same packet again
    ASSERT_EQ(get(), S_OK);
    EXPECT_EQ(stream.ReleaseBuffer(frames), S_OK);
    EXPECT_EQ(stream.ReleaseBuffer(frames), AUDCLNT_E_OUT_OF_ORDER);
    EXPECT_EQ(get(), AUDCLNT_S_BUFFER_EMPTY);
    EXPECT_EQ(stream.refused, 4);
}

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

// The endpoint volume on the capture's COM thread: one enumerator with one client, whose news both
// follow; each its own idle clock (the capture reads on while the broken volume waits its hour);
// and the listener, however slow, holds no volume call behind a block.
TEST(LoopbackCapture, SharesItsComThreadAndItsNewsWithTheEndpointVolume) {
    Capture capture;
    EndpointVolume volume(capture.thread, nullptr, {.retry = 1h});
    ASSERT_TRUE(volume.open());
    capture.start();
    ASSERT_TRUE(capture.capturing(*capture.speakerStream));
    capture.enumerator.setDefault(&capture.headphones);
    capture.enumerator.announce(eRender, eConsole, L"headphones");
    ASSERT_TRUE(capture.capturing(*capture.headphoneStream));
    EXPECT_EQ(volume.set(20), "headphones");
    {
        const std::lock_guard slow(capture.mutex);
        capture.listener = 0;
        capture.headphoneStream->play(frameOf<float>({0.1f, 0.1f}), 20);
        ASSERT_TRUE(waitUntil([&] { return capture.listener != 0; }));
        EXPECT_EQ(volume.set(30), "headphones");
    }
    capture.headphones.volume.setResult = E_FAIL;
    EXPECT_EQ(volume.set(40), std::nullopt);
    ASSERT_TRUE(capture.capturing(*capture.headphoneStream));
    EXPECT_EQ(capture.enumerator.registrations, 1);
    const std::vector<FakeAudioSystem::Call> calls = capture.system.allCalls();
    for (const FakeAudioSystem::Call& call : calls) {
        EXPECT_EQ(call.thread, calls.front().thread) << call.what;
    }
    EXPECT_NE(capture.listener, calls.front().thread);
}

// The endpoint volume's failure drops the shared enumerator, and with it the client: a switch of
// output in between is told to nobody. Once the volume registers again, the capture follows it.
TEST(LoopbackCapture, FollowsASwitchMadeWhileTheEnumeratorWasDropped) {
    Capture capture;
    EndpointVolume volume(capture.thread, nullptr, {.retry = 10ms});
    ASSERT_TRUE(volume.open());
    capture.start();
    ASSERT_TRUE(capture.capturing(*capture.speakerStream));
    // Switched as the speakers fail: Windows tells no client, the enumerator being dropped.
    capture.speakers.volume.setResult = E_FAIL;
    capture.enumerator.setDefault(&capture.headphones);
    EXPECT_EQ(volume.set(40), std::nullopt);
    ASSERT_TRUE(capture.capturing(*capture.headphoneStream));
    EXPECT_TRUE(waitUntil([&] { return volume.set(40) == "headphones"; }));
    EXPECT_EQ(capture.enumerator.registrations, 2);
}

}  // namespace
}  // namespace hushwell::testing
