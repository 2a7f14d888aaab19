#include <unistd.h>

#include <system_error>

#include "platform/WritableFolder.h"

namespace hushwell {

bool folderIsWritable(const std::filesystem::path& folder) {
    std::error_code error;
    if (folder.empty() || !std::filesystem::is_directory(folder, error)) {
        return false;
    }
    return access(folder.c_str(), W_OK | X_OK) == 0;
}

}  // namespace hushwell
