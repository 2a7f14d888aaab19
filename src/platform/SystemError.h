#pragma once

#include <string>

namespace hushwell {

// The system's text for an errno value: "No such file or directory".
[[nodiscard]] std::string errnoText(int error);

#ifdef _WIN32
// Windows' text for a GetLastError() or registry result, in UTF-8, without its final period and
// line end, so that it reads inside a sentence; "error N" where Windows has no text for it.
[[nodiscard]] std::string windowsErrorText(unsigned long error);
#endif

}  // namespace hushwell
