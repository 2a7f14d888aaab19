#include "engine/Clock.h"

#include <chrono>
#include <ctime>

namespace hushwell {

TimeOfDay SystemClock::now() const {
    const auto current = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(current);
    const auto sinceEpoch = current.time_since_epoch();
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count() % 1000;
    // The C library reads the time zone once and keeps it; asked again before each reading, it
    // follows a zone chosen while the program runs (glibc: a changed TZ variable, or a replaced
    // /etc/localtime, which costs one stat() when nothing changed).
    std::tm local{};
#ifdef _WIN32
    _tzset();
    localtime_s(&local, &seconds);
#else
    tzset();
    localtime_r(&seconds, &local);
#endif
    return {local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(millis < 0 ? 0 : millis)};
}

}  // namespace hushwell
