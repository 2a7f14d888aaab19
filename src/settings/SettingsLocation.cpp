#include "settings/SettingsLocation.h"

#include <cstdlib>
#include <fstream>
#include <string>

#include "settings/SettingsFile.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace hushwell {
namespace {

std::filesystem::path environmentPath(const char* name) {
#ifdef _WIN32
    const wchar_t* wide = _wgetenv(std::filesystem::path(name).wstring().c_str());
    return wide != nullptr && *wide != L'\0' ? std::filesystem::path(wide)
                                             : std::filesystem::path();
#else
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::filesystem::path(value)
                                              : std::filesystem::path();
#endif
}

}  // namespace

std::filesystem::path executableFolder() {
#ifdef _WIN32
    std::wstring buffer(32768, L'\0');
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0 || length >= buffer.size()) {
        return {};
    }
    buffer.resize(length);
    return std::filesystem::path(buffer).parent_path();
#else
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : exe.parent_path();
#endif
}

std::filesystem::path userSettingsFolder() {
#ifdef _WIN32
    const std::filesystem::path base = environmentPath("APPDATA");
#else
    std::filesystem::path base = environmentPath("XDG_CONFIG_HOME");
    if (base.empty() || base.is_relative()) {
        const std::filesystem::path home = environmentPath("HOME");
        base = home.empty() ? std::filesystem::path() : home / ".config";
    }
#endif
    return base.empty() ? std::filesystem::path() : base / "Hushwell";
}

bool folderIsWritable(const std::filesystem::path& folder) {
    std::error_code error;
    if (folder.empty() || !std::filesystem::is_directory(folder, error)) {
        return false;
    }
#ifdef _WIN32
    const unsigned long id = GetCurrentProcessId();
#else
    const long id = static_cast<long>(getpid());
#endif
    const std::filesystem::path probe = folder / (".hushwell-probe-" + std::to_string(id));
    const bool created = std::ofstream(probe).good();
    std::filesystem::remove(probe, error);
    return created;
}

std::filesystem::path chooseSettingsFile(
    const std::filesystem::path& executableFolder, const std::filesystem::path& userFolder,
    const std::function<bool(const std::filesystem::path&)>& writable) {
    std::filesystem::path beside = executableFolder / kSettingsFileName;
    if (ordinaryFileExists(beside) || writable(executableFolder) || userFolder.empty()) {
        return beside;
    }
    return userFolder / kSettingsFileName;
}

std::filesystem::path settingsFilePath() {
    return chooseSettingsFile(executableFolder(), userSettingsFolder(), folderIsWritable);
}

}  // namespace hushwell
