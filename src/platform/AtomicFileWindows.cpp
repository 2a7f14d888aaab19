#include <windows.h>
// After windows.h, which it needs.
#include <aclapi.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/AtomicFile.h"
#include "platform/PatientRetry.h"
#include "platform/SystemError.h"
#include "platform/TemporaryFile.h"

namespace hushwell {
namespace {

using namespace atomic_file;

[[noreturn]] void fail(const std::string& step, DWORD error = GetLastError()) {
    throw std::runtime_error(step + ": " + windowsErrorText(error));
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

// Whether a refusal is one that passes: an antivirus or indexer that has just opened the file
// (without sharing its deletion) refuses a rename or a deletion for a moment.
bool passes(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
}

// Renames `temporary` over `file`, tried again for about a second while refused for a moment.
void replaceWith(const std::filesystem::path& temporary, const std::filesystem::path& file) {
    const DWORD error = tryPatiently<DWORD>(
        [&] {
            return MoveFileExW(temporary.c_str(), file.c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
                       ? DWORD{ERROR_SUCCESS}
                       : GetLastError();
        },
        passes);
    if (error != ERROR_SUCCESS) {
        fail("cannot replace " + quoted(file), error);
    }
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
        replaceWith(temporary, file);
    });
}

bool removeFile(const std::filesystem::path& file) {
    const DWORD error = tryPatiently<DWORD>(
        [&] { return DeleteFileW(file.c_str()) ? DWORD{ERROR_SUCCESS} : GetLastError(); }, passes);
    return error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

}  // namespace hushwell
