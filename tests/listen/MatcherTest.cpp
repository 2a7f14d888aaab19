#include "listen/Matcher.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "listen/Listener.h"
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

std::vector<Segment> hour(int number, double delay, bool jingles, bool replay) {
    const double base = number * 3600 + delay;
    const auto seed = static_cast<unsigned>(100 * number);
    std::vector<Segment> programme;
    if (replay) {  // hour 0's song before the break, ending 50 s before this one's
        programme.push_back({Sound::Song, 1, base + 850, 300});
        programme.push_back({Sound::Talk, seed + 2, base + 1150, 50});
    } else {
        programme.push_back({Sound::Song, seed + 1, base + 900, 300});
    }
    const double jingle = jingles ? 3 : 0;
    if (jingles) {
        programme.push_back({Sound::Song, 7, base + kBreakStart, jingle});
        programme.push_back({Sound::Song, 8, base + kBreakEnd, jingle});
    }
    programme.push_back({Sound::Talk, seed + 3, base + kBreakStart + jingle, 40});
    programme.push_back({Sound::Song, seed + 4, base + kBreakStart + jingle + 40,
                         kBreakEnd - kBreakStart - jingle - 40});
    programme.push_back({Sound::Song, seed + 5, base + kBreakEnd + jingle, 300});
    return programme;
}

// Plays `samples` to `listener` in blocks of a tenth of a second; returns what it told.
Listener::Events listen(Listener& listener, const std::vector<float>& samples, double from) {
    Listener::Events all;
    constexpr std::size_t kBlock = 1103;
    for (std::size_t at = 0; at < samples.size(); at += kBlock) {
        const std::span block(samples.data() + at, std::min(kBlock, samples.size() - at));
        Listener::Events events =
            listener.push(block, kStationRate, from + static_cast<double>(at) / kStationRate);
        all.kept.insert(all.kept.end(), events.kept.begin(), events.kept.end());
        all.heard.insert(all.heard.end(), events.heard.begin(), events.heard.end());
    }
    return all;
}

struct Station {
    const char* name;
    double delay;  // s, of the second hour against the first
    double drift;  // ppm the station's clock runs fast
    double noise;  // amplitude, against songs of about 0.2
    double gain;   // of the second hour
    bool jingles;
    bool replay;  // the song before the first hour's break plays again before the second's
};

class MatcherTest : public ::testing::TestWithParam<Station> {};

TEST_P(MatcherTest, HearsTheBreaksEdgesWithinASecondOrNotAtAll) {
    const Station& station = GetParam();
    const MarkKey keys[] = {{2, MarkEdge::Down}, {2, MarkEdge::Up}};
    const double presses[] = {kBreakStart + kDownReaction, kBreakEnd + kUpReaction};
    Listener first;
    first.press(keys[0], presses[0]);
    first.press(keys[1], presses[1]);
    const Listener::Events kept =
        listen(first, render(hour(0, 0, station.jingles, false), 1180, 1310), 1180);
    ASSERT_EQ(kept.kept.size(), 2U);

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
               render(hour(1, station.delay, station.jingles, station.replay), from, to, speed,
                      station.noise, station.gain),
               from);
    for (std::size_t mark = 0; mark < 2; ++mark) {
        std::vector<Heard> times;
        for (const Listener::HeardMark& h : heard.heard) {
            if (h.key == keys[mark]) {
                times.push_back(h.heard);
            }
        }
        if (!station.jingles) {
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
        EXPECT_NEAR(h.pressTime, expected, 1.0) << "mark " << mark;
        EXPECT_LT(h.heardAt - expected, 1.0) << "mark " << mark;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Stations, MatcherTest,
    ::testing::Values(Station{"Later", 7, 0, 0, 1, true, false},
                      Station{"EarlierAndDrifting", -12, 50, 0, 1, true, false},
                      Station{"NoisyAndQuieter", 7, -50, 0.02, 0.3, true, false},
                      Station{"SongPlayedAgain", -12, 50, 0, 1, true, true},
                      Station{"NoJingles", 7, 0, 0.02, 1, false, false},
                      Station{"NoJinglesSongPlayedAgain", -12, 0, 0.02, 1, false, true}),
    [](const ::testing::TestParamInfo<Station>& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace hushwell::testing
