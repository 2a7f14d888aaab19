#pragma once

#include <filesystem>

namespace hushwell {

// True when this process can create files in `folder`. Asks the system rather than guessing from
// permission bits; on Windows by creating and deleting a probe file, exclusively.
[[nodiscard]] bool folderIsWritable(const std::filesystem::path& folder);

}  // namespace hushwell
