#pragma once

// What RegularFilePosix.cpp and RegularFileWindows.cpp share: the descriptor closed on leaving,
// and the read up to the cap.

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "platform/RegularFile.h"
#include "platform/SystemError.h"

namespace hushwell::capped_read {

inline std::runtime_error systemError() {
    return std::runtime_error(errnoText(errno));
}

class Descriptor {
public:
    Descriptor(int fd, int (*close)(int)) : m_fd(fd), m_close(close) {}
    ~Descriptor() {
        if (m_fd >= 0) {
            m_close(m_fd);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    [[nodiscard]] int get() const { return m_fd; }

private:
    int m_fd;
    int (*m_close)(int);
};

// The bytes of an ordinary file that its status says is `size` bytes long, read with `readSome`
// (as read(): how many it read, 0 at the end, below 0 with errno set) to the end, but never more
// than `maxBytes`, however the file grows meanwhile.
template <typename ReadSome>
std::string readUpTo(std::uintmax_t size, std::size_t maxBytes, ReadSome readSome) {
    const std::string tooLarge = "it is larger than " + sizeText(maxBytes);
    if (size > maxBytes) {
        throw std::runtime_error(tooLarge);
    }
    std::string bytes(static_cast<std::size_t>(size) + 1, '\0');
    std::size_t length = 0;
    for (;;) {
        if (length == bytes.size()) {
            if (length > maxBytes) {
                throw std::runtime_error(tooLarge);
            }
            bytes.resize(std::min(bytes.size() * 2, maxBytes + 1));
        }
        const auto got = readSome(bytes.data() + length, bytes.size() - length);
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

}  // namespace hushwell::capped_read
