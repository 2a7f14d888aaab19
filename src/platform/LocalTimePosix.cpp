#include <time.h>

#include "platform/LocalTime.h"

namespace hushwell {

std::tm localTimeOf(std::time_t seconds) {
    std::tm local{};
    tzset();
    localtime_r(&seconds, &local);
    return local;
}

std::string systemTimeSeparator() {
    return ":";
}

}  // namespace hushwell
