#include "engine/Clock.h"

#include <chrono>

#include "platform/LocalTime.h"

namespace hushwell {

TimeOfDay SystemClock::now() const {
    const auto current = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(current);
    const auto sinceEpoch = current.time_since_epoch();
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count() % 1000;
    const std::tm local = localTimeOf(seconds);
    return {local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(millis < 0 ? 0 : millis)};
}

}  // namespace hushwell
