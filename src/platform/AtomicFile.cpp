#include "platform/AtomicFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>

#include "platform/PathText.h"

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs.
#include <aclapi.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#endif

namespace hushwell {
namespace {

// Attempts at a fresh temporary name before the save gives up; a clash at all is suspicious.
constexpr int kNameAttempts = 16;

// A temporary file that has stood this long was left by a save that was killed: a save takes
// milliseconds, and a younger one may belong to a save that another copy is making right now.
constexpr long long kLeftoverSeconds = 10LL * 60;

// The suffix is 16 lowercase hexadecimal digits.
constexpr std::size_t kSuffixLength = 16;

std::string randomSuffix() {
    static std::mt19937_64 generator{std::random_device{}()};
    char suffix[kSuffixLength + 1];
    std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(generator()));
    return suffix;
}

std::filesystem::path temporaryFor(std::filesystem::path file, const std::string& suffix) {
    return file += ".tmp-" + suffix;
}

// True when `name` is one that randomSuffix() gives the temporary files for `file`.
bool isTemporaryName(const std::filesystem::path::string_type& name,
                     const std::filesystem::path& file) {
    const std::filesystem::path::string_type prefix = temporaryFor(file.filename(), "").native();
    return name.size() == prefix.size() + kSuffixLength && name.starts_with(prefix) &&
           std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                       [](auto c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

std::filesystem::path folderOf(const std::filesystem::path& file) {
    return file.parent_path().empty() ? std::filesystem::path(".") : file.parent_path();
}

std::string quoted(const std::filesystem::path& path) {
    return "\"" + pathText(path) + "\"";
}

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

#ifdef _WIN32

[[noreturn]] void fail(const std::string& step, DWORD error = GetLastError()) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring reason =
        length > 0 ? std::wstring(text, length) : L"error " + std::to_wstring(error);
    LocalFree(text);
    while (!reason.empty() &&
           (reason.back() == L'\n' || reason.back() == L'\r' || reason.back() == L'.')) {
        reason.pop_back();
    }
    throw std::runtime_error(step + ": " + pathText(std::filesystem::path(reason)));
}

void writeAll(HANDLE handle, const std::filesystem::path& temporary, std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
        DWORD written = 0;
        if (!WriteFile(handle, bytes.data() + done, chunk, &written, nullptr) || written == 0) {
            fail("cannot write " + quoted(temporary));
        }
        done += written;
    }
    if (!FlushFileBuffers(handle)) {
        fail("cannot flush " + quoted(temporary) + " to the disk");
    }
}

// True when the owner of `path` is the user this process runs as.
bool ownedByThisUser(const std::filesystem::path& path) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return false;
    }
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::unique_ptr<char[]> user(new char[size > 0 ? size : 1]);
    const bool known = size > 0 && GetTokenInformation(token, TokenUser, user.get(), size, &size);
    CloseHandle(token);
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!known ||
        GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                              nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    const bool mine =
        owner != nullptr && EqualSid(owner, reinterpret_cast<TOKEN_USER*>(user.get())->User.Sid);
    LocalFree(descriptor);
    return mine;
}

// Deletes the temporary files that killed saves left beside `file`: only this user's, only old
// ones, never a folder and never a link or other reparse point (deleting one would not touch what
// it points to, but it is not the save's). Failures are ignored: they cost only disk space.
void removeLeftovers(const std::filesystem::path& file) {
    const std::filesystem::path folder = folderOf(file);
    WIN32_FIND_DATAW found{};
    const HANDLE search =
        FindFirstFileW((folder / temporaryFor(file.filename(), "*")).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const auto ticks = [](const FILETIME& time) {
        return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    constexpr unsigned long long kTicksPerSecond = 10'000'000;
    do {
        const std::filesystem::path candidate = folder / found.cFileName;
        if (isTemporaryName(found.cFileName, file) &&
            (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
                0 &&
            ticks(now) > ticks(found.ftLastWriteTime) + kLeftoverSeconds * kTicksPerSecond &&
            ownedByThisUser(candidate)) {
            DeleteFileW(candidate.c_str());
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

}  // namespace

void writeFileAtomically(const std::filesystem::path& file, std::string_view bytes) {
    removeLeftovers(file);
    std::filesystem::path temporary;
    HANDLE handle = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < kNameAttempts && handle == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = temporaryFor(file, randomSuffix());
        // CREATE_NEW fails when anything, a link included, already has the name.
        handle = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
            fail("cannot create " + quoted(temporary));
        }
    }
    if (handle == INVALID_HANDLE_VALUE) {
        fail("cannot create a temporary file beside " + quoted(file));
    }
    throughTemporary(temporary, [&] {
        try {
            writeAll(handle, temporary, bytes);
        } catch (...) {
            CloseHandle(handle);
            throw;
        }
        if (!CloseHandle(handle)) {
            fail("cannot close " + quoted(temporary));
        }
        if (!MoveFileExW(temporary.c_str(), file.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            fail("cannot replace " + quoted(file));
        }
    });
}

#else

[[noreturn]] void fail(const std::string& step, int error = errno) {
    throw std::runtime_error(step + ": " + std::strerror(error));
}

// Deletes the temporary files that killed saves left beside `file`: only regular files of this
// user with one name, old ones, looked at without following a link. Failures are ignored: they
// cost only disk space.
void removeLeftovers(const std::filesystem::path& file) {
    const std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir(folderOf(file).c_str()), ::closedir);
    if (!folder) {
        return;
    }
    const int folderFd = ::dirfd(folder.get());
    const std::time_t now = std::time(nullptr);
    while (const dirent* entry = ::readdir(folder.get())) {
        struct stat status {};
        if (isTemporaryName(entry->d_name, file) &&
            ::fstatat(folderFd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(status.st_mode) && status.st_nlink == 1 && status.st_uid == ::geteuid() &&
            now - status.st_mtime > kLeftoverSeconds) {
            ::unlinkat(folderFd, entry->d_name, 0);
        }
    }
}

// The ordinary file that `file` names, not through a link; nothing when there is none.
std::optional<struct stat> replacedFile(const std::filesystem::path& file) {
    struct stat status {};
    if (::lstat(file.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return std::nullopt;
    }
    return status;
}

// Gives the new file the group and the permissions of the file it replaces. Both are best
// efforts (a user can give a file only a group they belong to; some file systems refuse modes
// they cannot store): where the group cannot be kept, the group's permissions are not given to
// another group.
void takeOver(int fd, const struct stat& replaced) {
    mode_t mode = replaced.st_mode & 0777;
    struct stat created {};
    if (::fstat(fd, &created) == 0 && created.st_gid != replaced.st_gid &&
        ::fchown(fd, static_cast<uid_t>(-1), replaced.st_gid) != 0) {
        mode &= ~static_cast<mode_t>(S_IRWXG);
    }
    (void)::fchmod(fd, mode);
}

// Creates a temporary file beside `file` that did not exist before; its descriptor. The file is
// private while it replaces an existing one, whose permissions it then takes over.
int createTemporary(const std::filesystem::path& file, std::filesystem::path& temporary,
                    bool replacing, const FileCalls& calls) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        temporary = temporaryFor(file, calls.temporarySuffix());
        const int fd =
            calls.open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                       replacing ? 0600 : 0644);
        if (fd >= 0) {
            return fd;
        }
        if (errno != EEXIST) {
            fail("cannot create " + quoted(temporary));
        }
    }
    fail("cannot create a temporary file beside " + quoted(file), EEXIST);
}

void writeAndFlush(int fd, const std::filesystem::path& temporary, std::string_view bytes,
                   const FileCalls& calls) {
    const auto closeAndFail = [&](const std::string& step, int error) {
        calls.close(fd);
        fail(step, error);
    };
    std::size_t done = 0;
    while (done < bytes.size()) {
        const long n = calls.write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            // A write that takes nothing is a full disk.
            closeAndFail("cannot write " + quoted(temporary), n == 0 ? ENOSPC : errno);
        }
        done += static_cast<std::size_t>(n);
    }
    if (calls.fsync(fd) != 0) {
        closeAndFail("cannot flush " + quoted(temporary) + " to the disk", errno);
    }
    if (calls.close(fd) != 0) {
        fail("cannot close " + quoted(temporary));
    }
}

void replace(const std::filesystem::path& temporary, const std::filesystem::path& file,
             const FileCalls& calls) {
    // rename() replaces the name itself: a link at `file` is replaced, not written through.
    if (calls.rename(temporary.c_str(), file.c_str()) != 0) {
        fail("cannot replace " + quoted(file));
    }
    // Make the rename itself durable; a folder that cannot be synced is no reason to fail.
    const int dir = ::open(folderOf(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

}  // namespace

const FileCalls& systemFileCalls() {
    static const FileCalls calls{
        [](const char* path, int flags, unsigned mode) { return ::open(path, flags, mode); },
        [](int fd, const void* data, unsigned long size) {
            return static_cast<long>(::write(fd, data, size));
        },
        ::fsync,
        ::close,
        ::rename,
        randomSuffix};
    return calls;
}

void writeFileAtomically(const std::filesystem::path& file, std::string_view bytes) {
    writeFileAtomically(file, bytes, systemFileCalls());
}

void writeFileAtomically(const std::filesystem::path& file, std::string_view bytes,
                         const FileCalls& calls) {
    removeLeftovers(file);
    const std::optional<struct stat> replaced = replacedFile(file);
    std::filesystem::path temporary;
    const int fd = createTemporary(file, temporary, replaced.has_value(), calls);
    if (replaced) {
        takeOver(fd, *replaced);
    }
    throughTemporary(temporary, [&] {
        writeAndFlush(fd, temporary, bytes, calls);
        replace(temporary, file, calls);
    });
}

#endif

}  // namespace hushwell
