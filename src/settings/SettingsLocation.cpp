#include "settings/SettingsLocation.h"

#include <cstdlib>
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
    const wchar_t* value = _wgetenv(std::filesystem::path(name).c_str());
#else
    const char* value = std::getenv(name);
#endif
    return value != nullptr ? std::filesystem::path(value) : std::filesystem::path();
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
    // Access rights on Windows come from the folder's ACL, which only an attempt tells. The probe
    // is created only if no such name exists and is deleted when its handle closes.
    const std::filesystem::path probe =
        folder / (L".hushwell-probe-" + std::to_wstring(GetCurrentProcessId()));
    const HANDLE handle = CreateFileW(
        probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
        FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(handle);
    return true;
#else
    return access(folder.c_str(), W_OK | X_OK) == 0;
#endif
}

bool isInstalledCopy(const std::filesystem::path& programFolder) {
    return ordinaryFileExists(programFolder / kInstalledMarkerName) ||
           ordinaryFileExists(programFolder.parent_path() / "share" / "hushwell" /
                              kInstalledMarkerName);
}

SettingsLocation SettingsLocation::at(const std::filesystem::path& file) {
    return {file, file};
}

SettingsLocation SettingsLocation::decide(const Facts& facts) {
    const std::filesystem::path beside = facts.programFolder / kSettingsFileName;
    if ((facts.programFolderWritable && !facts.installed) || facts.userFolder.empty()) {
        return {beside, beside};
    }
    const std::filesystem::path user = facts.userFolder / kSettingsFileName;
    const bool readBeside = !ordinaryFileExists(user) && ordinaryFileExists(beside);
    return {readBeside ? beside : user, user};
}

SettingsLocation SettingsLocation::forThisProgram() {
    const std::filesystem::path program = executableFolder();
    return decide(
        {program, userSettingsFolder(), folderIsWritable(program), isInstalledCopy(program)});
}

}  // namespace hushwell
