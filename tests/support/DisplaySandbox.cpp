#include "support/DisplaySandbox.h"

#include <gtest/gtest.h>
#include <algorithm>
// After gtest: Xlib defines macros such as None that clash with its names.
#include <X11/Xlib.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "support/ExecutableCopy.h"
#include "support/Fakes.h"

extern char** environ;

namespace hushwell::testing {
namespace {

// A window may be gone between listing it and asking for its name (the program closes a box, or
// ends): Xlib's default handler would end the whole test for that. Errors are ignored; each
// call's result says what it found.
int ignoreXError(Display* /*display*/, XErrorEvent* /*error*/) {
    return 0;
}
const bool kXErrorsIgnored = (XSetErrorHandler(&ignoreXError), true);

using namespace std::chrono_literals;

pid_t spawn(const std::vector<std::string>& arguments, const std::vector<std::string>& extraEnv,
            posix_spawn_file_actions_t* actions = nullptr) {
    // The given variables replace those of the same name.
    const auto overridden = [&extraEnv](const std::string& entry) {
        const std::string name = entry.substr(0, entry.find('=') + 1);
        for (const std::string& extra : extraEnv) {
            if (extra.compare(0, name.size(), name) == 0) {
                return true;
            }
        }
        return false;
    };
    std::vector<std::string> environment = extraEnv;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (!overridden(*entry)) {
            environment.emplace_back(*entry);
        }
    }
    std::vector<char*> argv;
    std::vector<char*> envp;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    for (const std::string& entry : environment) {
        envp.push_back(const_cast<char*>(entry.c_str()));
    }
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], actions, nullptr, argv.data(), envp.data()) != 0) {
        return -1;
    }
    return pid;
}

// The first visible top-level window with one of the names the program gives its windows, and
// the size of its main window (`main`) or another (a message box).
unsigned long findWindow(Display* display, bool main) {
    Window root = DefaultRootWindow(display);
    Window parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    unsigned long found = 0;
    if (XQueryTree(display, root, &root, &parent, &children, &count) == 0) {
        return 0;
    }
    for (unsigned i = 0; i < count && found == 0; ++i) {
        char* name = nullptr;
        XWindowAttributes attributes{};
        if (XFetchName(display, children[i], &name) != 0 && name != nullptr) {
            const std::string title = name;
            XFree(name);
            if ((title == "Hushwell" || title == "UP" || title == "DOWN" ||
                 title == "Waiting for the sound server...") &&
                XGetWindowAttributes(display, children[i], &attributes) != 0 &&
                attributes.map_state == IsViewable &&
                (attributes.width == 516 && attributes.height == 195) == main) {
                found = children[i];
            }
        }
    }
    XFree(children);
    return found;
}

}  // namespace

DisplaySandbox& DisplaySandbox::instance() {
    static DisplaySandbox sandbox;
    return sandbox;
}

DisplaySandbox::DisplaySandbox() {
    // Display numbers from the process id on, so that test programs running side by side take
    // different ones; a number that another server holds makes that Xvfb exit, and the next
    // number is tried.
    for (int attempt = 0; attempt < 20 && m_display.empty(); ++attempt) {
        const int number = 100 + (getpid() + attempt * 37) % 900;
        const std::string display = ":" + std::to_string(number);
        if (std::filesystem::exists("/tmp/.X" + std::to_string(number) + "-lock")) {
            continue;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        m_pid =
            spawn({"Xvfb", display, "-noreset", "-screen", "0", "1280x800x24", "-nolisten", "tcp"},
                  {}, &actions);
        posix_spawn_file_actions_destroy(&actions);
        for (int wait = 0; wait < 100 && m_pid > 0; ++wait) {
            if (waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
                m_pid = -1;
                break;
            }
            if (Display* connection = XOpenDisplay(display.c_str())) {
                XCloseDisplay(connection);
                m_display = display;
                break;
            }
            std::this_thread::sleep_for(50ms);
        }
    }
    if (m_display.empty()) {
        throw std::runtime_error("Xvfb did not start");
    }
    setenv("DISPLAY", m_display.c_str(), 1);
    unsetenv("WAYLAND_DISPLAY");
}

DisplaySandbox::~DisplaySandbox() {
    kill(m_pid, SIGTERM);
    waitpid(m_pid, nullptr, 0);
}

Program::Program(const std::filesystem::path& folder, const std::vector<std::string>& environment)
    : Program(
          folder,
          [&folder] {
              const auto exe = folder / "hushwell";
              copyExecutable(HUSHWELL_PROGRAM, exe);
              return std::vector<std::string>{exe.string()};
          }(),
          environment) {}

Program::Program(const std::filesystem::path& folder, const std::vector<std::string>& command,
                 const std::vector<std::string>& environment)
    : m_folder(folder) {
    for (const std::string& entry : environment) {
        if (entry.rfind("DISPLAY=", 0) == 0) {
            m_display = entry.substr(8);
        }
    }
    if (m_display.empty()) {
        DisplaySandbox::instance();
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string log = (folder / "log").string();
    posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    // The program's record of a held volume stays in its folder, never in the user's home.
    std::vector<std::string> withState = environment;
    if (std::none_of(environment.begin(), environment.end(), [](const std::string& entry) {
            return entry.rfind("XDG_STATE_HOME=", 0) == 0;
        })) {
        withState.push_back("XDG_STATE_HOME=" + (folder / "state").string());
    }
    m_pid = spawn(command, withState, &actions);
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_GT(m_pid, 0);
}

Program::~Program() {
    if (m_pid > 0 && running()) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
}

unsigned long Program::waitFor(bool main) {
    Display* display = XOpenDisplay(m_display.empty() ? nullptr : m_display.c_str());
    if (display == nullptr) {
        return 0;
    }
    unsigned long window = 0;
    // A program under Wine may first have to start Wine's own server: up to 20 s.
    for (int attempt = 0; attempt < 400 && window == 0 && running(); ++attempt) {
        window = findWindow(display, main);
        if (window == 0) {
            std::this_thread::sleep_for(50ms);
        }
    }
    XCloseDisplay(display);
    return window;
}

unsigned long Program::waitForWindow() {
    m_window = waitFor(true);
    return m_window;
}

unsigned long Program::waitForMessageBox() {
    return waitFor(false);
}

void Program::close() {
    Display* display = XOpenDisplay(m_display.empty() ? nullptr : m_display.c_str());
    ASSERT_NE(display, nullptr);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = m_window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, m_window, False, NoEventMask, &event);
    XFlush(display);
    XCloseDisplay(display);
}

std::string Program::title() const {
    Display* display = XOpenDisplay(m_display.empty() ? nullptr : m_display.c_str());
    std::string title;
    char* name = nullptr;
    if (display != nullptr && XFetchName(display, m_window, &name) != 0 && name != nullptr) {
        title = name;
        XFree(name);
    }
    if (display != nullptr) {
        XCloseDisplay(display);
    }
    return title;
}

void Program::signal(int number) {
    kill(m_pid, number);
}

int Program::wait() {
    for (int attempt = 0; attempt < 200; ++attempt) {
        int status = 0;
        const pid_t done = waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid) {
            m_pid = -1;
            return status;
        }
        std::this_thread::sleep_for(50ms);
    }
    return -1;
}

bool Program::running() {
    int status = 0;
    if (m_pid <= 0) {
        return false;
    }
    if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        return false;
    }
    return true;
}

std::string Program::log() const {
    return readFile(m_folder / "log");
}

}  // namespace hushwell::testing
