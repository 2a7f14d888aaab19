#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "settings/IniLines.h"

namespace hushwell {

// Edits of an INI text that leave every byte they do not change as it was: comments, unknown
// lines, blanks, the byte order mark and each line's own line end.

// `text` with `key` of `section` set to `value`: the line that counts (the last that sets it) is
// rewritten after its '=', or a line is added after the last line that is not blank of the
// section (and the section to the end of the text) when there is none. Added lines end as the
// text's first line does; in a text without one, as the system's own text files do.
[[nodiscard]] std::string withIniValue(std::string_view text, std::string_view section,
                                       std::string_view key, std::string_view value);

// `text` without the lines `drop` picks.
[[nodiscard]] std::string withoutIniLines(std::string_view text,
                                          const std::function<bool(const IniLine&)>& drop);

}  // namespace hushwell
