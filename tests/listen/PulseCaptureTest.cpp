#include "mixer/PulseCapture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>

#include "listen/Fingerprinter.h"
#include "listen/Matcher.h"
#include "listen/PrintHistory.h"
#include "listen/SyntheticStation.h"
#include "support/AudioSandbox.h"
#include "support/Fakes.h"

namespace hushwell::testing {
namespace {

// Two seconds of silence (a program's capture starts within one), a song, a jingle, talk: pressed
// 0.6 s into the jingle.
constexpr double kSilence = 2;
constexpr double kPress = 8.6;

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

// Plays `samples` to the sink "speakers" as the program `program` and returns when they are
// through.
void play(const std::filesystem::path& folder, const std::string& program,
          const std::vector<float>& samples) {
    const auto file = folder / (program + ".raw");
    writeFile(file, std::string(reinterpret_cast<const char*>(samples.data()),
                                samples.size() * sizeof(float)));
    const auto copy = folder / program;
    std::filesystem::copy_file("/usr/bin/pacat", copy);
    run(copy.string() + " --device=speakers --rate=11025 --channels=1 --format=float32le " +
        file.string());
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
};

struct Source {
    const char* name;
    std::string program;  // captured
    bool caller;          // another program plays other sounds at the same time
};

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
    TempDir dir;
    // The capture is back on the server (and recording, for the whole output) before the piece
    // plays; a program's stream is found within the piece's silence.
    EXPECT_TRUE(
        shows(GetParam().program.empty() ? "pactl list source-outputs" : "pactl list clients",
              GetParam().program.empty() ? "Hushwell listening" : "Hushwell listener"));
    std::thread caller([&dir] {
        if (GetParam().caller) {
            const std::vector<float> other = piece(51);
            play(dir.path(), "caller",
                 {other.begin(), other.begin() + std::ptrdiff_t((kPress + 2) * kStationRate)});
        }
    });
    // The rest after the press is not needed to hear it.
    play(dir.path(), "radio",
         {radio.begin(), radio.begin() + std::ptrdiff_t((kPress + 2) * kStationRate)});
    caller.join();
    capture->stop();

    const std::lock_guard lock(result.mutex);
    ASSERT_EQ(result.heard.size(), 1U);
    ASSERT_TRUE(result.onset.has_value());
    const double error = result.heard.front().pressTime - (*result.onset - kSilence + kPress);
    std::printf("%s: %+.3f s from the press's moment\n", GetParam().name, error);
    EXPECT_LT(std::abs(error), 1.0);
}

INSTANTIATE_TEST_SUITE_P(Sources, PulseCaptureTest,
                         ::testing::Values(Source{"DefaultOutput", "", false},
                                           Source{"OneProgram", "radio", true}),
                         [](const ::testing::TestParamInfo<Source>& row) {
                             return std::string(row.param.name);
                         });

}  // namespace
}  // namespace hushwell::testing
