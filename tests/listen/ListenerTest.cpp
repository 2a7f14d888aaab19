#include "listen/Listener.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>

#include "listen/SyntheticStation.h"

namespace hushwell::testing {
namespace {

// A song, a jingle from 29 s, talk after it; Set is pressed in the jingle.
constexpr double kPress = 29.6;
const MarkKey kMark{1, Level::Down};

const std::vector<float>& station() {
    static const std::vector<float> audio =
        render({{Sound::Song, 1, 0, 29}, {Sound::Song, 7, 29, 3}, {Sound::Talk, 3, 32, 30}}, 0, 60);
    return audio;
}

// Plays the station up to `until` in blocks of a tenth of a second; a press at kPress is told
// once the audio has come to `lag` before it (the capture's pieces are late by up to that; a
// negative lag: the audio's times run ahead of the press's clock).
// From `skip` samples on.
Listener::Events play(Listener& listener, double until, std::optional<double> lag = {},
                      std::size_t skip = 0) {
    Listener::Events all;
    const std::vector<float>& audio = station();
    const auto block = static_cast<std::size_t>(kStationRate / 10);
    for (std::size_t at = skip; at + block <= audio.size(); at += block) {
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

// Prints of the press made all along at eight phases: from the first sample on, from an eighth
// of a step later, and so on.
constexpr int kPhases = 8;
const std::vector<MarkPrint>& printsAtPhases() {
    static const std::vector<MarkPrint> prints = [] {
        std::vector<MarkPrint> made;
        for (int phase = 0; phase < kPhases; ++phase) {
            Listener listener;
            listener.press(kMark, kPress);
            const double skip = kPrintHop * kStationRate / kPrintRate * phase / kPhases;
            made.push_back(play(listener, 60, {}, static_cast<std::size_t>(skip)).kept.at(0).print);
        }
        return made;
    }();
    return prints;
}

// The phase whose print's frames around the press have most strong bits as `frames` has them
// (a frame either way: the presses fall on different frames), and the share of them it has.
std::pair<int, double> phaseOf(const std::vector<Fingerprint>& frames, std::size_t press) {
    std::pair<int, double> best{-1, 0};
    for (int phase = 0; phase < kPhases; ++phase) {
        const MarkPrint& other = printsAtPhases()[static_cast<std::size_t>(phase)];
        for (int shift = -1; shift <= 1; ++shift) {
            int same = 0;
            int strong = 0;
            for (int i = -60; i <= 60; ++i) {
                const Fingerprint& one = frames.at(press + i);
                const Fingerprint& two = other.frames.at(other.pressFrame + i + shift);
                same += std::popcount(~(one.bits ^ two.bits) & one.strong);
                strong += std::popcount(one.strong);
            }
            const double share = same / std::max(1.0, static_cast<double>(strong));
            if (share > best.second) {
                best = {phase, share};
            }
        }
    }
    return best;
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
    // And halfway between its frames, those of the audio half a step from them.
    ASSERT_EQ(kept.halfway.size(), kept.frames.size());
    const auto [keptPhase, keptShare] = phaseOf(kept.frames, kept.pressFrame);
    const auto [halfwayPhase, halfwayShare] = phaseOf(kept.halfway, kept.pressFrame);
    EXPECT_GT(halfwayShare, 0.98) << "as its frames, " << keptShare;
    EXPECT_NEAR((halfwayPhase - keptPhase + kPhases) % kPhases, kPhases / 2, 1);
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

// A press that keeps nothing says why: the audio began only after it (the window just shown),
// nothing played for longer than a press waits, or the audio came back only after that.
struct Unkept {
    const char* name;
    double audioFrom;  // s the audio begins at (the press at kPress)
    double expiredAt;  // expire() is asked at this time, before the audio
    std::optional<Listener::Silent::Why> why;
};

TEST(ListenerPress, ThatKeepsNothingSaysWhy) {
    using Why = Listener::Silent::Why;
    for (const Unkept& row :
         {Unkept{"AudioFromJustAfterThePress", kPress + 0.3, 0, Why::BeforeAnySound},
          Unkept{"NothingPlaysAfterIt", 200, kPress + Listener::kPressWait + 1, Why::NothingPlayed},
          Unkept{"NotYetWaitedOut", 200, kPress + Listener::kPressWait - 1, {}},
          Unkept{"AudioBackLongAfter", kPress + 45, 0, Why::NothingPlayed}}) {
        SCOPED_TRACE(row.name);
        Listener listener;
        listener.press(kMark, kPress);
        std::vector<Listener::Silent> silent = listener.expire(row.expiredAt);
        if (row.audioFrom < 100) {
            const std::vector<float>& audio = station();
            const auto block = static_cast<std::size_t>(kStationRate / 10);
            for (std::size_t at = 0; at + block <= audio.size(); at += block) {
                const Listener::Events events =
                    listener.push({audio.data() + at, block}, kStationRate,
                                  row.audioFrom + static_cast<double>(at) / kStationRate);
                EXPECT_TRUE(events.kept.empty());
                silent.insert(silent.end(), events.silent.begin(), events.silent.end());
            }
        }
        ASSERT_EQ(silent.size(), row.why ? 1U : 0U);
        if (row.why) {
            EXPECT_EQ(silent.front().why, *row.why);
        }
    }
}

// Two marks listen for one jingle: only the one the schedule gives it to is sharpened by it.
TEST(ListenerSharpening, OnlyTheMarkGivenTheSound) {
    const MarkKey other{4, Level::Up};
    for (const bool givenAny : {true, false}) {
        Listener listener;
        listener.listenFor(kMark, printMadeAllAlong());
        listener.listenFor(other, printMadeAllAlong());
        std::vector<MarkKey> heard;
        std::vector<MarkKey> sharpened;
        const std::vector<float>& audio = station();
        const auto block = static_cast<std::size_t>(kStationRate / 10);
        for (std::size_t at = 0; at + block <= audio.size(); at += block) {
            const Listener::Events events = listener.push({audio.data() + at, block}, kStationRate,
                                                          static_cast<double>(at) / kStationRate);
            for (const Listener::HeardMark& mark : events.heard) {
                heard.push_back(mark.key);
                if (givenAny && mark.key == kMark) {
                    listener.given(kMark, mark.heard.pressTime);
                }
            }
            for (const Listener::Kept& refined : events.refined) {
                sharpened.push_back(refined.key);
                EXPECT_TRUE(MarkMatcher(refined.print).usable());
            }
        }
        EXPECT_EQ(heard.size(), 2U);
        EXPECT_EQ(sharpened, givenAny ? std::vector{kMark} : std::vector<MarkKey>{}) << givenAny;
    }
}

}  // namespace
}  // namespace hushwell::testing
