#include "engine/PrintKeeping.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace hushwell::testing {
namespace {

// What the user and the listener do; a print's number stands for its frames.
struct Act {
    enum Kind { Press, Type, Move, Clear, Keep, Silence, Listen, Refine, Load, Save } kind;
    int pair = 0;
    Level edge = Level::Down;
    const char* text = "";  // Press, Type, Load: the mark's new text
    std::size_t print = 0;  // Keep, Refine, Load
    double movedBy = 0;     // Keep, Load
};

struct Stored {
    int pair;
    Level edge;
    const char* text;
    std::size_t print;
    double movedBy = 0;
};

struct Story {
    const char* name;
    std::vector<Act> acts;
    std::vector<Stored> prints;
    std::vector<std::string> toldSilent = {};
    // What the fingerprint file keeps (the prints of the marks as saved), where it is not the
    // same as `prints`.
    std::optional<std::vector<Stored>> filed = std::nullopt;
};

void PrintTo(const Story& story, std::ostream* out) {
    *out << story.name;
}

constexpr auto D = Level::Down;
constexpr auto U = Level::Up;

class PrintKeepingStory : public ::testing::TestWithParam<Story> {};

// The model changes first, as the editor changes it, then the keeping is told.
TEST_P(PrintKeepingStory, EachPrintBelongsToItsPress) {
    Model model;
    PrintKeeping keeping(model);
    std::vector<std::string> toldSilent;
    for (const Act& act : GetParam().acts) {
        const MarkKey key{act.pair, act.edge};
        const Level row = act.edge == D ? Level::Down : Level::Up;
        switch (act.kind) {
            case Act::Press:
                model.setMark(row, act.pair, act.text);
                keeping.markAction(MarkAction::Stamped, key);
                keeping.pressed(key);
                break;
            case Act::Type:
                model.setMark(row, act.pair, act.text);
                keeping.markAction(MarkAction::EditedByHand, key);
                break;
            case Act::Move:
                if (act.pair + 1 < kPairCount) {
                    model.setMark(row, act.pair + 1, model.mark(row, act.pair));
                }
                model.setMark(row, act.pair, "");
                keeping.markAction(MarkAction::MovedOn, key);
                break;
            case Act::Clear:
                for (int pair = 0; pair < kPairCount; ++pair) {
                    model.setMark(Level::Down, pair, "00:00");
                    model.setMark(Level::Up, pair, "00:00");
                }
                keeping.markAction(MarkAction::Cleared, key);
                break;
            case Act::Keep:
                (void)keeping.kept(key, MarkPrint{{}, act.print, {}}, act.movedBy);
                break;
            case Act::Silence:
                if (const auto text = keeping.silent(key)) {
                    toldSilent.push_back(*text);
                }
                break;
            case Act::Listen:
                (void)keeping.listen({key});
                break;
            case Act::Refine:
                (void)keeping.refined(key, MarkPrint{{}, act.print, {}});
                break;
            case Act::Load:  // a start that reads the file
                model.setMark(row, act.pair, act.text);
                model.setSettingsChanged(false);
                keeping.load({{key, {act.text, MarkPrint{{}, act.print, {}}, act.movedBy}}});
                break;
            case Act::Save:
                model.setSettingsChanged(false);
                keeping.markAction(MarkAction::Saved, key);
                break;
        }
        (void)keeping.dropStale();
    }
    const auto prints = [](const std::vector<Stored>& list) {
        MarkPrints made;
        for (const Stored& stored : list) {
            made[{stored.pair, stored.edge}] = {stored.text, MarkPrint{{}, stored.print, {}},
                                                stored.movedBy};
        }
        return made;
    };
    for (const Stored& stored : GetParam().prints) {
        EXPECT_EQ(keeping.movedBy({stored.pair, stored.edge}), stored.movedBy);
    }
    EXPECT_EQ(keeping.prints(), prints(GetParam().prints));
    EXPECT_EQ(keeping.filed(), prints(GetParam().filed.value_or(GetParam().prints)));
    EXPECT_EQ(toldSilent, GetParam().toldSilent);
}

INSTANTIATE_TEST_SUITE_P(
    Stories, PrintKeepingStory,
    ::testing::Values(
        Story{"KeptGoesToThePressedMark",
              {{Act::Press, 0, D, "20:07"}, {Act::Keep, 0, D, "", 1}},
              {{0, D, "20:07", 1}},
              {},
              {{}}},
        Story{"KeptAfterTheSaveIsFiled",
              {{Act::Press, 0, D, "20:07"}, {Act::Save}, {Act::Keep, 0, D, "", 1}},
              {{0, D, "20:07", 1}}},
        Story{"KeptBeforeTheSaveIsFiledByIt",
              {{Act::Press, 0, D, "20:07"}, {Act::Keep, 0, D, "", 1}, {Act::Save}},
              {{0, D, "20:07", 1}}},
        Story{"ClearedButNotSavedKeepsTheFile",
              {{Act::Load, 0, U, "23:00", 1}, {Act::Clear}},
              {},
              {},
              {{{0, U, "23:00", 1}}}},
        Story{
            "APressNotSavedKeepsTheFile",
            {{Act::Load, 0, D, "20:00", 1}, {Act::Press, 0, D, "20:07"}, {Act::Keep, 0, D, "", 2}},
            {{0, D, "20:07", 2}},
            {},
            {{{0, D, "20:00", 1}}}},
        Story{"AHandEditSavedDropsTheFilesPrint",
              {{Act::Load, 0, D, "20:00", 1}, {Act::Type, 0, D, "20:01"}, {Act::Save}},
              {}},
        Story{"AMoveFollowsIntoTheFileAtTheSave",
              {{Act::Load, 0, D, "20:00", 1}, {Act::Move, 0, D}, {Act::Save}},
              {{1, D, "20:00", 1}}},
        Story{"ASharpenedPrintOfASavedMarkIsFiled",
              {{Act::Load, 0, D, "20:00", 1}, {Act::Listen, 0, D}, {Act::Refine, 0, D, "", 2}},
              {{0, D, "20:00", 2}}},
        Story{"TypedOverBeforeKeptKeepsNothing",
              {{Act::Press, 0, D, "20:07"}, {Act::Type, 0, D, "20:30"}, {Act::Keep, 0, D, "", 1}},
              {}},
        Story{"ClearedBeforeKeptKeepsNothing",
              {{Act::Press, 0, U, "23:00"}, {Act::Clear}, {Act::Keep, 0, U, "", 1}},
              {}},
        Story{"MovedOnBeforeKeptFollowsTheMark",
              {{Act::Press, 0, D, "20:07"}, {Act::Move, 0, D}, {Act::Keep, 0, D, "", 1}},
              {{1, D, "20:07", 1}},
              {},
              {{}}},
        Story{"MovedOnAfterKeptFollowsTheMark",
              {{Act::Press, 0, D, "20:07"}, {Act::Keep, 0, D, "", 1}, {Act::Move, 0, D}},
              {{1, D, "20:07", 1}},
              {},
              {{}}},
        Story{"MovedOnOverAPressDropsIt",
              {{Act::Press, 1, D, "21:00"},
               {Act::Press, 0, D, "20:07"},
               {Act::Move, 0, D},
               {Act::Keep, 1, D, "", 1},
               {Act::Keep, 0, D, "", 2}},
              {{1, D, "20:07", 2}},
              {},
              {{}}},
        Story{"MovedOffTheLastPairKeepsNothing",
              {{Act::Press, 7, U, "20:07"}, {Act::Move, 7, U}, {Act::Keep, 7, U, "", 1}},
              {}},
        Story{"StampedAgainWaitsForItsOwnAudio",
              {{Act::Press, 0, D, "20:07"}, {Act::Keep, 0, D, "", 1}, {Act::Press, 0, D, "20:09"}},
              {}},
        Story{"AnEditDropsThePrint",
              {{Act::Press, 0, D, "20:07"}, {Act::Keep, 0, D, "", 1}, {Act::Type, 0, D, "20:08"}},
              {}},
        Story{"APressInSilenceKeepsNothingAndIsTold",
              {{Act::Press, 2, U, "23:00"}, {Act::Silence, 2, U}},
              {},
              {"23:00"}},
        Story{"SilenceOfAPressTypedOverIsNotTold",
              {{Act::Press, 2, U, "23:00"}, {Act::Type, 2, U, "23:05"}, {Act::Silence, 2, U}},
              {}},
        Story{"ASharpenedPrintReplacesTheOneListenedFor",
              {{Act::Press, 0, D, "20:07"},
               {Act::Keep, 0, D, "", 1},
               {Act::Listen, 0, D},
               {Act::Refine, 0, D, "", 2}},
              {{0, D, "20:07", 2}},
              {},
              {{}}},
        Story{"ASharpenedPrintOfAMarkStampedSinceIsDropped",
              {{Act::Press, 0, D, "20:07"},
               {Act::Keep, 0, D, "", 1},
               {Act::Listen, 0, D},
               {Act::Press, 0, D, "20:09"},
               {Act::Keep, 0, D, "", 3},
               {Act::Refine, 0, D, "", 2}},
              {{0, D, "20:09", 3}},
              {},
              {{}}},
        Story{"AMovedPrintReadAtStartKeepsItsMoveWithItsMark",
              {{Act::Load, 0, U, "23:00", 1, 4.5}, {Act::Move, 0, U}},
              {{1, U, "23:00", 1, 4.5}},
              {},
              {{{0, U, "23:00", 1, 4.5}}}}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

struct Moment {
    TimeOfDay now;
    double captured;  // the capture clock at `now`
    double then;      // the capture clock's moment told
    double second;    // its second of the hour
};

TEST(PrintKeepingTest, TheCaptureClockToASecondOfTheHour) {
    for (const Moment& moment : {Moment{{14, 20, 5, 500}, 1000.0, 998.0, 1203.5},
                                 Moment{{14, 0, 1, 0}, 50.0, 47.5, 3598.5},
                                 Moment{{14, 59, 59, 900}, 10.0, 10.0, 3599.9}}) {
        EXPECT_NEAR(PrintKeeping::secondOfHour(moment.now, moment.captured, moment.then),
                    moment.second, 1e-9);
    }
}

}  // namespace
}  // namespace hushwell::testing
