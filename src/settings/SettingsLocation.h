#pragma once

#include <filesystem>
#include <functional>

namespace hushwell {

// The folder that holds the running executable; empty if the platform cannot tell.
[[nodiscard]] std::filesystem::path executableFolder();

// The user's own configuration folder for the program: $XDG_CONFIG_HOME/Hushwell (by default
// ~/.config/Hushwell) on Linux, %APPDATA%\Hushwell on Windows.
[[nodiscard]] std::filesystem::path userSettingsFolder();

// True when a file can be created in `folder` (tried, not guessed from permission bits).
[[nodiscard]] bool folderIsWritable(const std::filesystem::path& folder);

// Where "Hushwell_setup.txt" lives: beside the executable when a settings file already stands
// there or that folder is writable (a portable copy); otherwise in the user's configuration
// folder, which an installed copy in a folder the user cannot write needs.
[[nodiscard]] std::filesystem::path chooseSettingsFile(
    const std::filesystem::path& executableFolder, const std::filesystem::path& userFolder,
    const std::function<bool(const std::filesystem::path&)>& writable);

// chooseSettingsFile for this program and this machine, worked out afresh on every call so that
// the load and each save agree.
[[nodiscard]] std::filesystem::path settingsFilePath();

}  // namespace hushwell
