#pragma once

#include <array>
#include <optional>
#include <string>

#include "engine/Model.h"

namespace hushwell {

// What the schedule does next, seen from one second of the hour, by the very rule of the tick
// (pairHoldingDown) applied to the seconds that follow, into the next hour where they run on.
struct NextChange {
    enum class Kind {
        Up,          // no pair holds the volume down now; a break comes at `mark`
        Down,        // a pair holds it down; it comes up at `mark`
        DownAlways,  // a pair holds it down at every second of the hour
        NoBreak,     // no pair holds it down at any second of the hour
    };
    Kind kind = Kind::NoBreak;
    // Up: the last second before the volume goes down, which for a mark of the form "mm:ss" is
    // that Down mark itself. Down: the first second at which no pair holds it down, which for
    // such a mark is the Up mark. Written like the time text.
    std::string mark;
    int seconds = 0;        // from now until `mark`: 0 to 3599
    std::string separator;  // that of the time text it was worked out from
};

// What comes next at the time text `now` (two digits, the separator, two digits, as the tick
// builds it); empty when `now` is not such a text.
[[nodiscard]] std::optional<NextChange> nextChange(const std::array<SettingPair, kPairCount>& pairs,
                                                   const std::string& now);

// The change in words, minutes and seconds joined by the time text's separator: "Up - next break
// at :20:00, in 4:12", "Down until :21:30, 1:05 left", "No pair active". A mark carries no hour,
// so it is written as a time past the hour (the leading separator), never as a time of day.
[[nodiscard]] std::string nextChangeText(const NextChange& change);
// The same, with "listening" in place of the time left while the mark's audio is listened for:
// "Up - next break at :20:00, listening".
[[nodiscard]] std::string nextChangeText(const NextChange& change, bool listening);

}  // namespace hushwell
