#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace hushwell {

// A failure that ends the operation in progress; start-up reports its text to the user.
class RunTimeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Rounds to the nearest integer, an exact half going to the even neighbour (2.5 -> 2, 3.5 -> 4).
[[nodiscard]] double roundHalfEven(double value);

// roundHalfEven(value) as a 32-bit integer; throws RunTimeError when it does not fit.
[[nodiscard]] std::int32_t toInt32(double value);

// 32-bit arithmetic that throws RunTimeError instead of wrapping.
[[nodiscard]] std::int32_t checkedSub(std::int32_t a, std::int32_t b);
[[nodiscard]] std::int32_t checkedMul(std::int32_t a, std::int32_t b);

// The number at the start of `text`: an optional sign, digits, an optional period and more digits.
// Blanks, tabs and line feeds are ignored wherever they stand; anything else ends the number.
// A text that does not start with a number gives 0.
[[nodiscard]] double leadingNumber(std::string_view text);

// The whole of `text` as a 16-bit integer: blanks around it are allowed, a fraction is rounded half
// to even. Throws RunTimeError when the text is not a number or the value does not fit.
[[nodiscard]] std::int16_t toInt16(std::string_view text);

}  // namespace hushwell
