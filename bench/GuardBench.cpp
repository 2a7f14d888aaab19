// The crash guard: how soon the Up level is back after the program is killed outright while a
// pair holds the volume down, and what the guard costs while it waits.
//
// Usage: guard_bench HUSHWELL [runs, default 10] [seconds the guard waits, default 10]
// Runs under the X server that DISPLAY names against the PulseAudio server of PULSE_SERVER, whose
// sink "speakers" is the default (scripts/bench.sh sets both up).

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

#include "AdoptedChildren.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr long kDown = 20 * 655;
constexpr long kUp = 100 * 655;

std::string output(const std::string& command) {
    std::string text;
    if (std::FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
            text += buffer;
        }
        pclose(pipe);
    }
    return text;
}

long frontLeft() {
    const std::string text = output("pactl get-sink-volume speakers 2>/dev/null");
    const std::size_t colon = text.find("front-left:");
    return colon == std::string::npos ? -1 : std::strtol(text.c_str() + colon + 11, nullptr, 10);
}

// How long until the sink holds `value`, polled every 2 ms; empty after 5 s.
std::optional<double> timeUntil(long value) {
    const auto start = Clock::now();
    while (Clock::now() - start < 5s) {
        if (frontLeft() == value) {
            return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        }
        std::this_thread::sleep_for(2ms);
    }
    return std::nullopt;
}

// A field of /proc/PID/status in kB, such as VmHWM (peak resident memory).
long statusKb(pid_t pid, const std::string& field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field + ":", 0) == 0) {
            return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
        }
    }
    return -1;
}

// The CPU time the process has used, in ms.
double cpuMs(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), {});
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string skip;
    for (int i = 0; i < 11; ++i) {
        fields >> skip;
    }
    double user = 0;
    double system = 0;
    fields >> user >> system;
    return (user + system) * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The guard: the process named "hushwell guard" whose parent is this bench (it reparents here).
pid_t findGuard(pid_t program) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const pid_t pid = std::atoi(entry.path().filename().c_str());
        if (pid <= 0 || pid == program) {
            continue;
        }
        std::ifstream in(entry.path() / "stat");
        std::string stat((std::istreambuf_iterator<char>(in)), {});
        const std::size_t close = stat.rfind(')');
        if (close == std::string::npos || stat.find("(hushwell guard)") == std::string::npos) {
            continue;
        }
        std::istringstream fields(stat.substr(close + 2));
        std::string state;
        pid_t parent = 0;
        fields >> state >> parent;
        if (parent == getpid()) {
            return pid;
        }
    }
    return -1;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s HUSHWELL [runs] [seconds]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 2 ? std::atoi(argv[2]) : 10;
    const int seconds = argc > 3 ? std::atoi(argv[3]) : 10;
    // The guard leaves its parent at once; it becomes this bench's child, to measure and reap.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    const auto folder = std::filesystem::temp_directory_path() / "hushwell-guard-bench";
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(argv[1], folder / "hushwell",
                               std::filesystem::copy_options::overwrite_existing);
    // Pair 1 holds the volume down at every time of the hour.
    std::ofstream(folder / "Hushwell_setup.txt", std::ios::binary)
        << "20,100\r\n,,,,,,,\r\n60:00,,,,,,,\r\n 1 , 0 , 0 , 0 , 0 , 0 , 0 , 0 \r\n";

    std::vector<double> restored;
    std::vector<double> guardPeakKb;
    std::vector<double> guardCpuMs;
    for (int run = 0; run < runs; ++run) {
        std::system("pactl set-sink-volume speakers 30000");
        const std::string exe = (folder / "hushwell").string();
        char* args[] = {const_cast<char*>(exe.c_str()), nullptr};
        const pid_t program = fork();
        if (program == 0) {
            freopen("/dev/null", "w", stderr);
            execve(args[0], args, environ);
            _exit(127);
        }
        if (!timeUntil(kDown)) {
            std::fprintf(stderr, "run %d: the volume never went down\n", run);
            kill(program, SIGKILL);
            waitpid(program, nullptr, 0);
            continue;
        }
        const pid_t guard = findGuard(program);
        const double cpuBefore = guard > 0 ? cpuMs(guard) : 0;
        if (run == 0) {
            std::this_thread::sleep_for(std::chrono::seconds(seconds));  // the guard waits
            guardCpuMs.push_back(guard > 0 ? cpuMs(guard) - cpuBefore : -1);
        }
        guardPeakKb.push_back(static_cast<double>(guard > 0 ? statusKb(guard, "VmHWM") : -1));
        kill(program, SIGKILL);
        waitpid(program, nullptr, 0);
        if (const auto ms = timeUntil(kUp)) {
            restored.push_back(*ms);
        } else {
            std::fprintf(stderr, "run %d: the Up level never came back\n", run);
        }
        if (guard > 0 && !hushwell::bench::reap(guard, 10s)) {
            std::fprintf(stderr, "run %d: the guard did not end after its work\n", run);
        }
    }
    std::filesystem::remove_all(folder);
    hushwell::bench::endAdoptedChildren();
    if (restored.empty()) {
        return 1;
    }
    std::printf("%zu kills while the volume was down\n", restored.size());
    std::printf("SIGKILL to the Up level on the sink: median %.1f ms, max %.1f ms (target 1000)\n",
                median(restored), *std::max_element(restored.begin(), restored.end()));
    std::printf("guard peak resident memory: median %.1f MiB\n", median(guardPeakKb) / 1024.0);
    if (!guardCpuMs.empty()) {
        std::printf("guard CPU while waiting %d s: %.1f ms\n", seconds, guardCpuMs[0]);
    }
    return 0;
}
