#pragma once

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

// The machine's local time, in the time zone in force at each reading.
class SystemClock final : public Clock {
public:
    [[nodiscard]] TimeOfDay now() const override;
};

}  // namespace hushwell
