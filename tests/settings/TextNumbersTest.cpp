#include "settings/TextNumbers.h"

#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>

namespace hushwell {
namespace {

TEST(RoundHalfEven, HalvesGoToTheEvenNeighbour) {
    const struct {
        double in;
        double out;
    } cases[] = {{0.5, 0},   {1.5, 2},   {2.5, 2},    {655.35, 655}, {-2.5, -2}, {-1.5, -2},
                 {78.5, 78}, {79.5, 80}, {2.4999, 2}, {2.5001, 3},   {-0.4, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(roundHalfEven(c.in), c.out) << c.in;
    }
}

TEST(ToInt32, RefusesWhatDoesNotFit) {
    EXPECT_EQ(toInt32(2147483647.0), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(toInt32(-2147483648.0), std::numeric_limits<std::int32_t>::min());
    EXPECT_THROW((void)toInt32(2147483648.0), std::out_of_range);
    EXPECT_THROW((void)toInt32(-1e300), std::out_of_range);
    EXPECT_THROW((void)toInt32(std::numeric_limits<double>::infinity()), std::out_of_range);
}

TEST(LeadingNumber, ReadsAsFarAsANumberGoes) {
    const struct {
        const char* text;
        double value;
    } cases[] = {{"", 0},        {"20", 20},   {"12abc", 12}, {" 0 ", 0},
                 {"abc", 0},     {"1 2", 12},  {"\t\n7", 7},  {"-3.5x", -3.5},
                 {"20.5", 20.5}, {".5", 0.5},  {"+7", 7},     {"1.2.3", 1.2},
                 {"--1", 0},     {"1e400", 1}, {"-", 0},      {"2147483648", 2147483648.0}};
    for (const auto& c : cases) {
        EXPECT_EQ(leadingNumber(c.text), c.value) << '"' << c.text << '"';
    }
}

TEST(ToInt16, AcceptsWholeNumbersWithBlanksAround) {
    const struct {
        const char* text;
        int value;
    } cases[] = {{"0", 0},   {" 1 ", 1}, {"\t2\t", 2},     {"1.5", 2},
                 {"2.5", 2}, {"-1", -1}, {"32767", 32767}, {"-32768", -32768}};
    for (const auto& c : cases) {
        EXPECT_EQ(toInt16(c.text), c.value) << '"' << c.text << '"';
    }
}

TEST(ToInt16, RefusesTextAndOutOfRange) {
    for (const char* text : {"", " ", "abc", "1x", "1 2", "32768", "-32769", "99999", ".", "-"}) {
        EXPECT_THROW((void)toInt16(text), std::logic_error) << '"' << text << '"';
    }
}

}  // namespace
}  // namespace hushwell
