#include "settings/TextNumbers.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <string>

namespace hushwell {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
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
    std::size_t i = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (skip(c)) {
            continue;
        }
        if ((c == '+' || c == '-') && scan.number.empty()) {
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

std::string shortened(const std::string& text) {
    constexpr std::size_t kShown = 24;
    return text.size() > kShown ? text.substr(0, kShown) + "..." : text;
}

double roundHalfEven(double value) {
    // The default rounding mode, which nothing changes, sends halves to the even neighbour.
    return std::nearbyint(value);
}

std::int32_t toInt32(double value) {
    const double rounded = roundHalfEven(value);
    if (!std::isfinite(rounded) || rounded < std::numeric_limits<std::int32_t>::min() ||
        rounded > std::numeric_limits<std::int32_t>::max()) {
        throw std::out_of_range("Overflow: the number does not fit in 32 bits.");
    }
    return static_cast<std::int32_t>(rounded);
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
        throw std::invalid_argument("not a number");
    }
    const double rounded = roundHalfEven(std::strtod(scan.number.c_str(), nullptr));
    if (rounded < std::numeric_limits<std::int16_t>::min() ||
        rounded > std::numeric_limits<std::int16_t>::max()) {
        throw std::out_of_range("outside the range -32768 to 32767");
    }
    return static_cast<std::int16_t>(rounded);
}

}  // namespace hushwell
