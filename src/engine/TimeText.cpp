#include "engine/TimeText.h"

#include <algorithm>

#ifdef _WIN32
#include <windows.h>
#endif

namespace hushwell {
namespace {

std::string twoDigits(int value) {
    return {static_cast<char>('0' + value / 10 % 10), static_cast<char>('0' + value % 10)};
}

}  // namespace

std::string systemTimeSeparator() {
#ifdef _WIN32
    // The user's own setting (Region, Additional settings), as UTF-8.
    wchar_t separator[8] = {};
    char text[32] = {};
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIME, separator, 8) > 1 &&
        WideCharToMultiByte(CP_UTF8, 0, separator, -1, text, sizeof text, nullptr, nullptr) > 1) {
        return text;
    }
#endif
    return ":";
}

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
