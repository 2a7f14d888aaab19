#include "settings/SettingsLocation.h"

#include "settings/SettingsFile.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace hushwell {

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

std::filesystem::path settingsFilePath() {
    return executableFolder() / kSettingsFileName;
}

}  // namespace hushwell
