#include "mixer/pulse/PulseCapture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>
#include <tuple>

#include "listen/Fingerprinter.h"
#include "listen/Matcher.h"
#include "listen/PrintHistory.h"
#include "listen/SyntheticStation.h"
#include "mixer/pulse/PulseConnection.h"
#include "mixer/pulse/PulseMixer.h"
#include "support/AudioSandbox.h"
#include "support/ExecutableCopy.h"
#include "support/Fakes.h"
#include "support/PlayingStream.h"

namespace hushwell::testing {
namespace {

// Two seconds of silence (a program's capture starts within one), a song, a jingle, talk: pressed
// 0.6 s into the jingle.
constexpr double kSilence = 2;
constexpr double kPress = 8.6;
// s played: the press's sound reaches the capture up to a relaxed piece (2 s) and a wake-up's pause
// (0.5 s) after it is played, later on a busy machine, and once the player ends the record stream
// ends with it, what the server still held for it lost.
constexpr double kPlayed = kPress + 5;

std::vector<float> piece(unsigned seed) {
    return render(
        {{Sound::Song, seed, 2, 6}, {Sound::Song, 7, 8, 3}, {Sound::Talk, seed + 1, 11, 8}}, 0, 19);
}

MarkPrint printOf(const std::vector<float>& samples) {
    Fingerprinter fingerprinter(kStationRate);
    PrintHistory history;
    for (const PrintFrame& frame : fingerprinter.push(samples, 0)) {
        history.add(frame);
    }
    return history.around(kPress).value();
}

// Plays `samples` to `sink` as the program `program` and returns when they are through; its files
// are in a folder of `folder` named `stream`. `latency`: ms the player asks (0: pacat's own).
void play(const std::filesystem::path& folder, const std::string& program, const std::string& sink,
          const std::vector<float>& samples, const std::string& stream = "first", int latency = 0) {
    std::filesystem::create_directories(folder / stream);
    const auto file = folder / stream / (program + ".raw");
    writeFile(file, std::string(reinterpret_cast<const char*>(samples.data()),
                                samples.size() * sizeof(float)));
    const auto copy = folder / stream / program;
    copyExecutable("/usr/bin/pacat", copy);
    run(copy.string() + " --device=" + sink + " --rate=11025 --channels=1 --format=float32le " +
        (latency > 0 ? "--latency-msec=" + std::to_string(latency) + " " : "") + file.string());
}

// Polls `command` until its output holds `text`, for ten seconds at most.
bool shows(const std::string& command, const std::string& text) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (run(command).find(text) != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

struct Heard {
    std::mutex mutex;
    std::vector<hushwell::Heard> heard;
    std::optional<double> onset;  // of the first block that is not silence, whatever the volume
    double rate = 0;              // of the last block
    double seconds = 0;           // of audio handed on
};

struct Source {
    const char* name;
    std::string program = "";  // captured
    bool caller = false;       // another program plays other sounds at the same time
    int sinkRate = 0;          // the default sink's, when not the sandbox's "speakers"
    int streams = 1;           // the program's: silence on the others, the piece on the last
    double promptAt = 0;       // s into the piece the capture is made prompt; before, it is not
    // s into the piece the capture is made inactive (0: from before it starts; never when
    // negative), and active again
    double inactiveAt = -1;
    double activeAt = 0;
    int playerLatency = 0;  // ms the piece's player asks, as browsers ask tens (0: pacat's own)
    bool checkFormat =
        false;  // the record stream's: the sink's rate, format and recordedChannels()
    // Turned down to this percent while it plays: the output (whole output), or the program's
    // stream, as a break lowers them; 0: not.
    int turnedDown = 0;
};

// The sample format of the one stream recorded, once there is one (empty if none comes), as
// `pactl list short source-outputs` ends its line: "s16le 1ch 44100Hz".
std::string recordedFormat() {
    for (int attempt = 0; attempt < 200; ++attempt) {
        const std::string outputs = run("pactl list short source-outputs");
        if (const auto end = outputs.find("Hz"); end != std::string::npos) {
            const std::size_t start = outputs.rfind('\t', end) + 1;
            return outputs.substr(start, end + 2 - start);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return {};
}

void PrintTo(const Source& source, std::ostream* out) {
    *out << source.name;
}

class PulseCaptureTest : public ::testing::TestWithParam<Source> {};

// The capture starts while the server is away and gets there; what it captures is heard.
TEST_P(PulseCaptureTest, HearsAPressPlayedToTheServer) {
    const std::vector<float> radio = piece(11);
    Matcher matcher(printOf(radio));
    std::optional<Fingerprinter> fingerprinter;
    Heard result;
    AudioSandbox& sandbox = AudioSandbox::instance();
    sandbox.stop();
    const std::unique_ptr<AudioCapture> capture = pulseCapture();
    capture->setPrompt(GetParam().promptAt == 0);
    capture->setActive(GetParam().inactiveAt != 0);
    capture->start(
        GetParam().program, [&](std::span<const float> samples, double rate, auto start) {
            const double time = std::chrono::duration<double>(start.time_since_epoch()).count();
            const std::lock_guard lock(result.mutex);
            float loudest = 0;
            for (const float sample : samples) {
                loudest = std::max(loudest, std::abs(sample));
            }
            if (!result.onset && loudest > 0.001F) {
                result.onset = time;
            }
            result.rate = rate;
            result.seconds += static_cast<double>(samples.size()) / rate;
            if (!fingerprinter || fingerprinter->rate() != rate) {
                fingerprinter.emplace(rate);
            }
            for (const PrintFrame& frame : fingerprinter->push(samples, time)) {
                if (const auto heard = matcher.add(frame)) {
                    result.heard.push_back(*heard);
                }
            }
        });
    sandbox.start();
    const Source& row = GetParam();
    std::optional<NullSink> sink;
    if (row.sinkRate != 0) {
        sink.emplace(row.sinkRate);
    }
    const std::string sinkName = sink ? sink->name() : "speakers";
    TempDir dir;
    // The program's other stream plays first, long enough to outlast the piece, and is recorded.
    const auto length = std::ptrdiff_t(kPlayed * kStationRate);
    std::thread otherStream([&] {
        if (row.streams > 1) {
            play(dir.path(), row.program, sinkName, std::vector<float>(length * 2, 0.0F), "other");
        }
    });
    if (row.streams > 1) {
        EXPECT_TRUE(shows("pactl list source-outputs", "Hushwell listening"));
    }
    // The capture is back on the server before the piece plays, and records it from its start
    // (its silence).
    EXPECT_TRUE(shows("pactl list clients", "\"Hushwell\""));
    std::thread caller([&] {
        if (row.caller) {
            const std::vector<float> other = piece(51);
            play(dir.path(), "caller", sinkName, {other.begin(), other.begin() + length});
        }
    });
    std::jthread prompt([&] {
        if (row.promptAt > 0) {
            std::this_thread::sleep_for(std::chrono::duration<double>(row.promptAt));
            capture->setPrompt(true);
        }
    });
    std::jthread active([&] {
        const auto begun = std::chrono::steady_clock::now();
        if (row.inactiveAt > 0) {
            std::this_thread::sleep_until(begun + std::chrono::duration<double>(row.inactiveAt));
            capture->setActive(false);
        }
        if (row.inactiveAt >= 0) {
            std::this_thread::sleep_until(begun + std::chrono::duration<double>(row.activeAt));
            capture->setActive(true);
        }
    });
    std::string recorded;
    std::thread format([&] { recorded = row.checkFormat ? recordedFormat() : ""; });
    const std::string down = std::to_string(row.turnedDown) + "%";
    if (row.turnedDown > 0 && row.program.empty()) {
        run("pactl set-sink-volume " + sinkName + " " + down);
    }
    std::jthread lower([&] {  // the program's stream, once it is there
        for (int attempt = 0; row.turnedDown > 0 && !row.program.empty() && attempt < 100;
             ++attempt) {
            for (const SinkInput& input : sinkInputs()) {
                if (input.binary == row.program) {
                    run("pactl set-sink-input-volume " + std::to_string(input.index) + " " + down);
                    return;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    play(dir.path(), row.program.empty() ? "radio" : row.program, sinkName,
         {radio.begin(), radio.begin() + length}, "first", row.playerLatency);
    format.join();
    caller.join();
    otherStream.join();
    capture->stop();

    if (row.checkFormat) {  // the sandbox's sinks: 16-bit stereo on PulseAudio, floats on PipeWire
        EXPECT_EQ(recorded, audioServerKind() == AudioServer::PulseAudio ? "s16le 1ch 48000Hz"
                                                                         : "float32le 2ch 48000Hz");
    }
    const std::lock_guard lock(result.mutex);
    if (row.sinkRate != 0) {
        EXPECT_EQ(result.rate, row.sinkRate);  // the sink's own: the server did not resample
    }
    if (row.inactiveAt >= 0) {  // nothing recorded while inactive
        EXPECT_LE(result.seconds, kPlayed - (row.activeAt - row.inactiveAt) + 0.5);
    }
    ASSERT_EQ(result.heard.size(), 1U);
    ASSERT_TRUE(result.onset.has_value());
    const double error = result.heard.front().pressTime - (*result.onset - kSilence + kPress);
    std::printf("%s: %+.3f s from the press's moment\n", GetParam().name, error);
    EXPECT_LT(std::abs(error), 1.0);
}

// The names of this process's clients of the server.
std::vector<std::string> ourClients() {
    const std::string list = run("pactl list clients");
    const std::string ours = "application.process.id = \"" + std::to_string(getpid()) + "\"";
    std::vector<std::string> names;
    for (std::size_t at = list.find("Client #"); at != std::string::npos;) {
        const std::size_t next = list.find("Client #", at + 1);
        const std::string client = list.substr(at, next - at);
        if (const std::size_t name = client.find("application.name = \"");
            client.find(ours) != std::string::npos && name != std::string::npos) {
            names.push_back(client.substr(name + 20, client.find('"', name + 20) - name - 20));
        }
        at = next;
    }
    return names;
}

// Waiting for a program that plays nothing, or following the default output while nothing plays,
// the capture keeps the one connection it made: the process's one, which the volume shares.
TEST_P(PulseCaptureTest, KeepsOneConnectionWhileNothingPlays) {
    AudioSandbox::instance();
    const std::unique_ptr<MasterVolume> volume = pulseMasterVolume();
    ASSERT_TRUE(volume->open());
    const std::unique_ptr<AudioCapture> capture = pulseCapture();
    capture->setPrompt(GetParam().promptAt == 0);
    capture->setActive(GetParam().inactiveAt != 0);
    capture->start(GetParam().program, [](std::span<const float>, double, auto) {});
    // Every client that connects while pactl listens, for five seconds.
    const std::string events = run("timeout -s INT 5 stdbuf -oL pactl subscribe || true");
    EXPECT_EQ(ourClients(), std::vector<std::string>{"Hushwell"});
    capture->stop();
    std::size_t connections = 0;
    for (std::size_t at = events.find("'new' on client"); at != std::string::npos;
         at = events.find("'new' on client", at + 1)) {
        ++connections;
    }
    EXPECT_EQ(connections, 0U) << events;
}

// A listener that takes its time (a press fingerprints seconds of audio at once) holds no volume
// call: the blocks reach it on a thread of the capture's own, not on the connection's.
TEST(PulseCaptureListener, TakingItsTimeHoldsNoVolumeCall) {
    AudioSandbox::instance();
    const std::unique_ptr<MasterVolume> volume = pulseMasterVolume();
    ASSERT_TRUE(volume->open() && volume->locate());
    const std::unique_ptr<AudioCapture> capture = pulseCapture();
    std::atomic<bool> inside{false};
    std::atomic<int> taken{0};
    capture->start("", [&](std::span<const float>, double, auto) {
        inside = true;
        std::this_thread::sleep_for(std::chrono::seconds(2));
        ++taken;
    });
    TempDir dir;
    std::thread player([&] {
        play(dir.path(), "radio", "speakers", std::vector<float>(3 * kStationRate, 0.0F), "radio");
    });
    for (int wait = 0; wait < 100 && !inside; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(inside);
    const int before = taken;
    EXPECT_TRUE(volume->set(20000));
    EXPECT_EQ(taken, before) << "the volume call waited for the listener";
    player.join();
    capture->stop();
}

INSTANTIATE_TEST_SUITE_P(
    Sources, PulseCaptureTest,
    ::testing::Values(
        Source{"DefaultOutput", "", false}, Source{"OneProgram", "radio", true},
        Source{"DefaultOutputAt48000", "", false, 48000},
        Source{"OneProgramAt44100", "radio", false, 44100},
        Source{"MonoInTheSinksFormat", "", false, 48000, 1, 0, -1, 0, 0, true},
        Source{"ProgramWithTwoStreams", "radio", true, 0, 2},
        // Heard in pieces of seconds, then promptly.
        Source{"PromptFromThePress", "", false, 0, 1, kPress},
        // Recording nothing for 1.5 s in the song, once its start was handed on
        // (what the server held for the stream is lost when it ends), or at first.
        // A record stream made anew hears nothing until the sink next renders (the
        // player's latency; this one asks 200 ms), and a press is heard only from
        // audio that began 2 s before it or earlier.
        Source{"InactiveBeforeThePress", "", false, 0, 1, 0, 4, 5.5, 200},
        Source{"ActiveFromTheSilence", "radio", true, 0, 1, 0, 0, 1},
        // A piece every few ms, read a fragment at a time.
        Source{"ShortLatencyPlayer", "", false, 0, 1, kPress, -1, 0, 40},
        // Lowered to 10 % (60 dB down), as a break lowers them: heard as loud.
        Source{.name = "DefaultOutputTurnedDown", .program = "", .caller = true, .turnedDown = 10},
        Source{
            .name = "OneProgramTurnedDown", .program = "radio", .caller = true, .turnedDown = 10}),
    [](const ::testing::TestParamInfo<Source>& row) { return std::string(row.param.name); });

// What a stream's part of the monitor carries, to be undone: its own volume, or with flat volumes
// its share of the sink's.
TEST(StreamGain, IsTheStreamsOwnVolumeOrItsShare) {
    for (const auto& [stream, sink, flat, gain] :
         std::vector<std::tuple<double, double, bool, double>>{{1, 0.008, false, 1},
                                                               {0.008, 1, false, 0.008},
                                                               {0.001, 0.5, false, 0.001},
                                                               {0.008, 0.008, true, 1},
                                                               {0.004, 0.008, true, 0.5},
                                                               {0.5, 0, true, 1}}) {
        EXPECT_DOUBLE_EQ(streamGain(stream, sink, flat), gain) << stream << " " << sink << flat;
    }
}

// A sink's monitor recorded in mono where the server mixes it down to the mean of its channels.
TEST(RecordedChannels, MonoWhereTheServerMixesToTheMean) {
    // The sink's channels, whether the server is PipeWire, the channels recorded.
    for (const auto& [channels, pipeWire, recorded] : std::vector<std::tuple<int, bool, int>>{
             {2, false, 1}, {1, false, 1}, {6, false, 6}, {2, true, 2}, {1, true, 1}}) {
        EXPECT_EQ(recordedChannels(std::uint8_t(channels), pipeWire), recorded)
            << channels << pipeWire;
    }
}

// The mix of a program's streams, slack four samples, patience one second: each step (at a moment,
// in ms), what it hands on.
TEST(StreamMix, HandsOnWhatEveryStreamHasReached) {
    enum Step { Add, Remove, Push };
    struct Row {
        const char* what;
        std::vector<std::tuple<Step, std::uint32_t, std::vector<float>, std::vector<float>, int>>
            steps;
    };
    const std::vector<Row> table{
        {"one stream at once", {{Add, 1, {}, {}, 0}, {Push, 1, {1, 2, 3}, {1, 2, 3}, 0}}},
        {"two in step, summed",
         {{Add, 1, {}, {}, 0},
          {Add, 2, {}, {}, 0},
          {Push, 1, {1, 1}, {}, 0},
          {Push, 2, {2, 3}, {3, 4}, 0}}},
        // Two fragments read at once are not a stall: the other's come in the same wake-up.
        {"one behind but heard lately is waited for",
         {{Add, 1, {}, {}, 0},
          {Add, 2, {}, {}, 0},
          {Push, 1, {1, 1, 1}, {}, 500},
          {Push, 2, {2, 2, 2}, {3, 3, 3}, 500}}},
        {"one not heard for longer is silence where the others have come",
         {{Add, 1, {}, {}, 0},
          {Add, 2, {}, {}, 0},
          {Push, 1, {1, 1}, {1, 1}, 1500},
          {Push, 2, {2, 2}, {}, 1500},
          {Push, 1, {1, 1}, {3, 3}, 1600}}},
        {"one more than the slack behind is silence there, however lately heard",
         {{Add, 1, {}, {}, 0},
          {Add, 2, {}, {}, 0},
          {Push, 1, {1, 1, 1, 1, 1, 1}, {1, 1}, 0},
          {Push, 2, {2, 2}, {3, 3}, 0}}},
        {"one removed holds nothing back",
         {{Add, 1, {}, {}, 0},
          {Add, 2, {}, {}, 0},
          {Push, 1, {1}, {}, 0},
          {Remove, 2, {}, {}, 0},
          {Push, 1, {1}, {1, 1}, 0}}},
        {"one added starts where the others are",
         {{Add, 1, {}, {}, 0},
          {Push, 1, {1, 1}, {1, 1}, 0},
          {Add, 2, {}, {}, 0},
          {Push, 2, {2}, {}, 0},
          {Push, 1, {1}, {3}, 0}}},
        {"a stream not added is not heard", {{Add, 1, {}, {}, 0}, {Push, 2, {5}, {}, 0}}},
    };
    for (const Row& row : table) {
        StreamMix mix(4, std::chrono::seconds(1));
        for (const auto& [step, stream, samples, expected, ms] : row.steps) {
            const auto now = StreamMix::Clock::time_point(std::chrono::milliseconds(ms));
            if (step == Add) {
                mix.add(stream, now);
            } else if (step == Remove) {
                mix.remove(stream);
            } else {
                const std::span<const float> out = mix.push(stream, samples, now);
                EXPECT_EQ(std::vector<float>(out.begin(), out.end()), expected) << row.what;
            }
        }
    }
}

// The times of blocks of 100 samples at 1000 a second, counted from pieces that came at given
// moments (s), a jump of 2.5 s.
TEST(SampleClock, SlidesTheTimesWhileTheSamplesFollowOn) {
    struct Row {
        const char* what;
        std::vector<std::pair<std::size_t, double>> pieces;  // samples, when they came
        std::vector<double> starts;                          // of the blocks handed on
    };
    const std::vector<Row> table{
        {"pieces on time: their own times", {{100, 0.1}, {100, 0.2}, {100, 0.3}}, {0, 0.1, 0.2}},
        // The first piece's own lateness is found out only when the second comes.
        {"a late burst, then one on time: slid back 50 ms a block",
         {{300, 1.0}, {300, 1.0}},
         {0.7, 0.8, 0.9, 0.95, 1.0, 1.05}},
        {"a piece late: the count moved on by 0.5 ms at most",
         {{100, 0.1}, {100, 0.2}, {100, 0.6}},
         {0, 0.1, 0.2005}},
        {"further behind than the jump: a gap, afresh", {{100, 0.1}, {100, 3.0}}, {0, 2.9}},
    };
    const SampleClock::Clock::time_point zero;
    for (const Row& row : table) {
        SampleClock clock(1000, 2.5);
        std::vector<double> starts;
        for (const auto& [count, came] : row.pieces) {
            const auto now = zero + std::chrono::duration_cast<SampleClock::Clock::duration>(
                                        std::chrono::duration<double>(came));
            if (!clock.follows(count, now)) {
                clock.restart();
            }
            clock.add(count, now);
            for (std::size_t block = 0; block < count / 100; ++block) {
                starts.push_back(std::chrono::duration<double>(clock.handOn(100) - zero).count());
            }
        }
        ASSERT_EQ(starts.size(), row.starts.size()) << row.what;
        for (std::size_t i = 0; i < starts.size(); ++i) {
            EXPECT_NEAR(starts[i], row.starts[i], 1e-6) << row.what << ", block " << i;
        }
    }
}

// The pacing of the capture's wake-ups, a pause of 500 ms, woken at 0: when a wait at `now` ends.
TEST(WakePacing, WaitsOutThePauseOnlyWhileAudioComes) {
    using Ms = std::chrono::milliseconds;
    struct Row {
        const char* what;
        bool audio;
        Ms now;
        std::optional<Ms> timer;
        Ms until;
    };
    const std::vector<Row> table{
        {"no audio since the wake: at once", false, Ms(100), {}, Ms(100)},
        {"audio: the pause from the wake", true, Ms(100), {}, Ms(500)},
        {"audio, a timer sooner: the timer", true, Ms(100), Ms(300), Ms(300)},
        {"audio, the pause over: at once", true, Ms(700), {}, Ms(700)},
    };
    const WakePacing::Clock::time_point zero;
    for (const Row& row : table) {
        WakePacing pacing;
        pacing.setPause(Ms(500));
        pacing.woke(zero);
        if (row.audio) {
            pacing.audio();
        }
        const auto timer = row.timer ? std::optional(zero + *row.timer) : std::nullopt;
        EXPECT_EQ(pacing.waitUntil(zero + row.now, timer), zero + row.until) << row.what;
    }
}

}  // namespace
}  // namespace hushwell::testing
