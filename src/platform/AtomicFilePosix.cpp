#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/AtomicFile.h"
#include "platform/SystemError.h"
#include "platform/TemporaryFile.h"

namespace hushwell {
namespace {

using namespace atomic_file;

[[noreturn]] void fail(const std::string& step, int error = errno) {
    throw std::runtime_error(step + ": " + errnoText(error));
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

bool removeFile(const std::filesystem::path& file) {
    return ::unlink(file.c_str()) == 0 || errno == ENOENT;
}

}  // namespace hushwell
