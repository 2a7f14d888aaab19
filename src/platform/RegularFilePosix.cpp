#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/CappedRead.h"

namespace hushwell {
namespace {

using namespace capped_read;

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
    const Descriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK),
                        ::close);
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
    return readUpTo(static_cast<std::uintmax_t>(status.st_size), maxBytes,
                    [&](char* into, std::size_t room) { return ::read(fd.get(), into, room); });
}

bool ordinaryFileExists(const std::filesystem::path& file) {
    std::error_code error;
    return std::filesystem::is_regular_file(file, error);
}

}  // namespace hushwell
