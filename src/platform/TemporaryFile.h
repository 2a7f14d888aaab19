#pragma once

#include <filesystem>
#include <string>
#include <system_error>

// The temporary file that an atomic save writes and then renames over the file: its name, how a
// leftover of a killed save is recognised, and its removal when a step fails. The Windows and the
// POSIX writer share these.
namespace hushwell::atomic_file {

// Attempts at a fresh temporary name before the save gives up; a clash at all is suspicious.
constexpr int kNameAttempts = 16;

// A temporary file that has stood this long was left by a save that was killed: a save takes
// milliseconds, and a younger one may belong to a save that another copy is making right now.
constexpr long long kLeftoverSeconds = 10LL * 60;

[[nodiscard]] std::string randomSuffix();

[[nodiscard]] std::filesystem::path temporaryFor(std::filesystem::path file,
                                                 const std::string& suffix);

// True when `name` is one that randomSuffix() gives the temporary files for `file`.
[[nodiscard]] bool isTemporaryName(const std::filesystem::path::string_type& name,
                                   const std::filesystem::path& file);

[[nodiscard]] std::filesystem::path folderOf(const std::filesystem::path& file);

[[nodiscard]] std::string quoted(const std::filesystem::path& path);

// Runs `steps` on the temporary file that `create` made, and removes it again if they fail.
template <typename Steps>
void throughTemporary(const std::filesystem::path& temporary, Steps steps) {
    try {
        steps();
    } catch (...) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        throw;
    }
}

}  // namespace hushwell::atomic_file
