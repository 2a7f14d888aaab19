#include <cstdlib>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/ProgramNames.h"
#include "platform/ProgramPaths.h"

namespace hushwell {
namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// $XDG_CONFIG_HOME, or ~/.config; a relative XDG_CONFIG_HOME is ignored, as the standard says.
std::filesystem::path userConfigFolder() {
    const std::string base = environment("XDG_CONFIG_HOME");
    if (!base.empty() && base.front() == '/') {
        return base;
    }
    const std::string home = environment("HOME");
    return home.empty() ? std::filesystem::path() : std::filesystem::path(home) / ".config";
}

}  // namespace

std::filesystem::path ProgramPaths::executable() {
    std::error_code error;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    constexpr std::string_view kDeleted = " (deleted)";
    const std::string text = exe.native();
    if (text.ends_with(kDeleted) && !std::filesystem::exists(exe, error)) {
        exe = text.substr(0, text.size() - kDeleted.size());
    }
    return exe;
}

std::filesystem::path ProgramPaths::configFolder() {
    const std::filesystem::path base = userConfigFolder();
    return base.empty() ? std::filesystem::path() : base / kProgramName;
}

// Not the runtime folder: logind empties that when the user's last session ends, which is one of
// the endings the state outlives.
std::filesystem::path ProgramPaths::stateFolder() {
    const std::string state = environment("XDG_STATE_HOME");
    if (!state.empty() && state.front() == '/') {
        return std::filesystem::path(state) / kCommandName;
    }
    const std::string home = environment("HOME");
    if (home.empty() || home.front() != '/') {
        return {};
    }
    return std::filesystem::path(home) / ".local" / "state" / kCommandName;
}

std::filesystem::path ProgramPaths::autostartFolder() {
    const std::filesystem::path base = userConfigFolder();
    return base.empty() ? std::filesystem::path() : base / "autostart";
}

}  // namespace hushwell
