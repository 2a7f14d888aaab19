#include <windows.h>

#include "platform/LocalTime.h"

namespace hushwell {

std::tm localTimeOf(std::time_t seconds) {
    std::tm local{};
    _tzset();
    localtime_s(&local, &seconds);
    return local;
}

std::string systemTimeSeparator() {
    // The user's own setting (Region, Additional settings), as UTF-8.
    wchar_t separator[8] = {};
    char text[32] = {};
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIME, separator, 8) > 1 &&
        WideCharToMultiByte(CP_UTF8, 0, separator, -1, text, sizeof text, nullptr, nullptr) > 1) {
        return text;
    }
    return ":";
}

}  // namespace hushwell
