#pragma once

#include <filesystem>

namespace hushwell::testing {

// Copies the program `from` to `to` (replacing it), executable, so that it can be run at once
// whatever the other threads of this process start meanwhile. The copy is written by a child
// process of its own: no descriptor open on it for writing is ever in this process, where a child
// another thread forks would inherit it and make running the copy fail ("Text file busy").
void copyExecutable(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace hushwell::testing
