#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace hushwell::testing {

// A private X server (Xvfb) for the whole test program; DISPLAY points at it.
class DisplaySandbox {
public:
    static DisplaySandbox& instance();
    ~DisplaySandbox();
    DisplaySandbox(const DisplaySandbox&) = delete;
    DisplaySandbox& operator=(const DisplaySandbox&) = delete;
    [[nodiscard]] const std::string& display() const { return m_display; }

private:
    DisplaySandbox();
    pid_t m_pid = -1;
    std::string m_display;
};

// The hushwell program, started from a copy in its own folder (where its settings file lives)
// with the test program's environment plus `environment` ("NAME=value"). Its standard error goes
// to the file "log" in that folder. A DISPLAY among `environment` is the X server its windows are
// looked for on; else the test program's.
class Program {
public:
    Program(const std::filesystem::path& folder, const std::vector<std::string>& environment = {});
    // `command` instead of a copy of the program, its standard error to `folder`/log.
    Program(const std::filesystem::path& folder, const std::vector<std::string>& command,
            const std::vector<std::string>& environment);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Waits for the main window to be shown; its X window id, 0 if it never came.
    unsigned long waitForWindow();
    // Waits for a message box of the program; its X window id, 0 if none came.
    unsigned long waitForMessageBox();
    // The main window's title.
    [[nodiscard]] std::string title() const;
    // Asks the window to close, as the window manager's close button does.
    void close();
    // Sends a signal to the process.
    void signal(int number);
    // Waits for the process to end; its exit status, or -1 if it did not end in time.
    int wait();
    [[nodiscard]] bool running();
    [[nodiscard]] std::string log() const;

private:
    unsigned long waitFor(bool main);

    std::filesystem::path m_folder;
    std::string m_display;  // empty: the test program's DISPLAY
    pid_t m_pid = -1;
    unsigned long m_window = 0;
};

}  // namespace hushwell::testing
