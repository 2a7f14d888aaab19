#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace hushwell {

// Well-formed UTF-8: no overlong form, no surrogate, nothing past U+10FFFF.
[[nodiscard]] bool isUtf8(std::string_view text);

// The number of characters of UTF-8 text: the bytes that start one.
[[nodiscard]] std::size_t utf8Length(std::string_view text);

// User text as a message quotes it: cut after 60 bytes, "..." marking the cut.
[[nodiscard]] std::string quotedInMessage(std::string_view text);

// A value written between double quotes keeps its blanks; the quotes are not part of it.
[[nodiscard]] std::string_view unquoted(std::string_view value);

}  // namespace hushwell
