#pragma once

#include <ctime>
#include <string>

namespace hushwell {

// The local time of `seconds` in the zone in force now: the zone is read again before each reading,
// so that one chosen while the program runs is followed (glibc: a changed TZ variable, or a
// replaced /etc/localtime, which costs one stat() when nothing changed).
[[nodiscard]] std::tm localTimeOf(std::time_t seconds);

// The time separator of the user's locale; ":" where the platform has no setting for it.
[[nodiscard]] std::string systemTimeSeparator();

}  // namespace hushwell
