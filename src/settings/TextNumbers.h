#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace hushwell {

// A blank, as the settings file and its numbers skip it: a space or a tab.
[[nodiscard]] constexpr bool isBlank(int c) {
    return c == ' ' || c == '\t';
}

// `text` short enough for a message to quote: its first 24 characters and "..." when longer.
[[nodiscard]] std::string shortened(const std::string& text);

// Rounds to the nearest integer, an exact half going to the even neighbour (2.5 -> 2, 3.5 -> 4).
[[nodiscard]] double roundHalfEven(double value);

// roundHalfEven(value) as a 32-bit integer; throws std::out_of_range when it does not fit.
[[nodiscard]] std::int32_t toInt32(double value);

// The number at the start of `text`: an optional sign, digits, an optional period and more digits.
// Blanks, tabs and line feeds are ignored wherever they stand; anything else ends the number.
// A text that does not start with a number gives 0.
[[nodiscard]] double leadingNumber(std::string_view text);

// The whole of `text` as a 16-bit integer: blanks around it are allowed, a fraction is rounded half
// to even. Throws std::invalid_argument when the text is not a number and std::out_of_range when
// the value does not fit; their texts say so ("not a number", "outside the range ...").
[[nodiscard]] std::int16_t toInt16(std::string_view text);

}  // namespace hushwell
