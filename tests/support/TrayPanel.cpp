#include "support/TrayPanel.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>
#include <vector>

#include "support/DisplaySandbox.h"

extern char** environ;

namespace hushwell::testing {
namespace {

using namespace std::chrono_literals;

bool trayOwned() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return false;
    }
    const Atom selection = XInternAtom(display, "_NET_SYSTEM_TRAY_S0", False);
    const bool owned = XGetSelectionOwner(display, selection) != 0;
    XCloseDisplay(display);
    return owned;
}

}  // namespace

TrayPanel::TrayPanel(const std::string& tint) : m_tint(tint) {
    DisplaySandbox::instance();
    start();
}

TrayPanel::~TrayPanel() {
    stop();
}

void TrayPanel::start() {
    std::string tint = m_tint;
    std::vector<std::string> arguments{"trayer", "--edge",        "top",     "--align",
                                       "right",  "--widthtype",   "request", "--heighttype",
                                       "pixel",  "--height",      "32",      "--transparent",
                                       "true",   "--alpha",       "0",       "--tint",
                                       tint,     "--SetDockType", "false"};
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawnp(&m_pid, "trayer", &actions, nullptr, argv.data(), environ) != 0) {
        m_pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    for (int attempt = 0; attempt < 200 && m_pid > 0 && !m_ready; ++attempt) {
        m_ready = trayOwned();
        if (!m_ready) {
            std::this_thread::sleep_for(25ms);
        }
    }
}

void TrayPanel::stop() {
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
    m_pid = -1;
    m_ready = false;
}

bool TrayPanel::docked(unsigned long window) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return false;
    }
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    XWindowAttributes attributes{};
    const bool found = XQueryTree(display, window, &root, &parent, &children, &count) != 0;
    if (children != nullptr) {
        XFree(children);
    }
    const bool docked = found && parent != root &&
                        XGetWindowAttributes(display, window, &attributes) != 0 &&
                        attributes.map_state == IsViewable && attributes.width > 0;
    XCloseDisplay(display);
    return docked;
}

}  // namespace hushwell::testing
