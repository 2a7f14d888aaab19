#include "support/ExecutableCopy.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <stdexcept>
#include <string>

namespace hushwell::testing {
namespace {

// The child's whole work, in calls that are safe after a fork of a process with threads.
int copyInChild(const char* from, const char* to) {
    const int source = open(from, O_RDONLY | O_CLOEXEC);
    const int target = open(to, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0755);
    if (source < 0 || target < 0) {
        return 1;
    }
    std::array<char, 65536> buffer{};
    for (;;) {
        const ssize_t got = read(source, buffer.data(), buffer.size());
        if (got == 0) {
            break;
        }
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return 1;
        }
        for (ssize_t written = 0; written < got;) {
            const ssize_t put =
                write(target, buffer.data() + written, static_cast<std::size_t>(got - written));
            if (put < 0 && errno != EINTR) {
                return 1;
            }
            written += put > 0 ? put : 0;
        }
    }
    return close(target) == 0 ? 0 : 1;
}

}  // namespace

void copyExecutable(const std::filesystem::path& from, const std::filesystem::path& to) {
    const std::string source = from.string();
    const std::string target = to.string();
    const pid_t child = fork();
    if (child < 0) {
        throw std::runtime_error("cannot fork to copy " + source);
    }
    if (child == 0) {
        _exit(copyInChild(source.c_str(), target.c_str()));
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            throw std::runtime_error("lost the copy of " + source);
        }
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error("cannot copy " + source + " to " + target);
    }
}

}  // namespace hushwell::testing
