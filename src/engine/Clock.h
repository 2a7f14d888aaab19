#pragma once

#include <chrono>
#include <string>

namespace hushwell {

// The local time of day, to the millisecond.
struct TimeOfDay {
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

// Where the program reads the time; tests set it instead of waiting.
class Clock {
public:
    virtual ~Clock() = default;
    [[nodiscard]] virtual TimeOfDay now() const = 0;
};

// The machine's local time.
class SystemClock final : public Clock {
public:
    [[nodiscard]] TimeOfDay now() const override;
};

// The time separator of the user's locale; ":" where the platform has no setting for it.
[[nodiscard]] std::string systemTimeSeparator();

// Minutes and seconds of `time`, two digits each with a leading zero, joined by `separator`:
// 09:05 for nine minutes and five seconds past any hour.
[[nodiscard]] std::string timeText(const TimeOfDay& time, const std::string& separator);

// Ordinal text order: byte by byte, the first difference deciding, a prefix before the longer
// text. No case or locale rule applies.
[[nodiscard]] bool textLess(const std::string& a, const std::string& b);

// How long to wait from `time` until just after the next whole second, so that a single-shot timer
// re-armed from every tick fires `lateness` after each second boundary, whatever the phase was.
[[nodiscard]] std::chrono::milliseconds untilNextSecond(const TimeOfDay& time,
                                                        std::chrono::milliseconds lateness);

}  // namespace hushwell
