#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "e2e/Schedules.h"
#include "support/AudioSandbox.h"
#include "support/Fakes.h"

// What the end-to-end tests watch while the program runs: the sink's volume over time, and the
// guard process.
namespace hushwell::testing {

// How long until every channel of `sink` holds a value `good` takes, polled every 10 ms for up
// to `limit`; empty if it never did.
inline std::optional<std::chrono::milliseconds> timeUntil(
    const std::string& sink, const std::function<bool(long)>& good,
    std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    using Steady = std::chrono::steady_clock;
    const auto start = Steady::now();
    while (Steady::now() - start < limit) {
        const Volumes volumes = sinkVolumes(sink);
        if (!volumes.empty() && std::all_of(volumes.begin(), volumes.end(), good)) {
            return std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - start);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::nullopt;
}

inline std::optional<std::chrono::milliseconds> timeUntil(
    const std::string& sink, long value,
    std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    return timeUntil(
        sink, [value](long v) { return v == value; }, limit);
}

// Polls until `file` holds `text`, for a few seconds at most; whether it did.
inline bool waitForFileHolding(const std::filesystem::path& file, const std::string& text) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (std::filesystem::exists(file) && readFile(file).find(text) != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// The held record in the state folder `folder` (named for the sound server it belongs to), once
// it holds `text`; none after 5 s.
inline std::optional<std::filesystem::path> waitForRecordHolding(
    const std::filesystem::path& folder, const std::string& text) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("held-", 0) != 0 || name.find('.') != std::string::npos) {
                continue;  // not a record, or one being written
            }
            try {
                if (readFile(entry.path()).find(text) != std::string::npos) {
                    return entry.path();
                }
            } catch (const std::exception&) {
                // replaced while it was read: read again
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return std::nullopt;
}

// The names of the held records in `folder`, of any server and of versions before the servers.
inline std::vector<std::string> heldRecordsIn(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.path().filename().string().rfind("held", 0) == 0) {
            names.push_back(entry.path().filename().string());
        }
    }
    return names;
}

// The living process named "hushwell guard" that this test adopted (it must be the children's
// subreaper before the program starts), other than `besides`; -1 if there is none.
inline pid_t adoptedGuard(pid_t besides = -1) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string pid = entry.path().filename();
        if (pid.find_first_not_of("0123456789") != std::string::npos || std::stoi(pid) == besides) {
            continue;
        }
        // A process that ends while its stat is read fails the read (ESRCH), which the stream
        // throws: it is no guard any more.
        std::string stat;
        try {
            std::ifstream in(entry.path() / "stat");
            stat.assign(std::istreambuf_iterator<char>(in), {});
        } catch (const std::exception&) {
            continue;
        }
        const std::size_t name = stat.find(" (hushwell guard) ");
        if (name == std::string::npos) {
            continue;
        }
        char state = 0;
        int parent = 0;
        if (std::sscanf(stat.c_str() + name + 18, "%c %d", &state, &parent) == 2 && state != 'Z' &&
            parent == getpid()) {
            return std::stoi(pid);
        }
    }
    return -1;
}

// Ends every guard this test adopted.
inline void killAdoptedGuards() {
    for (pid_t guard = adoptedGuard(); guard > 0; guard = adoptedGuard()) {
        kill(guard, SIGKILL);
        waitpid(guard, nullptr, 0);
    }
}

}  // namespace hushwell::testing
