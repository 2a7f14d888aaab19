#include "engine/Clock.h"

#include <ctime>

#ifdef _WIN32
#include <windows.h>
#endif

namespace hushwell {
namespace {

std::string twoDigits(int value) {
    return {static_cast<char>('0' + value / 10 % 10), static_cast<char>('0' + value % 10)};
}

}  // namespace

TimeOfDay SystemClock::now() const {
    const auto current = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(current);
    const auto sinceEpoch = current.time_since_epoch();
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count() % 1000;
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    return {local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(millis < 0 ? 0 : millis)};
}

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
    const auto length = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < length; ++i) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[i]);
        if (ca != cb) {
            return ca < cb;
        }
    }
    return a.size() < b.size();
}

std::chrono::milliseconds untilNextSecond(const TimeOfDay& time,
                                          std::chrono::milliseconds lateness) {
    return std::chrono::milliseconds(1000 - time.millisecond) + lateness;
}

}  // namespace hushwell
