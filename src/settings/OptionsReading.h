#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "settings/OptionSchema.h"

namespace hushwell {

struct LoadedOptions {
    Options options;
    // Plain-text messages, one per thing that is wrong, each naming the file, the line and the
    // default that is used instead; after the first few, one that counts the rest. Empty when the
    // file is fine or missing.
    std::vector<std::string> problems;
};

// Reads the text of an options file, in one pass per option over the text and in memory that does
// not grow with it. `fileName` names the file in the problems.
//
// The file is INI: "[Section]" lines, "Key=value" lines, comments starting with ';' or '#',
// blank lines; a UTF-8 byte order mark and CR LF line ends are accepted. Sections, keys and the
// words true and false are matched whatever their case, and blanks around them are ignored. When
// a key is given more than once, the last line counts. Unknown keys of the program's sections are
// reported (likely typing errors); unknown sections are not (they may come from a later version).
[[nodiscard]] LoadedOptions parseOptions(std::string_view text, const std::string& fileName);

}  // namespace hushwell
