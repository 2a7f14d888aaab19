#pragma once

#include <filesystem>

namespace hushwell {

// The folder that holds the running executable; empty if the platform cannot tell.
[[nodiscard]] std::filesystem::path executableFolder();

// Where the settings file lives: "Hushwell_setup.txt" in the executable's folder.
[[nodiscard]] std::filesystem::path settingsFilePath();

}  // namespace hushwell
