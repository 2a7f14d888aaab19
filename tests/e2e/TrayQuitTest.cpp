#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support/AudioSandbox.h"
#include "support/DisplaySandbox.h"
#include "support/Fakes.h"
#include "support/TrayPanel.h"

namespace hushwell::testing {
namespace {

using namespace std::chrono_literals;
using Volumes = std::vector<long>;

// Levels 20 and 100, all pairs inactive.
const std::string kQuietSettings = "20,100\r\n" + std::string(7, ',') + "\r\n" +
                                   std::string(7, ',') + "\r\n 0 , 0 , 0 , 0 , 0 , 0 , 0 , 0 \r\n";

// The program's small visible window: its icon, docked in the tray. Empty while there is none.
std::string trayIconWindow() {
    return run(
        "for w in $(xdotool search --onlyvisible --classname '^hushwell$' 2>/dev/null); do "
        "eval \"$(xdotool getwindowgeometry --shell \"$w\")\"; "
        "[ \"$WIDTH\" -le 64 ] && echo \"$w\"; done | head -n 1 | tr -d '\\n'");
}

std::string waitForTrayIcon() {
    std::string icon;
    for (int attempt = 0; attempt < 100 && icon.empty(); ++attempt) {
        icon = trayIconWindow();
        if (icon.empty()) {
            std::this_thread::sleep_for(50ms);
        }
    }
    return icon;
}

bool mainWindowShown() {
    return !run("xdotool search --onlyvisible --name '^(Hushwell|UP|DOWN)$' 2>/dev/null || true")
                .empty();
}

class TrayProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        AudioSandbox::instance();
        run("pactl set-default-sink speakers");
        run("pactl set-sink-volume speakers 30000");
    }
    TempDir dir;
};

// The whole way the user takes: the window hidden in the tray by a click, then Quit from the
// tray's menu; the question on closing comes, and the program ends with the Up level.
TEST_F(TrayProgramTest, QuitFromTheTrayMenuOfAHiddenWindowAsksAndEndsWithTheUpLevel) {
    const TrayPanel panel;
    ASSERT_TRUE(panel.ready());
    writeFile(dir.path() / "Hushwell_setup.txt", kQuietSettings);
    Program program(dir.path(),
                    {"DBUS_SESSION_BUS_ADDRESS=unix:path=" + (dir.path() / "none").string()});
    const unsigned long window = program.waitForWindow();
    ASSERT_NE(window, 0u) << program.log();
    run("xdotool windowfocus --sync " + std::to_string(window) + " key Up");  // Down level 21
    EXPECT_EQ(waitForVolume(21 * 655), Volumes(2, 21 * 655));

    const std::string icon = waitForTrayIcon();
    ASSERT_FALSE(icon.empty()) << program.log();
    run("xdotool mousemove --window " + icon + " 4 4 click 1");
    for (int attempt = 0; attempt < 100 && mainWindowShown(); ++attempt) {
        std::this_thread::sleep_for(50ms);
    }
    ASSERT_FALSE(mainWindowShown());

    // The menu's last entry is Quit: Up from no entry chosen reaches it.
    std::this_thread::sleep_for(600ms);  // not a double click
    run("xdotool mousemove --window " + icon + " 4 4 click 3");
    std::this_thread::sleep_for(300ms);
    run("xdotool key Up Return");
    const unsigned long question = program.waitForMessageBox();
    ASSERT_NE(question, 0u) << program.log();
    run("xdotool windowfocus --sync " + std::to_string(question) + " key n");
    EXPECT_EQ(program.wait(), 0) << program.log();
    EXPECT_EQ(sinkVolumes("speakers"), Volumes(2, 100 * 655));
    EXPECT_EQ(readFile(dir.path() / "Hushwell_setup.txt"), kQuietSettings);
}

}  // namespace
}  // namespace hushwell::testing
