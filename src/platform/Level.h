#pragma once

namespace hushwell {

// The two volume levels. A pair's two marks are named by the level that begins at each, so the
// same names pick a mark's row: in the window, in the settings and in the file of prints.
enum class Level { Down, Up };

}  // namespace hushwell
