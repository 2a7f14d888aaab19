#include <windows.h>

#include <string>
#include <system_error>

#include "platform/WritableFolder.h"

namespace hushwell {

bool folderIsWritable(const std::filesystem::path& folder) {
    std::error_code error;
    if (folder.empty() || !std::filesystem::is_directory(folder, error)) {
        return false;
    }
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
}

}  // namespace hushwell
