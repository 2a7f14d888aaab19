#include "listen/Listener.h"

#include <gtest/gtest.h>

#include <cmath>

#include "listen/SyntheticStation.h"

namespace hushwell::testing {
namespace {

// A song, a jingle from 29 s, talk after it; Set is pressed in the jingle.
constexpr double kPress = 29.6;
const MarkKey kMark{1, MarkEdge::Down};

const std::vector<float>& station() {
    static const std::vector<float> audio =
        render({{Sound::Song, 1, 0, 29}, {Sound::Song, 7, 29, 3}, {Sound::Talk, 3, 32, 30}}, 0, 60);
    return audio;
}

// Plays the station up to `until` in blocks of a tenth of a second; a press at kPress is told
// once the audio has come to `lag` before it (the capture's pieces are late by up to that; a
// negative lag: the audio's times run ahead of the press's clock).
Listener::Events play(Listener& listener, double until, std::optional<double> lag = {}) {
    Listener::Events all;
    const std::vector<float>& audio = station();
    const auto block = static_cast<std::size_t>(kStationRate / 10);
    for (std::size_t at = 0; at + block <= audio.size(); at += block) {
        const double time = static_cast<double>(at) / kStationRate;
        if (time >= until) {
            break;
        }
        if (lag && time >= kPress - *lag) {
            listener.press(kMark, kPress);
            lag.reset();
        }
        Listener::Events events = listener.push({audio.data() + at, block}, kStationRate, time);
        all.kept.insert(all.kept.end(), events.kept.begin(), events.kept.end());
        all.heard.insert(all.heard.end(), events.heard.begin(), events.heard.end());
    }
    return all;
}

// The print of a press told before any audio: fingerprinted all along.
const MarkPrint& printMadeAllAlong() {
    static const MarkPrint print = [] {
        Listener listener;
        listener.press(kMark, kPress);
        return play(listener, 60).kept.at(0).print;
    }();
    return print;
}

struct Case {
    const char* name;
    bool listenFor;             // the mark's print, from the start
    std::optional<double> lag;  // a press, told this long before its audio came; none
    double until;               // s of audio played
    bool fingerprinting;        // at the end
    std::size_t kept;
};

void PrintTo(const Case& row, std::ostream* out) {
    *out << row.name;
}

class ListenerTest : public ::testing::TestWithParam<Case> {};

TEST_P(ListenerTest, FingerprintsOnlyForAPressOrAMarkYetKeepsThePressWhole) {
    const Case& row = GetParam();
    Listener listener;
    if (row.listenFor) {
        listener.listenFor(kMark, printMadeAllAlong());
    }
    const Listener::Events events = play(listener, row.until, row.lag);
    EXPECT_EQ(listener.fingerprinting(), row.fingerprinting);
    // Audio is wanted with the window shown; hidden, only while fingerprints are made.
    EXPECT_TRUE(listener.wantsAudio(true));
    EXPECT_EQ(listener.wantsAudio(false), row.fingerprinting);
    ASSERT_EQ(events.kept.size(), row.kept);
    if (row.kept == 0) {
        return;
    }
    // As long either side as a print made all along, and heard where it was pressed.
    const MarkPrint& kept = events.kept.front().print;
    const MarkPrint& whole = printMadeAllAlong();
    EXPECT_NEAR(static_cast<double>(kept.pressFrame), static_cast<double>(whole.pressFrame), 1);
    EXPECT_NEAR(static_cast<double>(kept.frames.size() - kept.pressFrame),
                static_cast<double>(whole.frames.size() - whole.pressFrame), 1);
    EXPECT_GE(static_cast<double>(kept.pressFrame) * kFrameStep, kKeptBefore - 2 * kFrameStep);
    Listener again;
    again.listenFor(kMark, kept);
    const Listener::Events heard = play(again, 60);
    ASSERT_EQ(heard.heard.size(), 1U);
    EXPECT_NEAR(heard.heard.front().heard.pressTime, kPress, 0.5);
}

INSTANTIATE_TEST_SUITE_P(Presses, ListenerTest,
                         ::testing::Values(Case{"NothingListenedFor", false, {}, 40, false, 0},
                                           Case{"MarkListenedFor", true, {}, 20, true, 0},
                                           Case{"PressGathering", false, 0.0, 35, true, 0},
                                           Case{"PressKeptThenIdle", false, 0.0, 45, false, 1},
                                           Case{"PressAheadOfTheAudio", false, 2.2, 45, false, 1},
                                           Case{"PressBehindTheAudio", false, -2.0, 45, false, 1},
                                           Case{"PressWhileListening", true, 0.3, 45, true, 1}),
                         [](const ::testing::TestParamInfo<Case>& row) {
                             return std::string(row.param.name);
                         });

}  // namespace
}  // namespace hushwell::testing
