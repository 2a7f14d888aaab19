#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include "platform/RegularFile.h"
#include "platform/SystemError.h"

namespace hushwell {
namespace {

class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0) {
            ::_close(m_fd);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    [[nodiscard]] int get() const { return m_fd; }

private:
    int m_fd;
};

std::runtime_error systemError() {
    return std::runtime_error(errnoText(errno));
}

}  // namespace

std::string readRegularFile(const std::filesystem::path& file, std::size_t maxBytes) {
    const Descriptor fd(::_wopen(file.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT));
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
    const std::string tooLarge = "it is larger than " + sizeText(maxBytes);
    if (static_cast<unsigned long long>(status.st_size) > maxBytes) {
        throw std::runtime_error(tooLarge);
    }
    std::string bytes(static_cast<std::size_t>(status.st_size) + 1, '\0');
    std::size_t length = 0;
    for (;;) {
        if (length == bytes.size()) {
            if (length > maxBytes) {
                throw std::runtime_error(tooLarge);
            }
            bytes.resize(std::min(bytes.size() * 2, maxBytes + 1));
        }
        const int got =
            ::_read(fd.get(), bytes.data() + length,
                    static_cast<unsigned>(std::min<std::size_t>(bytes.size() - length, 1U << 30)));
        if (got < 0) {
            throw systemError();
        }
        if (got == 0) {
            break;
        }
        length += static_cast<std::size_t>(got);
    }
    if (length > maxBytes) {
        throw std::runtime_error(tooLarge);
    }
    bytes.resize(length);
    return bytes;
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
