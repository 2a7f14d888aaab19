#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include "platform/CappedRead.h"

namespace hushwell {

using namespace capped_read;

std::string readRegularFile(const std::filesystem::path& file, std::size_t maxBytes) {
    const Descriptor fd(::_wopen(file.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT), ::_close);
    if (fd.get() < 0) {
        // Windows opens no folder as a file: it refuses with "permission denied".
        std::error_code ignored;
        if (errno == EACCES && std::filesystem::is_directory(file, ignored)) {
            throw std::runtime_error("it is a folder");
        }
        throw systemError();
    }
    struct _stat64 status {};
    if (::_fstat64(fd.get(), &status) != 0) {
        throw systemError();
    }
    if ((status.st_mode & _S_IFMT) == _S_IFCHR) {
        throw std::runtime_error("it is a device, not a file");
    }
    if ((status.st_mode & _S_IFMT) != _S_IFREG) {
        throw std::runtime_error("it is not an ordinary file");
    }
    return readUpTo(
        static_cast<std::uintmax_t>(status.st_size), maxBytes, [&](char* into, std::size_t room) {
            return ::_read(fd.get(), into,
                           static_cast<unsigned>(std::min<std::size_t>(room, 1U << 30)));
        });
}

bool ordinaryFileExists(const std::filesystem::path& file) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) {
        return false;
    }
    const DWORD attributes = GetFileAttributesW(file.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) == 0;
}

}  // namespace hushwell
