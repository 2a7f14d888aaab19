#include "listen/Matcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <complex>
#include <cstdio>
#include <numbers>
#include <random>
#include <utility>

#include "listen/Fft.h"
#include "listen/Fingerprinter.h"
#include "listen/Listener.h"
#include "listen/MarkMatcher.h"
#include "listen/SyntheticStation.h"

namespace hushwell::testing {
namespace {

// An hour of a station around one break: a song, the break (an opening jingle, talk and a song
// for adverts, a closing jingle) and the next song. Seeds differ from hour to hour but for the
// jingles and a song played again.
constexpr double kBreakStart = 1200;
constexpr double kBreakEnd = 1287;
constexpr double kDownReaction = 0.6;  // after the opening jingle starts, the listener presses
constexpr double kUpReaction = 0.7;

struct Station {
    const char* name;
    double delay;      // s, of the second hour against the first
    double drift = 0;  // ppm the station's clock runs fast
    double noise = 0;  // amplitude, against songs of about 0.2
    double gain = 1;   // of the second hour
    bool jingles = true;
    bool replay = false;  // the song before the first hour's break plays again before the second's
    double press = kDownReaction;     // s after the opening jingle starts (or would)
    double segue = 0;                 // s the song before runs on under the opening jingle
    double wordsUnder = 0;            // s the talk after it starts before the jingle ends
    double jingleGain = 1;            // of the jingles against the rest
    double silence = 0;               // s between the song before and the opening jingle
    bool sameSongBefore = false;      // the later hour's song before the break is the first's
    bool beeps = false;               // the opening jingle is two beeps of 0.8 s, 0.7 s apart
    double firstRate = kStationRate;  // of the hour of the presses
    double laterRate = kStationRate;
    bool highBeeps = false;    // the opening jingle is kHighBeeps, nothing below 2 kHz
    double firstGain = 1;      // of the hour of the presses (the output's volume, which the monitor
                               // carries)
    double toldWithin = 1.35;  // s after the press's moment
};

// Beeps of tones above 2 kHz, of uneven lengths, each 0.15 s after the one before, so that no
// other alignment of them matches as well.
struct Beep {
    double length, hz;
};
constexpr std::array<Beep, 5> kHighBeeps = {
    {{0.3, 8200}, {0.15, 5300}, {0.45, 3150}, {0.2, 8200}, {0.35, 5300}}};

std::vector<Segment> hour(int number, double delay, const Station& station, bool replay) {
    const double base = number * 3600 + delay;
    const auto seed = static_cast<unsigned>(100 * number);
    const double silence = station.silence;
    std::vector<Segment> programme;
    if (replay) {  // hour 0's song before the break, ending 50 s before this one's
        programme.push_back({Sound::Song, 1, base + 850, 300 + station.segue});
        programme.push_back({Sound::Talk, seed + 2, base + 1150, 50});
    } else if (silence > 0 && number > 0) {  // and a pause of the same length earlier
        programme.push_back({Sound::Song, seed + 1, base + 900, 250});
        programme.push_back({Sound::Song, seed + 6, base + 1150 + silence, 50 - silence});
    } else {
        programme.push_back(
            {Sound::Song, station.sameSongBefore ? 1 : seed + 1, base + 900, 300 + station.segue});
    }
    const double jingle = station.jingles ? 3 : 0;
    const double opening = base + kBreakStart + silence;
    if (station.jingles) {
        for (int beep = 0; station.beeps && beep < 2; ++beep) {
            programme.push_back(
                {Sound::Song, 20U + static_cast<unsigned>(beep), opening + beep * 1.5, 0.8});
        }
        if (!station.beeps && !station.highBeeps) {
            programme.push_back({Sound::Song, 7, opening, jingle, station.jingleGain});
        }
        programme.push_back({Sound::Song, 8, base + kBreakEnd, jingle, station.jingleGain});
    }
    const double talk = opening + jingle - station.wordsUnder;
    programme.push_back({Sound::Talk, seed + 3, talk, 40});
    programme.push_back({Sound::Song, seed + 4, talk + 40, base + kBreakEnd - talk - 40});
    programme.push_back({Sound::Song, seed + 5, base + kBreakEnd + jingle, 300});
    return programme;
}

// What a listener hears of hour `number` from `from` to `to` (see render()).
std::vector<float> heardHour(int number, double delay, const Station& station, bool replay,
                             double from, double to, double speed, double noise, double gain,
                             double rate) {
    std::vector<float> samples =
        render(hour(number, delay, station, replay), from, to, speed, noise, gain, rate);
    double at = number * 3600 + delay + kBreakStart + station.silence;
    for (const Beep& beep : kHighBeeps) {
        if (station.highBeeps) {
            addTone(samples, from, rate, from + (at - from) / speed, beep.length / speed,
                    beep.hz * speed, 0.1 * gain);
        }
        at += beep.length + 0.15;
    }
    return samples;
}

// Plays `samples` to `listener` in blocks of a tenth of a second; returns what it told. Each mark
// heard is given the sound, as the schedule gives it.
Listener::Events listen(Listener& listener, const std::vector<float>& samples, double from,
                        double rate = kStationRate) {
    Listener::Events all;
    const auto block = static_cast<std::size_t>(rate / 10);
    for (std::size_t at = 0; at < samples.size(); at += block) {
        Listener::Events events =
            listener.push(std::span(samples.data() + at, std::min(block, samples.size() - at)),
                          rate, from + static_cast<double>(at) / rate);
        all.kept.insert(all.kept.end(), events.kept.begin(), events.kept.end());
        all.heard.insert(all.heard.end(), events.heard.begin(), events.heard.end());
        all.refined.insert(all.refined.end(), events.refined.begin(), events.refined.end());
        all.silent.insert(all.silent.end(), events.silent.begin(), events.silent.end());
        for (const Listener::HeardMark& heard : events.heard) {
            listener.given(heard.key, heard.heard.pressTime);
        }
    }
    return all;
}

void PrintTo(const Station& station, std::ostream* out) {
    *out << station.name;
}

class MatcherTest : public ::testing::TestWithParam<Station> {};

TEST_P(MatcherTest, HearsTheBreaksEdgesWithinASecondOrNotAtAll) {
    const Station& station = GetParam();
    const MarkKey keys[] = {{2, Level::Down}, {2, Level::Up}};
    double presses[] = {kBreakStart + station.silence + station.press, kBreakEnd + kUpReaction};
    Listener first;
    first.press(keys[0], presses[0]);
    first.press(keys[1], presses[1]);
    const Listener::Events kept = listen(
        first,
        heardHour(0, 0, station, false, 1180, 1310, 1, 0, station.firstGain, station.firstRate),
        1180, station.firstRate);
    // A press in a silence longer than what is kept after it keeps nothing.
    const bool silentPress = -station.press > kKeptAfter;
    ASSERT_EQ(kept.kept.size(), silentPress ? 1U : 2U);
    ASSERT_EQ(kept.silent.size(), silentPress ? 1U : 0U);
    for (const Listener::Kept& mark : kept.kept) {
        if (mark.key == keys[0]) {
            // A press in silence: its print from the jingle after it.
            const double toSound = station.silence > 0 ? -station.press : 0;
            EXPECT_NEAR(mark.movedBy, toSound, 0.4);
            presses[0] += mark.movedBy;
        }
    }

    // Listening starts half a frame step off, so that no live frame falls on a kept one.
    const double from = 3600 + kBreakStart - 120 + 0.0232;
    const double to = 3600 + kBreakEnd + 60;
    const double speed = 1 + station.drift * 1e-6;
    Listener second;
    for (const Listener::Kept& mark : kept.kept) {
        second.listenFor(mark.key, mark.print);
    }
    const Listener::Events heard =
        listen(second,
               heardHour(1, station.delay, station, station.replay, from, to, speed, station.noise,
                         station.gain, station.laterRate),
               from, station.laterRate);
    // Heard again, each print keeps only the frames that repeated.
    EXPECT_EQ(heard.refined.size(), station.jingles ? 2U : 0U);
    for (const Listener::Kept& refined : heard.refined) {
        const auto sounding = [](const MarkPrint& print) {
            return std::ranges::count_if(print.frames, [](auto f) { return !silent(f); });
        };
        for (const Listener::Kept& mark : kept.kept) {
            if (mark.key == refined.key) {
                EXPECT_LT(sounding(refined.print), sounding(mark.print) / 4);
                EXPECT_GE(sounding(refined.print), std::lround(Matcher::kMinRun / kFrameStep));
            }
        }
    }
    for (std::size_t mark = 0; mark < 2; ++mark) {
        std::vector<Heard> times;
        for (const Listener::HeardMark& h : heard.heard) {
            if (h.key == keys[mark]) {
                times.push_back(h.heard);
            }
        }
        if (!station.jingles || (silentPress && mark == 0)) {
            EXPECT_TRUE(times.empty()) << "mark " << mark;
            continue;
        }
        const double expected = from + (3600 + station.delay + presses[mark] - from) / speed;
        ASSERT_EQ(times.size(), 1U) << "mark " << mark;
        const Heard& h = times.front();
        std::printf(
            "%s mark %zu: %+.3f s from the press's moment, told %.2f s after it, "
            "confidence %.2f\n",
            station.name, mark, h.pressTime - expected, h.heardAt - expected, h.confidence);
        EXPECT_GE(h.pressTime, expected) << "mark " << mark;
        EXPECT_LE(h.pressTime, expected + 1.0) << "mark " << mark;
        EXPECT_LT(h.heardAt - expected, station.toldWithin) << "mark " << mark;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Stations, MatcherTest,
    ::testing::Values(
        Station{"Later", 7, 0, 0, 1, true, false},
        Station{"EarlierAndDrifting", -12, 50, 0, 1, true, false},
        Station{"NoisyAndQuieter", 7, -50, 0.02, 0.3, true, false},
        Station{"SongPlayedAgain", -12, 50, 0, 1, true, true},
        Station{"NoJingles", 7, 0, 0.02, 1, false, false},
        Station{"NoJinglesSongPlayedAgain", -12, 0, 0.02, 1, false, true},
        Station{.name = "SegueOverSongsEnd", .delay = 7, .drift = 20, .segue = 1},
        Station{.name = "UnderFirstWords",
                .delay = -12,
                .noise = 0.01,
                .press = 1.5,
                .wordsUnder = 1.5},
        Station{.name = "SoftJingle", .delay = 7, .noise = 0.005, .segue = 1, .jingleGain = 0.32},
        Station{.name = "Louder6dB", .delay = 7, .gain = 2, .segue = 0.5},
        Station{.name = "Softer6dB", .delay = 7, .noise = 0.01, .gain = 0.5, .wordsUnder = 0.5},
        // Its run has to reach the press and then 0.6 s into the jingle.
        Station{.name = "PressedBeforeTheJingle", .delay = 7, .press = -0.5, .toldWithin = 2.1},
        Station{.name = "PressedLate", .delay = 7, .press = 1.5},
        Station{.name = "PressedInSilence", .delay = 7, .press = -1.5, .silence = 2},
        Station{.name = "BeepsWithPauses", .delay = 7, .press = 0.3, .beeps = true},
        Station{.name = "SongBeforeThePressAgain",
                .delay = 7,
                .jingles = false,
                .segue = 1,
                .sameSongBefore = true},
        Station{.name = "SilentBreak", .delay = 7, .jingles = false, .press = -9, .silence = 10},
        Station{.name = "At44100Then48000", .delay = 7, .firstRate = 44100, .laterRate = 48000},
        // Set pressed with the output at 30 %, a soft jingle: the monitor carries it 31 dB down.
        Station{.name = "PressedAtLowVolume", .delay = 7, .jingleGain = 0.32, .firstGain = 0.028},
        // The break heard as lowered to a Down of 20 % (42 dB): its end is heard all the same.
        Station{.name = "HeardAtTheDownLevel", .delay = 7, .gain = 0.008},
        // Nothing below 2 kHz while the beeps sound: the press is in them, not in a silence.
        Station{.name = "BeepsAbove2kHzAlone",
                .delay = 7,
                .drift = 20,
                .noise = 0.003,
                .press = 0.3,
                .firstRate = 44100,
                .laterRate = 48000,
                .highBeeps = true,
                .toldWithin = 2.8}),
    [](const ::testing::TestParamInfo<Station>& row) { return std::string(row.param.name); });

// The power spectrum against the transform written out, for the sizes the fingerprints take.
TEST(PowerSpectrum, IsTheDirectTransformsSquares) {
    std::mt19937 random(3);
    std::uniform_real_distribution<float> sample(-1, 1);
    for (const std::size_t size : {8U, 16U, 256U, 512U, 2048U}) {
        std::vector<float> block(size);
        std::ranges::generate(block, [&] { return sample(random); });
        std::vector<float> power(size / 2);
        PowerSpectrum{size}(block, power);
        for (std::size_t k = 0; k < size / 2; k += 1 + size / 64) {
            std::complex<double> sum;
            for (std::size_t i = 0; i < size; ++i) {
                sum += std::polar(
                    static_cast<double>(block[i]),
                    -2 * std::numbers::pi * static_cast<double>(i * k) / static_cast<double>(size));
            }
            EXPECT_NEAR(power[k], std::norm(sum), 1e-3 * static_cast<double>(size)) << size;
        }
    }
}

// The beeps alone at each rate: strong bits above 2 kHz (8 of the 16) where the rate carries
// their bands, up to 8.5 kHz; below, none rather than bits of noise.
TEST(HighBits, ComeWhereTheRateCarriesThem) {
    for (const double rate : {8000.0, 11025.0, 16000.0, 22050.0, 44100.0, 48000.0, 96000.0}) {
        std::vector<float> samples(static_cast<std::size_t>(3 * rate));
        double at = 0.5;
        for (const Beep& beep : kHighBeeps) {
            if (beep.hz < rate / 2) {
                addTone(samples, 0, rate, at, beep.length, beep.hz, 0.1);
            }
            at += beep.length + 0.15;
        }
        Fingerprinter fingerprinter(rate);
        int high = 0;
        for (const PrintFrame& frame : fingerprinter.push(samples, 0)) {
            const int strong = std::popcount(frame.print.highStrong);
            EXPECT_TRUE(strong == 0 || strong == 8) << rate;
            high += strong > 0 ? 1 : 0;
        }
        EXPECT_EQ(high > 30, rate >= 22050) << rate << " Hz: " << high << " frames";
    }
}

// The matcher's rules on frames made to order: a print of random frames; live, `repeats` of it
// (s from the press, `flipped` strong bits changed a frame), `pauses` silent in both, `quiet`
// live only, elsewhere every strong bit differing.
struct Span {
    double from, to;
    int flipped = 0;
};
struct Made {
    const char* name;
    std::vector<Span> repeats;
    bool heard;
    std::vector<Span> pauses = {}, quiet = {};
    bool high = false;                 // the print has bits above 2 kHz, live has them too
    std::vector<Span> aboveOnly = {};  // live has nothing below 2 kHz, sound above it
    double period = 0;                 // s: the repeats repeat the first, as an alarm's beeps do
    // The print's frames halfway: none, the live ones, those alone (the kept ones differ), or
    // those with the first repeat (lost in the kept ones, as a jingle's first period can be).
    enum { None, AsKept, Only, FirstLost } halfway = None;
    double toldBy = 3;  // s after the press: told by then
};
void PrintTo(const Made& row, std::ostream* out) {
    *out << row.name;
}
class MatcherRules : public ::testing::TestWithParam<Made> {};

TEST_P(MatcherRules, HearsWhatRepeatsAtThePress) {
    const Made& row = GetParam();
    const auto in = [](const std::vector<Span>& spans, int i) {
        return std::ranges::find_if(spans, [i](const Span& span) {
            return i * kFrameStep >= span.from && i * kFrameStep < span.to;
        });
    };
    std::mt19937 random(5);
    const int press = static_cast<int>(kKeptBefore / kFrameStep);
    MarkPrint print{{}, static_cast<std::size_t>(press), {}};
    std::vector<Fingerprint> clean;  // the print without what was laid under the first repeat
    for (int i = -press; i <= press; ++i) {
        Fingerprint frame{static_cast<std::uint32_t>(random()), 0};
        while (in(row.pauses, i) == row.pauses.end() && std::popcount(frame.strong) < 16) {
            frame.strong |= 1U << random() % 32;
        }
        if (row.high && frame.strong != 0) {
            frame.high = static_cast<std::uint16_t>(random());
            frame.highStrong = 0x0F0F;
        }
        if (row.period > 0 && i * kFrameStep >= row.repeats[0].to &&
            i * kFrameStep < row.repeats.back().to) {
            frame = clean[clean.size() - static_cast<std::size_t>(row.period / kFrameStep)];
        }
        clean.push_back(frame);
        if (in(row.repeats, i) == row.repeats.begin() && row.period > 0) {
            // Under the song's end, another in each hour: the highest strong bits differ here.
            for (std::uint32_t bits = frame.strong, n = 0; std::cmp_less(n, row.repeats[0].flipped);
                 ++n, bits ^= std::bit_floor(bits)) {
                frame.bits ^= std::bit_floor(bits);
            }
        }
        print.frames.push_back(frame);
    }
    if (row.halfway != Made::None) {
        print.halfway = clean;
    }
    for (int i = -press; i <= press; ++i) {
        Fingerprint& frame = print.frames[static_cast<std::size_t>(i + press)];
        if (row.halfway == Made::Only ||
            (row.halfway == Made::FirstLost && in(row.repeats, i) == row.repeats.begin())) {
            frame.bits = static_cast<std::uint32_t>(random());
        }
    }
    MarkMatcher matcher(print);
    std::vector<Heard> heard;
    for (int i = -2 * press; i <= 3 * press; ++i) {
        Fingerprint live{static_cast<std::uint32_t>(random()), ~0U};
        if (row.high) {
            live.high = static_cast<std::uint16_t>(random());
        }
        if (std::abs(i) <= press) {
            live = clean[static_cast<std::size_t>(i + press)];
            const auto repeat = in(row.repeats, i);
            const auto flip =
                static_cast<std::uint32_t>(repeat == row.repeats.end() ? 16 : repeat->flipped);
            for (std::uint32_t bits = live.strong, n = 0; n < flip; ++n, bits &= bits - 1) {
                live.bits ^= bits & (~bits + 1);  // the lowest strong bit not yet flipped
            }
            if (repeat == row.repeats.end()) {
                live.high ^= live.highStrong;
            }
        }

        if (in(row.pauses, i) != row.pauses.end() || in(row.quiet, i) != row.quiet.end()) {
            live = {};
        }
        if (in(row.aboveOnly, i) != row.aboveOnly.end()) {
            live.strong = 0;
            live.highStrong = 0x0F0F;
        }
        if (const std::optional<Heard> h = matcher.add({100 + i * kFrameStep, live})) {
            heard.push_back(*h);  // the live press is at 100 s
        }
    }
    ASSERT_EQ(heard.size(), row.heard ? 1U : 0U);
    EXPECT_TRUE(!row.heard || (heard[0].pressTime >= 100 && heard[0].pressTime <= 101))
        << heard[0].pressTime;
    EXPECT_TRUE(!row.heard || heard[0].heardAt <= 100 + row.toldBy) << heard[0].heardAt;
}

INSTANTIATE_TEST_SUITE_P(
    Made, MatcherRules,
    ::testing::Values(
        Made{"PauseEdgesSilentLiveOnly",
             {{-0.3, 3.0}},
             true,
             {{0.5, 0.8}, {1.6, 1.9}},
             {{0.4, 0.5}, {0.8, 0.85}, {1.5, 1.6}, {1.9, 1.95}}},
        // Through a codec at 24 kbps: told within a second of the press all the same.
        Made{.name = "WeakJingleThroughACodec",
             .repeats = {{-0.6, 2.4, 4}},
             .heard = true,
             .toldBy = 1},
        Made{.name = "LooseJingleThroughACodec",
             .repeats = {{-0.6, 2.4, 3}},
             .heard = true,
             .toldBy = 1},
        Made{"BeepsHeardAboveTwoKilohertzAlone", {{-0.6, 2.4}}, true, {}, {}, true, {{-1, 3}}},
        // A print without the bits above 2 kHz hears a pause below it as before.
        Made{"EarlierVersionsPrintHearsBelowOnly",
             {{-0.3, 3.0}},
             true,
             {{0.5, 0.8}, {1.6, 1.9}},
             {},
             false,
             {{0.5, 0.8}, {1.6, 1.9}}},
        Made{"ShortJinglePressedLateAfterAFade", {{-2.05, -1.5, 5}, {-1.5, 0.5}}, true},
        // A short jingle: under the segue before it, silence after it, in both hours.
        Made{"ShortJingleEndingInAPause", {{-0.1, 1.0}}, true, {{1.0, 1.5}}},
        Made{"AsShortWithoutThePause", {{-0.1, 0.35, 2}}, false},
        // A run under 1.2 s has to match closely: chance sound may, that briefly, as loosely.
        Made{"ShortAndLoose", {{-0.1, 0.9, 3}}, false},
        Made{"AsLooseButLonger", {{-0.1, 1.3, 3}}, true},
        // The loud part of a chime under the song's end, its 0.65 s of tail heard the same.
        Made{"ShortButTheSameUnderASegue", {{0.3, 0.95}}, true},
        Made{"AsShortNotTheSame", {{0.3, 0.95, 2}}, false},
        // Heard where it begins, not a period early: the earlier alignment matches as closely.
        Made{.name = "JingleRepeatingItself",
             .repeats = {{-0.6, 0.4, 2}, {0.4, 3.0}},
             .heard = true,
             .period = 1},
        // Heard halfway between the kept frames, and told once when heard at both.
        Made{.name = "HeardHalfwayAlone",
             .repeats = {{-0.3, 3.0}},
             .heard = true,
             .halfway = Made::Only},
        Made{.name = "HeardAtBothPhases",
             .repeats = {{-0.3, 3.0}},
             .heard = true,
             .halfway = Made::AsKept},
        // The kept frames hold a period early, their first period lost; halfway it is whole.
        Made{.name = "FirstPeriodLostInTheKeptFrames",
             .repeats = {{-0.6, 0.4}, {0.4, 3.0}},
             .heard = true,
             .period = 1,
             .halfway = Made::FirstLost},
        Made{.name = "HalfwayAloneSongBefore",
             .repeats = {{-8.0, 0.4}},
             .heard = false,
             .halfway = Made::Only},
        Made{"SongBeforeAgain", {{-8.0, 0.4}}, false},
        Made{"SongBeforeRepeatingABar", {{-1.5, 0.3, 3}}, false},
        Made{"SongBeforeRepeatingABarIntoTheJingle", {{-1.5, 0.45, 3}}, false},
        Made{"WeakRepeatOfTheSongBefore", {{-0.6, 0.6, 4}}, false}),
    [](const ::testing::TestParamInfo<Made>& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace hushwell::testing
