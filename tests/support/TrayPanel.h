#pragma once

#include <sys/types.h>

#include <string>

namespace hushwell::testing {

// A real freedesktop X tray (trayer) on the test's private X server (DisplaySandbox), for as long
// as the object lives: a panel along the top of the screen, `tint` its colour ("0xffffff").
class TrayPanel {
public:
    explicit TrayPanel(const std::string& tint = "0xeeeeee");
    ~TrayPanel();
    TrayPanel(const TrayPanel&) = delete;
    TrayPanel& operator=(const TrayPanel&) = delete;

    // The panel gone, and back as a panel that starts late or restarts (start() waits for it).
    void stop();
    void start();

    // Whether the tray manager took the tray's selection on screen 0.
    [[nodiscard]] bool ready() const { return m_ready; }
    // Whether X window `window` sits in a window of the tray's (its parent is no longer the
    // root) and can be seen.
    [[nodiscard]] static bool docked(unsigned long window);

private:
    std::string m_tint;
    pid_t m_pid = -1;
    bool m_ready = false;
};

}  // namespace hushwell::testing
