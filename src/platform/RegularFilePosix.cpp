#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
            ::close(m_fd);
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

const char* notOrdinary(mode_t mode) {
    if (S_ISDIR(mode)) {
        return "it is a folder";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "it is a device, not a file";
    }
    if (S_ISFIFO(mode)) {
        return "it is a pipe, not a file";
    }
    if (S_ISSOCK(mode)) {
        return "it is a socket, not a file";
    }
    return S_ISREG(mode) ? nullptr : "it is not an ordinary file";
}

}  // namespace

std::string readRegularFile(const std::filesystem::path& file, std::size_t maxBytes) {
    // Not blocking: opening a pipe would otherwise wait for a writer that may never come.
    const Descriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0) {
        throw systemError();
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) {
        throw systemError();
    }
    if (const char* why = notOrdinary(status.st_mode)) {
        throw std::runtime_error(why);
    }
    const std::string tooLarge = "it is larger than " + sizeText(maxBytes);
    if (static_cast<std::uintmax_t>(status.st_size) > maxBytes) {
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
        const ssize_t got = ::read(fd.get(), bytes.data() + length, bytes.size() - length);
        if (got < 0 && errno == EINTR) {
            continue;
        }
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
    return std::filesystem::is_regular_file(file, error);
}

}  // namespace hushwell
