#pragma once

// The benchmarks make themselves their programs' subreaper, so that Hushwell's guard, which leaves
// its parent, becomes their child to measure and reap. Whatever else the programs leave behind is
// adopted too (a D-Bus session daemon that Qt starts where there is no session bus, say) and may
// never end on its own: a bench waits only for the processes it knows, and ends the rest with
// this before it exits.

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace hushwell::bench {

// This process's children now.
inline std::vector<pid_t> children() {
    std::ifstream in("/proc/self/task/" + std::to_string(getpid()) + "/children");
    std::vector<pid_t> pids;
    pid_t pid = 0;
    while (in >> pid) {
        pids.push_back(pid);
    }
    return pids;
}

// Waits up to `patience` for `pid` to end; true when it did and was reaped.
inline bool reap(pid_t pid, std::chrono::milliseconds patience) {
    const auto until = std::chrono::steady_clock::now() + patience;
    while (waitpid(pid, nullptr, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Ends every child left: SIGTERM, a second to go, then SIGKILL; reaps them all.
inline void endAdoptedChildren() {
    for (const pid_t pid : children()) {
        kill(pid, SIGTERM);
        if (!reap(pid, std::chrono::seconds(1))) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
}

}  // namespace hushwell::bench
