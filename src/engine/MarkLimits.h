#pragma once

#include <cstddef>
#include <string_view>

#include "settings/FieldReader.h"

namespace hushwell {

// What a mark may hold so that the settings file gives it back as it was typed: none of the
// characters that end a field or open a quoted one, and no more characters than a field holds.
constexpr std::string_view kCharactersNoMarkHolds = kFieldSyntax;
constexpr std::size_t kMaxMarkLength = FieldReader::kMaxFieldLength;

}  // namespace hushwell
