#include "support/ExecutableCopy.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "support/Fakes.h"

namespace hushwell::testing {
namespace {

// Runs `program` and waits for it: its exit status, or 1000 + errno when it could not be run.
int runOnce(const std::filesystem::path& program) {
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
        return -1;
    }
    const pid_t child = fork();
    if (child == 0) {
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        const int error = errno;
        (void)!write(pipeEnds[1], &error, sizeof error);
        _exit(127);
    }
    close(pipeEnds[1]);
    int error = 0;
    const bool failed = read(pipeEnds[0], &error, sizeof error) == sizeof error;
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return failed ? 1000 + error : WEXITSTATUS(status);
}

// Each copy runs at once while another thread keeps starting programs that live on a while: none
// of them holds the copy open for writing.
TEST(ExecutableCopy, RunsAtOnceWhileOtherThreadsStartPrograms) {
    TempDir dir;
    std::atomic<bool> starting{true};
    std::thread starter([&starting] {
        std::vector<pid_t> living;
        while (starting) {
            const pid_t child = fork();
            if (child == 0) {
                execl("/bin/sleep", "sleep", "0.02", static_cast<char*>(nullptr));
                _exit(127);
            }
            living.push_back(child);
            std::erase_if(living, [](pid_t pid) { return waitpid(pid, nullptr, WNOHANG) != 0; });
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        for (const pid_t pid : living) {
            waitpid(pid, nullptr, 0);
        }
    });
    int busy = 0;
    for (int round = 0; round < 300; ++round) {
        const auto copy = dir.path() / ("true-" + std::to_string(round));
        copyExecutable("/bin/true", copy);
        const int result = runOnce(copy);
        busy += result == 1000 + ETXTBSY ? 1 : 0;
        EXPECT_TRUE(result == 0 || result == 1000 + ETXTBSY) << round << ": " << result;
    }
    starting = false;
    starter.join();
    EXPECT_EQ(busy, 0) << "copies that could not run: text file busy";
}

}  // namespace
}  // namespace hushwell::testing
