#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "e2e/ProgramFixture.h"
#include "support/PlayingStream.h"
#include "support/TrayPanel.h"

namespace hushwell::testing {
namespace {

using namespace std::chrono_literals;

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

class TrayProgramTest : public ProgramFixture {};

// The whole way the user takes: the window hidden in the tray by a click, then Quit from the
// tray's menu; the question on closing comes, and the program ends with the Up level.
TEST_F(TrayProgramTest, QuitFromTheTrayMenuOfAHiddenWindowAsksAndEndsWithTheUpLevel) {
    const TrayPanel panel;
    ASSERT_TRUE(panel.ready());
    writeSettings(kQuiet);
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
    EXPECT_EQ(readSettings(), kQuiet);
}

// Opens the tray's menu and presses `keys` in it.
void inTrayMenu(const std::string& icon, const std::string& keys) {
    std::this_thread::sleep_for(600ms);  // not a double click of an earlier one
    run("xdotool mousemove --window " + icon + " 4 4 click 3");
    std::this_thread::sleep_for(300ms);
    run("xdotool key " + keys);
}

// The options offered in the tray's menu are carried out and kept in the options file: a player
// chosen while the whole computer is held down takes the Down level from it, the output getting
// its Up level back, and start with the desktop writes the autostart entry. Quit then gives the
// player its Up level back; the settings file is not touched.
TEST_F(TrayProgramTest, ChoicesInTheTrayMenuAreCarriedOutAndKept) {
    const TrayPanel panel;
    ASSERT_TRUE(panel.ready());
    const std::filesystem::path players = dir.path() / "players";
    std::filesystem::create_directories(players);
    const PlayingStream radio(players, "radio");
    const PlayingStream caller(players, "caller");
    const Volumes callerLevel = caller.volumes();
    writeSettings(kAlwaysDown);
    const std::filesystem::path config = dir.path() / "config";
    Program program(dir.path(),
                    {"DBUS_SESSION_BUS_ADDRESS=unix:path=" + (dir.path() / "none").string(),
                     "XDG_CONFIG_HOME=" + config.string()});
    ASSERT_NE(program.waitForWindow(), 0u) << program.log();
    EXPECT_EQ(waitForVolume(kDown), Volumes(2, kDown)) << "the whole computer first";
    const std::string icon = waitForTrayIcon();
    ASSERT_FALSE(icon.empty()) << program.log();

    // Up from no entry chosen: Quit, Follow the station, Hide when minimized, Start with the
    // desktop, Lower. The submenu lists the whole computer, then the programs playing, sorted:
    // caller, radio.
    inTrayMenu(icon, "Up Up Up Up Up Right");
    std::this_thread::sleep_for(500ms);  // the programs playing come from the mixer's thread
    run("xdotool key Down Down Return");
    const std::filesystem::path options = dir.path() / "Hushwell_options.ini";
    EXPECT_TRUE(waitForFileHolding(options, "Only=radio")) << program.log();
    EXPECT_TRUE(waitForStream(radio, kDown)) << program.log();
    EXPECT_EQ(waitForVolume(kUp), Volumes(2, kUp)) << "the output was left down";
    EXPECT_EQ(caller.volumes(), callerLevel);

    inTrayMenu(icon, "Up Up Up Up Return");
    const std::filesystem::path entry =
        config / "autostart" / "io.github.hushwell.Hushwell.desktop";
    EXPECT_TRUE(waitForFileHolding(entry, "Exec=")) << program.log();
    EXPECT_TRUE(waitForFileHolding(options, "StartWithDesktop=true")) << readFile(options);

    inTrayMenu(icon, "Up Return");
    EXPECT_EQ(program.wait(), 0) << program.log();
    EXPECT_TRUE(waitForStream(radio, kUp)) << program.log();
    EXPECT_EQ(sinkVolumes("speakers"), Volumes(2, kUp));
    EXPECT_EQ(readSettings(), kAlwaysDown);
}

// A session started with the desktop may start the program before the panel that holds the
// tray: the icon comes when the tray does.
TEST_F(TrayProgramTest, ATrayThatComesLaterGetsTheIcon) {
    writeSettings(kQuiet);
    Program program(dir.path(),
                    {"DBUS_SESSION_BUS_ADDRESS=unix:path=" + (dir.path() / "none").string()});
    ASSERT_NE(program.waitForWindow(), 0u) << program.log();
    std::this_thread::sleep_for(1s);
    const TrayPanel panel;
    ASSERT_TRUE(panel.ready());
    std::string icon;
    for (int attempt = 0; attempt < 3 && icon.empty(); ++attempt) {
        icon = waitForTrayIcon();  // 5 s each
    }
    EXPECT_FALSE(icon.empty()) << program.log();
    program.close();
    EXPECT_EQ(program.wait(), 0) << program.log();
}

// A problem met at start is told in a message, and the run goes on: a wrong option keeps its
// default and the file what the user wrote; a state folder where the held record cannot be made
// leaves the run without one.
TEST_F(TrayProgramTest, AProblemAtStartIsToldAndTheRunGoesOn) {
    const std::string wrong = "[Tray]\r\nHideWhenMinimized=sometimes\r\n";
    const struct {
        std::string settings;
        std::string options;
        std::string stateHome;  // under a file: no folder can be made there
    } cases[] = {{kQuiet, wrong, "state"}, {kAlwaysDown, "", "blocked/state"}};
    for (const auto& c : cases) {
        const TempDir folder;
        writeFile(folder.path() / "Hushwell_setup.txt", c.settings);
        writeFile(folder.path() / "Hushwell_options.ini", c.options);
        writeFile(folder.path() / "blocked", "");
        Program program(folder.path(),
                        {"XDG_STATE_HOME=" + (folder.path() / c.stateHome).string()});
        const unsigned long message = program.waitForMessageBox();
        ASSERT_NE(message, 0u) << c.stateHome << program.log();
        run("xdotool windowfocus --sync " + std::to_string(message) + " key Return");
        ASSERT_NE(program.waitForWindow(), 0u) << program.log();
        program.close();
        EXPECT_EQ(program.wait(), 0) << program.log();
        EXPECT_EQ(readFile(folder.path() / "Hushwell_options.ini"), c.options);
    }
}

}  // namespace
}  // namespace hushwell::testing
