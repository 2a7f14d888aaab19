#pragma once

#include <filesystem>

namespace hushwell {

// Where the program and its files are, as the system and the user's environment tell; found here
// and nowhere else. An empty path: they cannot tell.
struct ProgramPaths {
    // The running executable. On Linux, one replaced since it started (an upgrade) is its
    // successor at the same path, the program to start next time.
    [[nodiscard]] static std::filesystem::path executable();
    [[nodiscard]] static std::filesystem::path executableFolder() {
        return executable().parent_path();
    }

    // The user's own configuration folder for the program: $XDG_CONFIG_HOME/Hushwell (by default
    // ~/.config/Hushwell) on Linux, %APPDATA%\Hushwell on Windows.
    [[nodiscard]] static std::filesystem::path configFolder();

    // Where the program keeps what must outlive a run and the user's session: on Linux
    // $XDG_STATE_HOME/hushwell (by default ~/.local/state/hushwell), absolute paths only; on
    // Windows %LOCALAPPDATA%\Hushwell.
    [[nodiscard]] static std::filesystem::path stateFolder();

#ifndef _WIN32
    // The folder of the entries the desktop starts at log-in: $XDG_CONFIG_HOME/autostart (by
    // default ~/.config/autostart).
    [[nodiscard]] static std::filesystem::path autostartFolder();
#endif
};

}  // namespace hushwell
