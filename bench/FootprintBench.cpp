// Start-up time (process start to its window mapped on the X server) and peak resident memory of
// Hushwell against an empty Qt Widgets window, measured alternately.
//
// Usage: footprint_bench HUSHWELL EMPTY_WINDOW [runs, default 10]
// Runs under the X server that DISPLAY names; Hushwell should reach an audio server
// (PULSE_SERVER), or it waits in its "Couldn't open the mixer." message box.

#include <X11/Xlib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

#include "AdoptedChildren.h"

namespace {

using Clock = std::chrono::steady_clock;

bool windowMapped(Display* display, const char* const* names) {
    Window root = DefaultRootWindow(display);
    Window parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    bool found = false;
    if (XQueryTree(display, root, &root, &parent, &children, &count) == 0) {
        return false;
    }
    for (unsigned i = 0; i < count && !found; ++i) {
        char* name = nullptr;
        XWindowAttributes attributes{};
        if (XFetchName(display, children[i], &name) != 0 && name != nullptr) {
            for (const char* const* wanted = names; *wanted != nullptr; ++wanted) {
                found = found || std::strcmp(name, *wanted) == 0;
            }
            XFree(name);
            found = found && XGetWindowAttributes(display, children[i], &attributes) != 0 &&
                    attributes.map_state == IsViewable && attributes.width >= 500;
        }
    }
    XFree(children);
    return found;
}

// A process's resident memory now, in MiB: all of it, and the part no other process shares.
struct Memory {
    double residentMiB = 0;
    double ownMiB = 0;
};

Memory memoryOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/smaps_rollup");
    Memory memory;
    std::string line;
    while (std::getline(in, line)) {
        const double mib = std::strtod(line.c_str() + line.find(':') + 1, nullptr) / 1024.0;
        if (line.rfind("Rss:", 0) == 0) {
            memory.residentMiB = mib;
        } else if (line.rfind("Private_Clean:", 0) == 0 || line.rfind("Private_Dirty:", 0) == 0) {
            memory.ownMiB += mib;
        }
    }
    return memory;
}

// Hushwell's guard among this process's children, or -1.
pid_t guardChild() {
    for (const pid_t child : hushwell::bench::children()) {
        std::ifstream comm("/proc/" + std::to_string(child) + "/comm");
        std::string name;
        if (std::getline(comm, name) && name == "hushwell guard") {
            return child;
        }
    }
    return -1;
}

struct Run {
    double startMs;
    double peakRssMiB;
    Memory guard;
};

Run measure(Display* display, const char* program, const char* const* names) {
    char* argv[] = {const_cast<char*>(program), nullptr};
    pid_t pid = -1;
    const auto start = Clock::now();
    if (posix_spawn(&pid, program, nullptr, nullptr, argv, environ) != 0) {
        std::perror(program);
        std::exit(1);
    }
    while (!windowMapped(display, names)) {
        std::this_thread::sleep_for(std::chrono::microseconds(500));
        if (Clock::now() - start > std::chrono::seconds(20)) {
            std::fprintf(stderr, "%s showed no window\n", program);
            break;
        }
    }
    const double startMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // let it settle
    // Hushwell's guard process, which became this bench's child when it left its parent: what
    // it adds is its own memory; the pages it shares with the program are the program's.
    const pid_t guard = guardChild();
    const Memory guardMemory = guard > 0 ? memoryOf(guard) : Memory{};
    kill(pid, SIGKILL);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    if (guard > 0 && !hushwell::bench::reap(guard, std::chrono::seconds(5))) {
        std::fprintf(stderr, "the guard did not end with the program\n");
    }
    return {startMs, static_cast<double>(usage.ru_maxrss) / 1024.0, guardMemory};
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s HUSHWELL EMPTY_WINDOW [runs]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 3 ? std::atoi(argv[3]) : 10;
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    // A window may be gone between listing it and asking for its name: no reason to end.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "no X server: set DISPLAY\n");
        return 1;
    }
    const char* hushwellNames[] = {"Hushwell", "UP", "DOWN", nullptr};
    const char* emptyNames[] = {"Empty", nullptr};
    std::vector<double> hushwellStart, hushwellRss, emptyStart, emptyRss, guardRss, guardOwn;
    for (int i = 0; i < runs; ++i) {
        const Run h = measure(display, argv[1], hushwellNames);
        const Run e = measure(display, argv[2], emptyNames);
        hushwellStart.push_back(h.startMs);
        hushwellRss.push_back(h.peakRssMiB + h.guard.ownMiB);
        guardRss.push_back(h.guard.residentMiB);
        guardOwn.push_back(h.guard.ownMiB);
        emptyStart.push_back(e.startMs);
        emptyRss.push_back(e.peakRssMiB);
    }
    std::printf("%d runs each, alternately; medians\n", runs);
    std::printf("start to window shown: Hushwell %.1f ms, empty window %.1f ms, ratio %.2f\n",
                median(hushwellStart), median(emptyStart),
                median(hushwellStart) / median(emptyStart));
    std::printf(
        "peak resident memory:  Hushwell %.1f MiB (with its guard's own), empty window "
        "%.1f MiB, ratio %.2f\n",
        median(hushwellRss), median(emptyRss), median(hushwellRss) / median(emptyRss));
    std::printf(
        "guard: resident %.1f MiB, of which its own (not shared with the program) %.2f MiB\n",
        median(guardRss), median(guardOwn));
    std::printf("targets: start-up ratio <= 1.2, memory ratio <= 1.15\n");
    XCloseDisplay(display);
    hushwell::bench::endAdoptedChildren();
    return 0;
}
