#include "settings/AtomicFile.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "engine/Numbers.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>

#include <cstdio>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace hushwell {
namespace {

[[noreturn]] void fail(const std::string& step) {
    throw RunTimeError(step + ": " + std::strerror(errno));
}

std::filesystem::path temporaryFor(const std::filesystem::path& file) {
#ifdef _WIN32
    const unsigned long id = GetCurrentProcessId();
#else
    const long id = static_cast<long>(getpid());
#endif
    std::filesystem::path temporary = file;
    temporary += ".tmp-" + std::to_string(id);
    return temporary;
}

// Runs `steps` on the temporary file beside `file`, which is removed again if they fail.
template <typename Steps>
void throughTemporary(const std::filesystem::path& file, Steps steps) {
    const std::filesystem::path temporary = temporaryFor(file);
    try {
        steps(temporary);
    } catch (...) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        throw;
    }
}

#ifdef _WIN32

void writeAndFlush(const std::filesystem::path& temporary, std::string_view bytes) {
    std::FILE* out = _wfopen(temporary.c_str(), L"wb");
    if (out == nullptr) {
        fail("cannot create \"" + temporary.string() + "\"");
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    const bool flushed = written && std::fflush(out) == 0 && _commit(_fileno(out)) == 0;
    const int savedErrno = errno;
    const bool closed = std::fclose(out) == 0;
    errno = savedErrno;
    if (!written) {
        fail("cannot write \"" + temporary.string() + "\"");
    }
    if (!flushed || !closed) {
        fail("cannot flush \"" + temporary.string() + "\" to the disk");
    }
}

void replace(const std::filesystem::path& temporary, const std::filesystem::path& file) {
    if (!MoveFileExW(temporary.c_str(), file.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        errno = EACCES;
        fail("cannot replace \"" + file.string() + "\"");
    }
}

#else

void writeAndFlush(const std::filesystem::path& temporary, std::string_view bytes,
                   const FileCalls& calls) {
    const int fd = calls.open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        fail("cannot create \"" + temporary.string() + "\"");
    }
    const auto closeAndFail = [&](const std::string& step, int error) {
        calls.close(fd);
        errno = error;
        fail(step);
    };
    std::size_t done = 0;
    while (done < bytes.size()) {
        const long n = calls.write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            // A write that takes nothing is a full disk.
            closeAndFail("cannot write \"" + temporary.string() + "\"", n == 0 ? ENOSPC : errno);
        }
        done += static_cast<std::size_t>(n);
    }
    if (calls.fsync(fd) != 0) {
        closeAndFail("cannot flush \"" + temporary.string() + "\" to the disk", errno);
    }
    if (calls.close(fd) != 0) {
        fail("cannot close \"" + temporary.string() + "\"");
    }
}

void replace(const std::filesystem::path& temporary, const std::filesystem::path& file,
             const FileCalls& calls) {
    if (calls.rename(temporary.c_str(), file.c_str()) != 0) {
        fail("cannot replace \"" + file.string() + "\"");
    }
    // Make the rename itself durable; a folder that cannot be synced is no reason to fail.
    const int dir = ::open(file.parent_path().empty() ? "." : file.parent_path().c_str(),
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

#endif

}  // namespace

#ifdef _WIN32

void writeFileAtomically(const std::filesystem::path& file, std::string_view bytes) {
    throughTemporary(file, [&](const std::filesystem::path& temporary) {
        writeAndFlush(temporary, bytes);
        replace(temporary, file);
    });
}

#else

const FileCalls& systemFileCalls() {
    static const FileCalls calls{
        [](const char* path, int flags, unsigned mode) { return ::open(path, flags, mode); },
        [](int fd, const void* data, unsigned long size) {
            return static_cast<long>(::write(fd, data, size));
        },
        ::fsync, ::close, ::rename};
    return calls;
}

void writeFileAtomically(const std::filesystem::path& file, std::string_view bytes) {
    writeFileAtomically(file, bytes, systemFileCalls());
}

void writeFileAtomically(const std::filesystem::path& file, std::string_view bytes,
                         const FileCalls& calls) {
    throughTemporary(file, [&](const std::filesystem::path& temporary) {
        writeAndFlush(temporary, bytes, calls);
        replace(temporary, file, calls);
    });
}

#endif

}  // namespace hushwell
