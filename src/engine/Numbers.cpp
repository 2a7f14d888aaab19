#include "engine/Numbers.h"

#include <cmath>
#include <cstdlib>
#include <limits>

namespace hushwell {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// Reads [sign] digits [. digits] from the start of `text` into `number`, skipping the characters
// that `skip` accepts. Returns how many characters were consumed and whether any digit was seen.
struct Scan {
    std::size_t consumed = 0;
    bool sawDigit = false;
    std::string number;
};

template <typename Skip>
Scan scanNumber(std::string_view text, Skip skip) {
    Scan scan;
    bool sawPeriod = false;
    bool sawSign = false;
    std::size_t i = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (skip(c)) {
            continue;
        }
        if ((c == '+' || c == '-') && !sawSign && scan.number.empty()) {
            sawSign = true;
            scan.number += c;
        } else if (isDigit(c)) {
            scan.sawDigit = true;
            scan.number += c;
        } else if (c == '.' && !sawPeriod) {
            sawPeriod = true;
            scan.number += c;
        } else {
            break;
        }
    }
    scan.consumed = i;
    return scan;
}

}  // namespace

double roundHalfEven(double value) {
    const double floor = std::floor(value);
    const double fraction = value - floor;
    if (fraction < 0.5) {
        return floor;
    }
    if (fraction > 0.5) {
        return floor + 1.0;
    }
    return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}

std::int32_t toInt32(double value) {
    const double rounded = roundHalfEven(value);
    if (!std::isfinite(rounded) || rounded < std::numeric_limits<std::int32_t>::min() ||
        rounded > std::numeric_limits<std::int32_t>::max()) {
        throw RunTimeError("Overflow: the number does not fit in 32 bits.");
    }
    return static_cast<std::int32_t>(rounded);
}

namespace {

// `value`, computed in 64 bits from two 32-bit operands, as a 32-bit integer.
std::int32_t narrowed(std::int64_t value, const char* operation) {
    if (value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max()) {
        throw RunTimeError(std::string("Overflow in a volume ") + operation + ".");
    }
    return static_cast<std::int32_t>(value);
}

}  // namespace

std::int32_t checkedSub(std::int32_t a, std::int32_t b) {
    return narrowed(std::int64_t{a} - b, "subtraction");
}

std::int32_t checkedMul(std::int32_t a, std::int32_t b) {
    return narrowed(std::int64_t{a} * b, "multiplication");
}

double leadingNumber(std::string_view text) {
    const Scan scan = scanNumber(text, [](char c) { return isBlank(c) || c == '\n'; });
    if (!scan.sawDigit) {
        return 0.0;
    }
    return std::strtod(scan.number.c_str(), nullptr);
}

std::int16_t toInt16(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    const Scan scan = scanNumber(text, [](char) { return false; });
    if (!scan.sawDigit || scan.consumed != text.size()) {
        throw RunTimeError("not a number");
    }
    const double rounded = roundHalfEven(std::strtod(scan.number.c_str(), nullptr));
    if (rounded < std::numeric_limits<std::int16_t>::min() ||
        rounded > std::numeric_limits<std::int16_t>::max()) {
        throw RunTimeError("outside the range -32768 to 32767");
    }
    return static_cast<std::int16_t>(rounded);
}

}  // namespace hushwell
