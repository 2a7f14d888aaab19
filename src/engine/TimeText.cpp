#include "engine/TimeText.h"

#include <algorithm>

namespace hushwell {
namespace {

std::string twoDigits(int value) {
    return {static_cast<char>('0' + value / 10 % 10), static_cast<char>('0' + value % 10)};
}

}  // namespace

std::string timeText(const TimeOfDay& time, const std::string& separator) {
    return twoDigits(time.minute) + separator + twoDigits(time.second);
}

bool textLess(const std::string& a, const std::string& b) {
    // std::string compares as char, which may be signed; marks compare by unsigned character code.
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    });
}

}  // namespace hushwell
