#pragma once

#include <filesystem>
#include <string>

namespace hushwell {

// A path as UTF-8 text for messages, whatever characters it holds and whatever the platform's
// narrow code page is.
[[nodiscard]] inline std::string pathText(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

}  // namespace hushwell
