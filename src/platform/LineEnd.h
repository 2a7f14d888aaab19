#pragma once

#include <string_view>

namespace hushwell {

// The line end of the system's own text files, for a file the program writes from nothing: CR LF
// on Windows, LF elsewhere.
[[nodiscard]] std::string_view systemLineEnd();

}  // namespace hushwell
