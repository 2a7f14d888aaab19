#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace hushwell {

// Replaces `file` with `bytes` so that a failure at any step leaves the old file as it was: the
// bytes go to a temporary file in the same folder, which is flushed to the disk and then renamed
// over the old one. Throws std::runtime_error with the step and the system's reason.
//
// The temporary file has a name nobody can guess and is created only where no file of that name
// exists (never through a link), so nothing planted in the folder is written through. When `file`
// is itself a symbolic link, the link is replaced by the new file; what it pointed to is left as
// it was.
//
// The new file keeps the permissions and, where the user may give it, the group of the ordinary
// file it replaces (POSIX); a new file gets 0644 less the umask. Temporary files that earlier
// saves of `file` left when they were killed (this user's, named as this function names them,
// some minutes old) are deleted first; links, folders and other files are left alone.
void writeFileAtomically(const std::filesystem::path& file, std::string_view bytes);

// Deletes `file` (a link itself, not what it points to); true when it is gone, or was not there.
// On Windows a deletion refused for a moment (an antivirus or indexer that has just opened the
// file) is tried again for about a second, as the rename of a save is.
[[nodiscard]] bool removeFile(const std::filesystem::path& file);

#ifndef _WIN32
// The system calls the write goes through, so that tests can make each step fail.
struct FileCalls {
    int (*open)(const char* path, int flags, unsigned mode);
    long (*write)(int fd, const void* data, unsigned long size);
    int (*fsync)(int fd);
    int (*close)(int fd);
    int (*rename)(const char* from, const char* to);
    std::string (*temporarySuffix)();  // a fresh random suffix for each attempt
};
[[nodiscard]] const FileCalls& systemFileCalls();
void writeFileAtomically(const std::filesystem::path& file, std::string_view bytes,
                         const FileCalls& calls);
#endif

}  // namespace hushwell
