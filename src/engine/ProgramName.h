#pragma once

namespace hushwell {

// The program's name, as its window and messages show it.
constexpr const char* kProgramName = "Hushwell";
// Its identifier: the name of its desktop entry, and the stem of the name of its one-copy claim.
constexpr const char* kProgramId = "io.github.hushwell.Hushwell";

}  // namespace hushwell
