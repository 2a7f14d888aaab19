#pragma once

#include <filesystem>
#include <string_view>

namespace hushwell {

// Replaces `file` with `bytes` so that a failure at any step leaves the old file as it was: the
// bytes go to a temporary file in the same folder, which is flushed to the disk and then renamed
// over the old one. Throws RunTimeError with the step and the system's reason.
void writeFileAtomically(const std::filesystem::path& file, std::string_view bytes);

}  // namespace hushwell
