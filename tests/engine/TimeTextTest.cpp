#include "engine/TickSchedule.h"
#include "engine/TimeText.h"

#include <gtest/gtest.h>

namespace hushwell {
namespace {

TEST(TimeText, MinutesAndSecondsWithLeadingZeros) {
    const struct {
        TimeOfDay time;
        const char* separator;
        const char* text;
    } cases[] = {{{14, 9, 5, 0}, ":", "09:05"},
                 {{0, 0, 0, 0}, ":", "00:00"},
                 {{23, 59, 59, 999}, ":", "59:59"},
                 {{14, 20, 5, 0}, ":", "20:05"},
                 {{7, 7, 3, 0}, ".", "07.03"}};
    for (const auto& c : cases) {
        EXPECT_EQ(timeText(c.time, c.separator), c.text);
    }
}

TEST(TextLess, OrdinalByCharacterCode) {
    const struct {
        const char* a;
        const char* b;
        bool less;
    } cases[] = {
        {"20:00", "20:01", true},    {"20:01", "20:00", false}, {"21:30", "21:30", false},
        {"", "00:00", true},         {"00:00", "", false},      {"1:00", "20:00", true},
        {"2:00", "20:00", false},    {"20:00", "2:00", true},   {"5:00", "10:00", false},
        {"09", "09:", true},         {"9", ":", true},          {"Z", "a", true},
        {"00:00", "\xC3\xA9", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(textLess(c.a, c.b), c.less) << '"' << c.a << "\" < \"" << c.b << '"';
    }
}

TEST(UntilNextSecond, ArmsFromTheClockReading) {
    using std::chrono::milliseconds;
    const struct {
        int millisecond;
        int wait;
    } cases[] = {{0, 1005}, {5, 1000}, {500, 505}, {999, 6}};
    for (const auto& c : cases) {
        EXPECT_EQ(untilNextSecond({14, 20, 0, c.millisecond}, milliseconds(5)),
                  milliseconds(c.wait))
            << c.millisecond;
    }
}

}  // namespace
}  // namespace hushwell
