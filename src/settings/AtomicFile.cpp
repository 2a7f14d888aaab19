#include "settings/AtomicFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>

#include "settings/PathText.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace hushwell {
namespace {

// Attempts at a fresh temporary name before the save gives up; a clash at all is suspicious.
constexpr int kNameAttempts = 16;

std::string randomSuffix() {
    static std::mt19937_64 generator{std::random_device{}()};
    char suffix[17];
    std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(generator()));
    return suffix;
}

std::filesystem::path temporaryFor(std::filesystem::path file, const std::string& suffix) {
    return file += ".tmp-" + suffix;
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

}  // namespace

void writeFileAtomically(const std::filesystem::path& file, std::string_view bytes) {
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

// Creates a temporary file beside `file` that did not exist before; its descriptor.
int createTemporary(const std::filesystem::path& file, std::filesystem::path& temporary,
                    const FileCalls& calls) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        temporary = temporaryFor(file, calls.temporarySuffix());
        const int fd = calls.open(temporary.c_str(),
                                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
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
    const int dir = ::open(file.parent_path().empty() ? "." : file.parent_path().c_str(),
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC);
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
    std::filesystem::path temporary;
    const int fd = createTemporary(file, temporary, calls);
    throughTemporary(temporary, [&] {
        writeAndFlush(fd, temporary, bytes, calls);
        replace(temporary, file, calls);
    });
}

#endif

}  // namespace hushwell
