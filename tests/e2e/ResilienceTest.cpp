// What leaves a listener with the wrong volume besides an orderly ending: a crash, a second copy,
// another output chosen while a pair holds the volume down, an audio server that restarts.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
// After gtest: Xlib defines macros such as None that clash with its names.
#include <X11/Xlib.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "e2e/ProgramFixture.h"
#include "support/ExecutableCopy.h"

namespace hushwell::testing {
namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

class ResilienceTest : public ProgramFixture {};

TEST_F(ResilienceTest, KilledWhileDownTheUpLevelComesBack) {
    writeSettings(kAlwaysDown);
    Program program(dir.path());
    ASSERT_NE(program.waitForWindow(), 0u) << program.log();
    ASSERT_EQ(waitForVolume(kDown), Volumes(2, kDown)) << "the first tick lowers the volume";
    program.signal(SIGKILL);
    const auto restored = timeUntil("speakers", kUp);
    ASSERT_TRUE(restored.has_value())
        << "the PC was left turned down: " << ::testing::PrintToString(sinkVolumes("speakers"));
    std::printf("   Up level back %lld ms after SIGKILL\n",
                static_cast<long long>(restored->count()));
}

// A server that hangs while the program starts: PulseAudio is given up after a while and ALSA,
// through the server's plugin, is taken once the server answers again. Killed later, the guard,
// whose own mixer is PulseAudio, puts back the Up level in its own scale.
TEST_F(ResilienceTest, AfterAFallBackToAlsaTheGuardStillPutsTheUpLevelBack) {
    writeSettings(kAlwaysDown);
    const pid_t server = AudioSandbox::instance().serverPid();
    kill(server, SIGSTOP);
    Program program(dir.path(), {kMixerLog});
    std::this_thread::sleep_for(3s);
    kill(server, SIGCONT);
    ASSERT_NE(program.waitForWindow(), 0u) << program.log();
    ASSERT_TRUE(timeUntil("speakers", 13107).has_value())
        << "ALSA's 20 %: " << ::testing::PrintToString(sinkVolumes("speakers")) << program.log();
    ASSERT_NE(program.log().find("open: ALSA"), std::string::npos) << program.log();
    program.signal(SIGKILL);
    EXPECT_TRUE(timeUntil("speakers", 65536).has_value())
        << "the guard left " << ::testing::PrintToString(sinkVolumes("speakers")) << program.log();
}

TEST_F(ResilienceTest, KilledWhileUpNothingIsTouched) {
    writeSettings(kQuiet);
    Program program(dir.path());
    ASSERT_NE(program.waitForWindow(), 0u) << program.log();
    program.signal(SIGKILL);
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(sinkVolumes("speakers"), Volumes(2, kOutput));
}

// An X window of the test, put over the program's window.
class Cover {
public:
    explicit Cover(unsigned long over) : m_display(XOpenDisplay(nullptr)) {
        XWindowAttributes attributes{};
        XGetWindowAttributes(m_display, over, &attributes);
        m_window = XCreateSimpleWindow(m_display, DefaultRootWindow(m_display), attributes.x,
                                       attributes.y, 600, 300, 0, 0, 0);
        XMapRaised(m_display, m_window);
        XSync(m_display, False);
    }
    ~Cover() {
        XDestroyWindow(m_display, m_window);
        XCloseDisplay(m_display);
    }
    Cover(const Cover&) = delete;
    Cover& operator=(const Cover&) = delete;

    // Whether `window` stands above the cover (the root's children go from bottom to top).
    bool below(unsigned long window) const {
        Window root = 0;
        Window parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        XQueryTree(m_display, DefaultRootWindow(m_display), &root, &parent, &children, &count);
        int cover = -1;
        int other = -1;
        for (unsigned i = 0; i < count; ++i) {
            cover = children[i] == m_window ? static_cast<int>(i) : cover;
            other = children[i] == window ? static_cast<int>(i) : other;
        }
        XFree(children);
        return other > cover;
    }

private:
    Display* m_display;
    Window m_window;
};

// A second start brings the running window to the front and ends at once, touching neither the
// volume nor the settings, also while the first copy waits in a message box.
struct SecondStart {
    const char* name;
    bool messageBox;  // the first copy shows its Help box
};

void PrintTo(const SecondStart& s, std::ostream* out) {
    *out << s.name;
}

class ASecondStart : public ResilienceTest, public ::testing::WithParamInterface<SecondStart> {};

TEST_P(ASecondStart, RaisesTheFirstWindowAndEnds) {
    writeSettings(kQuiet);
    Program first(dir.path());
    const unsigned long window = first.waitForWindow();
    ASSERT_NE(window, 0u) << first.log();
    if (GetParam().messageBox) {
        // From the Down slider, Help is the 19th control in the Tab order.
        std::string tabs;
        for (int i = 0; i < 19; ++i) {
            tabs += " Tab";
        }
        run("xdotool windowfocus --sync " + std::to_string(window) + " key --delay 40" + tabs +
            " space");
        ASSERT_NE(first.waitForMessageBox(), 0u) << "the Help box";
    }
    const Cover cover(window);
    ASSERT_FALSE(cover.below(window));

    TempDir secondFolder;
    Program second(secondFolder.path());
    EXPECT_EQ(second.wait(), 0) << "the second copy did not end: " << second.log();
    EXPECT_FALSE(std::filesystem::exists(secondFolder.path() / "Hushwell_setup.txt"));
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(cover.below(window)) << "the first window was not brought to the front";
    EXPECT_TRUE(first.running());
    EXPECT_EQ(sinkVolumes("speakers"), Volumes(2, kOutput));
    EXPECT_EQ(readSettings(), kQuiet);
}

INSTANTIATE_TEST_SUITE_P(FirstCopy, ASecondStart,
                         ::testing::Values(SecondStart{"Idle", false},
                                           SecondStart{"InAMessageBox", true}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(ResilienceTest, ACopyThatCrashedDoesNotBlockTheNextStart) {
    writeSettings(kQuiet);
    TempDir crashedFolder;
    {
        Program crashed(crashedFolder.path());
        ASSERT_NE(crashed.waitForWindow(), 0u) << crashed.log();
        crashed.signal(SIGKILL);
        EXPECT_NE(crashed.wait(), -1);
    }
    Program next(dir.path());
    EXPECT_NE(next.waitForWindow(), 0u) << next.log();
    EXPECT_TRUE(next.running());
}

// A guard that stopped (in a debugger, say) reads nothing of what the program tells it: the window
// goes on answering, and the volume goes on following it.
TEST_F(ResilienceTest, AStoppedGuardDoesNotHoldTheWindow) {
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    writeSettings(kAlwaysDown);
    Program program(dir.path());
    const unsigned long window = program.waitForWindow();
    ASSERT_NE(window, 0u) << program.log();
    ASSERT_EQ(waitForVolume(kDown), Volumes(2, kDown));
    const pid_t guard = adoptedGuard();
    ASSERT_GT(guard, 0) << "no guard";
    kill(guard, SIGSTOP);
    // Every change of the Down level tells the guard: far more than its socket holds. The Down
    // slider has the focus; it ends at 25.
    std::string keys;
    for (int i = 0; i < 400; ++i) {
        keys += " Up Down";
    }
    run("xdotool windowfocus --sync " + std::to_string(window) + " key --delay 2" + keys +
        " Up Up Up Up Up");
    constexpr long kLast = 25 * 655;
    EXPECT_EQ(waitForVolume(kLast), Volumes(2, kLast)) << "the window stopped answering";
    kill(guard, SIGCONT);
    program.signal(SIGTERM);
    EXPECT_EQ(program.wait(), 0);
    waitpid(guard, nullptr, 0);
}

// Any user may bind a name in the abstract namespace: a process of another user that holds the
// name this user's copy claims, and never accepts, neither keeps the program from starting nor
// makes it start slowly; a second start still finds the first copy.
TEST_F(ResilienceTest, ANameHeldByAnotherUserDoesNotBlockTheStart) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "acting as another user needs root";
    }
    // The claim's name: the user and the sound server's socket.
    const std::string name =
        std::string(1, '\0') + "io.github.hushwell.Hushwell-" + std::to_string(getuid()) + "-" +
        std::filesystem::weakly_canonical(AudioSandbox::instance().server().substr(5)).string();
    sockaddr_un where{};
    where.sun_family = AF_UNIX;
    std::memcpy(where.sun_path, name.data(), name.size());
    const auto* address = reinterpret_cast<const sockaddr*>(&where);
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
    int ready[2];
    int hold[2];
    ASSERT_EQ(pipe2(ready, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(hold, O_CLOEXEC), 0);
    const pid_t squatter = fork();
    ASSERT_GE(squatter, 0);
    if (squatter == 0) {
        constexpr uid_t kNobody = 65534;
        close(ready[0]);
        close(hold[1]);
        const int own = socket(AF_UNIX, SOCK_STREAM, 0);
        if (setgid(kNobody) != 0 || setuid(kNobody) != 0 || bind(own, address, length) != 0 ||
            listen(own, 0) != 0) {
            _exit(1);
        }
        // Connections nobody accepts, until one more would have to wait.
        for (int i = 0; i < 16; ++i) {
            if (connect(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0), address, length) != 0) {
                break;
            }
        }
        if (write(ready[1], "r", 1) != 1) {
            _exit(1);
        }
        char c = 0;
        (void)!read(hold[0], &c, 1);  // until the test closes its end
        _exit(0);
    }
    close(ready[1]);
    close(hold[0]);
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1) << "the other user's process could not take the name";
    close(ready[0]);

    writeSettings(kQuiet);
    const auto start = Steady::now();
    Program program(dir.path());
    const unsigned long window = program.waitForWindow();
    EXPECT_NE(window, 0u) << "the program did not start: " << program.log();
    if (window != 0) {
        std::printf("   window up %lld ms after the start, the name held by another user\n",
                    static_cast<long long>(
                        std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - start)
                            .count()));
        TempDir secondFolder;
        Program second(secondFolder.path());
        EXPECT_EQ(second.wait(), 0) << "the second copy did not end: " << second.log();
        EXPECT_TRUE(program.running());
    }
    close(hold[1]);
    int status = 0;
    waitpid(squatter, &status, 0);
}

// Another output chosen while a pair holds the volume down: the new one goes to the Down level,
// the one left behind gets the Up level back.
TEST_F(ResilienceTest, TheHeldLevelFollowsTheOutput) {
    writeSettings(kAlwaysDown);
    const std::string module =
        run("pactl load-module module-null-sink sink_name=headphones channels=2");
    run("pactl set-sink-volume headphones 65536");
    Program program(dir.path());
    ASSERT_NE(program.waitForWindow(), 0u) << program.log();
    ASSERT_EQ(waitForVolume(kDown), Volumes(2, kDown));

    run("pactl set-default-sink headphones");
    const auto followed = timeUntil("headphones", kDown);
    EXPECT_TRUE(followed.has_value())
        << "the new output stayed at " << ::testing::PrintToString(sinkVolumes("headphones"));
    EXPECT_TRUE(timeUntil("speakers", kUp).has_value())
        << "the output left behind stayed at " << ::testing::PrintToString(sinkVolumes("speakers"));
    if (followed) {
        std::printf("   new output at the Down level %lld ms after the switch\n",
                    static_cast<long long>(followed->count()));
    }
    run("pactl set-default-sink speakers");
    program.signal(SIGTERM);
    EXPECT_EQ(program.wait(), 0);
    run("pactl unload-module " + module);
}

// The server stopped across a transition and started again: the level the schedule wants lands.
TEST_F(ResilienceTest, ALevelThatFellWhileTheServerWasAwayLandsWhenItReturns) {
    waitOutTheHourEnd(30s);
    // The pair holds the volume down from 4 s to 30 s from now.
    writeSettings("20,100\r\n" + markIn(3s) + ",,,,,,,\r\n" + markIn(30s) +
                  ",,,,,,,\r\n 1 , 0 , 0 , 0 , 0 , 0 , 0 , 0 \r\n");
    Program program(dir.path());
    ASSERT_NE(program.waitForWindow(), 0u) << program.log();
    AudioSandbox& sandbox = AudioSandbox::instance();
    sandbox.stop();
    std::this_thread::sleep_for(6s);  // the Down transition falls while the server is away
    ASSERT_TRUE(program.running()) << program.log();
    sandbox.start();
    run("pactl set-default-sink speakers");
    const auto landed = timeUntil("speakers", kDown);
    EXPECT_TRUE(landed.has_value())
        << "the sink stayed at " << ::testing::PrintToString(sinkVolumes("speakers"));
    if (landed) {
        std::printf("   the Down level landed %lld ms after the server returned\n",
                    static_cast<long long>(landed->count()));
    }
    program.signal(SIGTERM);
    EXPECT_EQ(program.wait(), 0);
}

// Lines that are not options, almost 1 MB of them, are told in a few lines and cost the run
// nothing: the first break lands and a signal ends the run as with no options file at all.
TEST_F(ResilienceTest, ADamagedOptionsFileNeitherDelaysTheFirstBreakNorHoldsOffASignal) {
    writeSettings(kAlwaysDown);
    std::string lines(840 * 1024, '\n');
    for (std::size_t i = 0; i < lines.size(); i += 2) {
        lines[i] = 'x';
    }
    writeFile(dir.path() / "Hushwell_options.ini", lines);
    Program program(dir.path());
    EXPECT_NE(program.waitForMessageBox(), 0u) << "the problems are told" << program.log();
    EXPECT_TRUE(timeUntil("speakers", kDown, 20s).has_value())
        << "the first break did not land: " << ::testing::PrintToString(sinkVolumes("speakers"));
    program.signal(SIGTERM);
    EXPECT_EQ(program.wait(), 0) << "SIGTERM did not end the run";
}

// Started with the desktop before the sound server: the window says that it waits, PulseAudio is
// waited for rather than ALSA taken, and the first break after the server came lands on time.
TEST_F(ResilienceTest, AStartWithTheDesktopWaitsForALateServer) {
    waitOutTheHourEnd(30s);
    const auto due = Steady::now() + 14s;
    writeSettings("20,100\r\n" + markIn(14s) + ",,,,,,,\r\n60:00,,,,,,,\r\n1,0,0,0,0,0,0,0\r\n");
    AudioSandbox& sandbox = AudioSandbox::instance();
    sandbox.stop();
    copyExecutable(HUSHWELL_PROGRAM, dir.path() / "hushwell");
    Program program(dir.path(), {(dir.path() / "hushwell").string(), "--autostart"}, {kMixerLog});
    ASSERT_NE(program.waitForWindow(), 0u) << program.log();
    EXPECT_EQ(program.title(), "Waiting for the sound server...");
    std::this_thread::sleep_for(6s);
    sandbox.start();
    run("pactl set-default-sink speakers");
    run("pactl set-sink-volume speakers 65536");
    ASSERT_TRUE(timeUntil("speakers", kDown, 20s).has_value()) << program.log();
    std::printf("   the break landed %lld ms after it was due\n",
                static_cast<long long>((Steady::now() - due) / 1ms));
    const std::string log = program.log();
    EXPECT_LT(log.find("open: waiting for PulseAudio"), log.find("open: PulseAudio")) << log;
    program.signal(SIGTERM);
    EXPECT_EQ(program.wait(), 0);
}

}  // namespace
}  // namespace hushwell::testing
