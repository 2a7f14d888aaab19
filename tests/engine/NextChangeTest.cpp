#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "engine/NextChange.h"

namespace hushwell {
namespace {

struct Mark {
    int index;
    const char* down;
    const char* up;
    PairState state = PairState::On;
};

struct Case {
    const char* name;
    std::vector<Mark> pairs;  // the others are off, "00:00" to "00:00"
    const char* now;
    const char* expected;  // the tooltip's words; empty: `now` is not a time text
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name << " at " << c.now;
}

class NextChangeTable : public ::testing::TestWithParam<Case> {};

TEST_P(NextChangeTable, TellsWhatTheTickWillDoNext) {
    std::array<SettingPair, kPairCount> pairs{};
    for (SettingPair& pair : pairs) {
        pair.state = PairState::Off;
    }
    for (const Mark& mark : GetParam().pairs) {
        pairs[mark.index] = SettingPair{mark.down, mark.up, mark.state};
    }
    const std::optional<NextChange> change = nextChange(pairs, GetParam().now);
    if (*GetParam().expected == '\0') {
        EXPECT_FALSE(change.has_value());
        return;
    }
    ASSERT_TRUE(change.has_value());
    EXPECT_EQ(nextChangeText(*change), GetParam().expected);
}

const Mark kBreak{1, "20:00", "21:30"};

INSTANTIATE_TEST_SUITE_P(
    Schedules, NextChangeTable,
    ::testing::Values(
        // Both marks are strict: down from 20:01, up again at 21:30.
        Case{"before the break", {kBreak}, "15:48", "Up - next break at :20:00, in 4:12"},
        Case{"a second before the Down mark",
             {kBreak},
             "19:59",
             "Up - next break at :20:00, in 0:01"},
        Case{"at the Down mark", {kBreak}, "20:00", "Up - next break at :20:00, in 0:00"},
        Case{"a second after the Down mark", {kBreak}, "20:01", "Down until :21:30, 1:29 left"},
        Case{"inside the break", {kBreak}, "20:25", "Down until :21:30, 1:05 left"},
        Case{"a second before the Up mark", {kBreak}, "21:29", "Down until :21:30, 0:01 left"},
        Case{"at the Up mark: next hour", {kBreak}, "21:30", "Up - next break at :20:00, in 58:30"},
        Case{
            "after the break: next hour", {kBreak}, "21:31", "Up - next break at :20:00, in 58:29"},

        // Which pairs take part.
        Case{"every pair off", {}, "20:25", "No pair active"},
        Case{"the break's pair off",
             {{1, "20:00", "21:30", PairState::Off}},
             "20:25",
             "No pair active"},
        Case{"a greyed pair holds as the tick has it",
             {{1, "20:00", "21:30", PairState::Greyed}},
             "20:25",
             "Down until :21:30, 1:05 left"},
        Case{"an off pair before an active one",
             {{0, "10:00", "40:00", PairState::Off}, kBreak},
             "15:00",
             "Up - next break at :20:00, in 5:00"},
        Case{"Down equal to Up", {{2, "20:00", "20:00"}}, "10:00", "No pair active"},
        Case{"across the hour never holds", {{2, "59:00", "01:00"}}, "59:30", "No pair active"},
        Case{"Down later than Up never holds", {{2, "50:00", "10:00"}}, "05:00", "No pair active"},

        // The end of the hour: 59:59 and 00:00 hold nothing.
        Case{"end-of-hour pair, inside",
             {{0, "59:00", "59:59"}, {1, "00:00", "01:00"}},
             "59:30",
             "Down until :59:59, 0:29 left"},
        Case{"end-of-hour pair, last second",
             {{0, "59:00", "59:59"}, {1, "00:00", "01:00"}},
             "59:59",
             "Up - next break at :00:00, in 0:01"},
        Case{"start-of-hour pair, at its Down mark",
             {{0, "59:00", "59:59"}, {1, "00:00", "01:00"}},
             "00:00",
             "Up - next break at :00:00, in 0:00"},
        Case{"start-of-hour pair, inside",
             {{0, "59:00", "59:59"}, {1, "00:00", "01:00"}},
             "00:30",
             "Down until :01:00, 0:30 left"},
        Case{"after the start-of-hour pair",
             {{0, "59:00", "59:59"}, {1, "00:00", "01:00"}},
             "01:00",
             "Up - next break at :59:00, in 58:00"},
        Case{"the next break is in the next hour",
             {{3, "50:00", "59:59"}},
             "59:59",
             "Up - next break at :50:00, in 50:01"},

        // Overlapping and touching pairs: the volume stays down across them, or comes up for the
        // one second the touching mark holds nothing.
        Case{"overlapping pairs",
             {{0, "10:00", "20:00"}, {1, "19:00", "30:00"}},
             "15:00",
             "Down until :30:00, 15:00 left"},
        Case{"overlapping pairs at the first Up mark",
             {{0, "10:00", "20:00"}, {1, "19:00", "30:00"}},
             "20:00",
             "Down until :30:00, 10:00 left"},
        Case{"touching pairs",
             {{0, "10:00", "20:00"}, {1, "20:00", "30:00"}},
             "19:59",
             "Down until :20:00, 0:01 left"},
        Case{"touching pairs at the shared mark",
             {{0, "10:00", "20:00"}, {1, "20:00", "30:00"}},
             "20:00",
             "Up - next break at :20:00, in 0:00"},

        // Marks that are not "mm:ss" order as text, and the times told are those of the seconds
        // at which the volume changes.
        Case{"short marks hold from 20:00 to 29:59",
             {{4, "1:00", "2:00"}},
             "25:00",
             "Down until :30:00, 5:00 left"},
        Case{"short marks: the second before the break",
             {{4, "1:00", "2:00"}},
             "10:00",
             "Up - next break at :19:59, in 9:59"},
        Case{"an empty Down mark holds from the hour on",
             {{4, "", "10:00"}},
             "30:00",
             "Up - next break at :59:59, in 29:59"},
        Case{"an empty Up mark never holds", {{4, "10:00", ""}}, "30:00", "No pair active"},
        Case{"a pair that holds every second", {{4, "", "9"}}, "30:00", "Down all the hour"},
        Case{"a pair held into the next hour",
             {{4, "50:00", "9"}},
             "59:59",
             "Down until :00:00, 0:01 left"},

        // The locale's separator.
        Case{"another separator",
             {{1, "20.00", "21.30"}},
             "15.48",
             "Up - next break at .20.00, in 4.12"},
        Case{"not a time text: one digit", {kBreak}, "1:05", ""},
        Case{"not a time text: letters", {kBreak}, "ab:cd", ""},
        Case{"not a time text: minute 60", {kBreak}, "60:00", ""}),
    [](const ::testing::TestParamInfo<Case>& param) {
        return "case" + std::to_string(param.index);
    });

}  // namespace
}  // namespace hushwell
