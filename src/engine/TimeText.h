#pragma once

#include <string>

#include "engine/Clock.h"

namespace hushwell {

// Minutes and seconds of `time`, two digits each with a leading zero, joined by `separator`:
// 09:05 for nine minutes and five seconds past any hour.
[[nodiscard]] std::string timeText(const TimeOfDay& time, const std::string& separator);

// Ordinal text order: byte by byte, the first difference deciding, a prefix before the longer
// text. No case or locale rule applies.
[[nodiscard]] bool textLess(const std::string& a, const std::string& b);

}  // namespace hushwell
