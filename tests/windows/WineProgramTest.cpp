// The Windows program, hushwell.exe, under Wine: in the Wine prefix that WINEPREFIX names, from
// the folder HUSHWELL_WINDOWS_PROGRAM (an installed or unpacked copy), against this test
// program's own X server and PulseAudio server. Wine's winmm keeps the volume inside the calling
// process, so what reaches the mixer is read from the program's log of its mixer calls. Which
// mixer opens depends on the Wine: Wine 8's endpoint volume is a stub, so winmm; a Wine whose
// endpoint volume takes a value has that one. The tests hold for either.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "support/AudioSandbox.h"
#include "support/DisplaySandbox.h"
#include "support/Fakes.h"

namespace hushwell::testing {
namespace {

using namespace std::chrono_literals;
using WallClock = std::chrono::system_clock;

constexpr int kDown = 20;  // in percent
constexpr int kUp = 100;

// Qt reads QT_* variables, which Wine passes to a Windows program only with a WINE prefix. With
// QT_FORCE_STDERR_LOGGING the log of a GUI program goes to standard error, not the debugger.
const std::vector<std::string> kLogged = {"WINEQT_FORCE_STDERR_LOGGING=1",
                                          "WINEQT_LOGGING_RULES=hushwell.mixer.info=true"};

std::string requiredEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        throw std::runtime_error(std::string(name) + " is not set: run scripts/test-windows.sh");
    }
    return value;
}

// The Unix path of a folder of the Wine prefix, such as %APPDATA%.
std::filesystem::path winePath(const std::string& variable) {
    std::string windows = run("wine cmd /c echo %" + variable + "% 2>/dev/null");
    windows.erase(windows.find_last_not_of("\r\n") + 1);
    std::string unix = run("winepath --unix '" + windows + "' 2>/dev/null");
    unix.erase(unix.find_last_not_of("\r\n") + 1);
    return unix;
}

// The mixer's scale, as the program's log reports it: 65535 for winmm, 100 for the endpoint
// volume; 0 before it was located.
int scaleOf(const std::string& log) {
    static const std::regex line(R"(hushwell\.mixer: locate: found, scale (\d+))");
    std::smatch found;
    return std::regex_search(log, found, line) ? std::stoi(found[1]) : 0;
}

// `percent` in the units of the mixer the log names, as the program reckons it.
int units(const std::string& log, int percent) {
    return percent * (scaleOf(log) / 100);
}

// The levels applied, in percent, in order, as the program's log reports them.
std::vector<int> applied(const std::string& log) {
    static const std::regex line(R"(hushwell\.mixer: apply (-?\d+): applied)");
    const int perPercent = std::max(scaleOf(log) / 100, 1);
    std::vector<int> values;
    for (auto it = std::sregex_iterator(log.begin(), log.end(), line); it != std::sregex_iterator();
         ++it) {
        values.push_back(std::stoi((*it)[1]) / perPercent);
    }
    return values;
}

// The mixer that opened, as the log names it ("winmm", "endpoint volume"); `who` is "" for the
// program itself and "guard: " for its guard.
std::string opened(const std::string& log, const std::string& who = "") {
    const std::regex line("hushwell\\.mixer: " + who + "open: ([a-z ]+)\r?\n");
    std::smatch found;
    return std::regex_search(log, found, line) ? found[1].str() : "";
}

// Levels 20 and 100; pair 1 holds the volume down at every time of the hour ("" < t < "60:00").
std::string alwaysDown() {
    return "20,100\r\n,00:00,00:00,00:00,00:00,00:00,00:00,00:00\r\n"
           "60:00,00:00,00:00,00:00,00:00,00:00,00:00,00:00\r\n"
           " 1 , 0 , 0 , 0 , 0 , 0 , 0 , 0 \r\n";
}

class WineTest : public ::testing::Test {
protected:
    void SetUp() override {
        AudioSandbox::instance();
        DisplaySandbox::instance();
        requiredEnvironment("WINEPREFIX");
        m_source = requiredEnvironment("HUSHWELL_WINDOWS_PROGRAM");
        // The prefix's Wine server, and the desktop process it keeps, start afresh with this test
        // program's display and audio server.
        static const bool restarted = [] {
            run("wineserver --kill 2>/dev/null || true");
            return true;
        }();
        (void)restarted;
    }

    // A copy of the program in `folder`, with the settings file `settings` beside it, if any.
    std::filesystem::path copyProgram(const std::filesystem::path& folder,
                                      const std::string& settings = "") const {
        std::filesystem::copy(m_source, folder, std::filesystem::copy_options::recursive);
        if (!settings.empty()) {
            writeFile(folder / "Hushwell_setup.txt", settings);
        }
        return folder;
    }

    std::unique_ptr<Program> start(const std::filesystem::path& folder,
                                   std::vector<std::string> environment = {}) const {
        environment.insert(environment.end(), kLogged.begin(), kLogged.end());
        return std::make_unique<Program>(
            folder, std::vector<std::string>{"wine", (folder / "hushwell.exe").string()},
            environment);
    }

    // Waits until the log shows `value` (in percent) applied, for a few seconds at most.
    static bool waitForApplied(const Program& program, int value) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::vector<int> values = applied(program.log());
            if (!values.empty() && values.back() == value) {
                return true;
            }
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }

    static void key(unsigned long window, const std::string& keys) {
        run("xdotool windowfocus --sync " + std::to_string(window) + " key --delay 60 " + keys);
    }

    // Ends the program by closing its window and answering the save question with `answer`.
    static void closeAnswering(Program& program, const std::string& answer) {
        program.close();
        const unsigned long question = program.waitForMessageBox();
        ASSERT_NE(question, 0u) << "the save question";
        key(question, answer);
        EXPECT_EQ(program.wait(), 0) << program.log();
    }

    TempDir dir;

private:
    std::filesystem::path m_source;
};

// The schedule under the real clock: a pair a few seconds ahead, its marks written with the
// locale's time separator. The title turns DOWN at the first second after the Down mark and UP at
// the Up mark, and the log shows the Down and the Up level applied.
struct Locale {
    const char* name;
    const char* lang;       // the Unix locale Wine takes the user's locale from
    const char* separator;  // that locale's time separator
};

void PrintTo(const Locale& l, std::ostream* out) {
    *out << l.name;
}

class WorkedExample : public WineTest, public ::testing::WithParamInterface<Locale> {};

std::tm localTime(WallClock::time_point when) {
    const std::time_t seconds = WallClock::to_time_t(when);
    std::tm local{};
    localtime_r(&seconds, &local);
    return local;
}

std::string mark(WallClock::time_point when, const std::string& separator) {
    const std::tm local = localTime(when);
    char text[16];
    std::snprintf(text, sizeof text, "%02d%s%02d", local.tm_min, separator.c_str(), local.tm_sec);
    return text;
}

TEST_P(WorkedExample, SwitchesOnTheSecond) {
    const std::string separator = GetParam().separator;
    // Whole seconds from now: Down 6 s ahead, Up 10 s ahead, within one hour.
    auto now = WallClock::now();
    while (localTime(now + 12s).tm_hour != localTime(now).tm_hour) {
        std::this_thread::sleep_for(1s);
        now = WallClock::now();
    }
    const auto second = std::chrono::floor<std::chrono::seconds>(now);
    const auto downMark = second + 6s;
    const auto upMark = second + 10s;
    const std::string pairs = "20,100\r\n" + mark(downMark, separator) +
                              ",00:00,00:00,00:00,00:00,00:00,00:00,00:00\r\n" +
                              mark(upMark, separator) +
                              ",00:00,00:00,00:00,00:00,00:00,00:00,00:00\r\n"
                              " 1 , 0 , 0 , 0 , 0 , 0 , 0 , 0 \r\n";
    const auto folder = copyProgram(dir.path() / "Hushwell", pairs);
    auto program = start(
        folder, {std::string("LANG=") + GetParam().lang, std::string("LC_ALL=") + GetParam().lang});
    ASSERT_NE(program->waitForWindow(), 0u) << program->log();
    ASSERT_LT(WallClock::now(), downMark) << "the window came too late for the test";

    std::optional<WallClock::time_point> down;
    std::optional<WallClock::time_point> up;
    while (!up && WallClock::now() < upMark + 3s) {
        const std::string title = program->title();
        const auto seen = WallClock::now();
        if (!down && title == "DOWN") {
            down = seen;
        }
        if (down && !up && title == "UP") {
            up = seen;
        }
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(down.has_value()) << "the title never turned DOWN\n" << program->log();
    ASSERT_TRUE(up.has_value()) << "the title never turned UP\n" << program->log();
    const auto ms = [](WallClock::duration d) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
    };
    std::printf(
        "   [%s] DOWN %lld ms after the second after the Down mark, UP %lld ms after the Up "
        "mark\n",
        GetParam().name, static_cast<long long>(ms(*down - (downMark + 1s))),
        static_cast<long long>(ms(*up - upMark)));
    EXPECT_GE(*down, downMark + 1s) << "both marks are strict: not at the Down mark itself";
    EXPECT_LT(*down, upMark);
    EXPECT_GE(*up, upMark);
    EXPECT_EQ(applied(program->log()), (std::vector<int>{kDown, kUp})) << program->log();
    program->close();
    EXPECT_EQ(program->wait(), 0) << program->log();
}

INSTANTIATE_TEST_SUITE_P(Locales, WorkedExample,
                         ::testing::Values(Locale{"English", "en_US.UTF-8", ":"},
                                           Locale{"FinnishPeriod", "fi_FI.UTF-8", "."}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

// Every orderly ending puts the Up level back: the window closed, the Windows session ending.
struct Ending {
    const char* name;
    bool endSession;
};

void PrintTo(const Ending& e, std::ostream* out) {
    *out << e.name;
}

class EveryEnding : public WineTest, public ::testing::WithParamInterface<Ending> {};

TEST_P(EveryEnding, PutsTheUpLevelBack) {
    const auto folder = copyProgram(dir.path() / "Hushwell", alwaysDown());
    auto program = start(folder);
    ASSERT_NE(program->waitForWindow(), 0u) << program->log();
    ASSERT_TRUE(waitForApplied(*program, kDown)) << "the first tick lowers the volume\n"
                                                 << program->log();
    if (GetParam().endSession) {
        // WM_QUERYENDSESSION and WM_ENDSESSION to every window, as at a log-off.
        run("wineboot --end-session >/dev/null 2>&1");
    } else {
        program->close();
    }
    const int status = program->wait();
    EXPECT_NE(status, -1) << "still running\n" << program->log();
    if (!GetParam().endSession) {
        EXPECT_EQ(status, 0) << program->log();  // after the session, Windows ends the process
    }
    EXPECT_EQ(applied(program->log()).back(), kUp) << program->log();
}

INSTANTIATE_TEST_SUITE_P(Endings, EveryEnding,
                         ::testing::Values(Ending{"WindowClosed", false},
                                           Ending{"SessionEnds", true}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

// The Unix processes of the guards that run in this test's Wine prefix. The test starts the
// program by its Unix path; Wine names a process that a Windows program starts by the Windows
// path of its program, and that is how the program starts its guard.
std::vector<pid_t> guards() {
    const std::string prefix = "WINEPREFIX=" + requiredEnvironment("WINEPREFIX");
    std::vector<pid_t> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::ifstream command(entry.path() / "cmdline", std::ios::binary);
        std::string program;
        std::getline(command, program, '\0');
        const std::string windowsName = "\\hushwell.exe";
        if (program.size() < windowsName.size() ||
            program.compare(program.size() - windowsName.size(), windowsName.size(), windowsName) !=
                0) {
            continue;
        }
        std::ifstream environment(entry.path() / "environ", std::ios::binary);
        bool ours = false;
        for (std::string variable; !ours && std::getline(environment, variable, '\0');) {
            ours = variable == prefix;
        }
        if (ours) {
            found.push_back(std::stoi(name));
        }
    }
    return found;
}

// Waits a few seconds for exactly one guard, other than `old`; 0 if none came.
pid_t waitForGuard(pid_t old = 0) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        const std::vector<pid_t> found = guards();
        if (found.size() == 1 && found.front() != old) {
            return found.front();
        }
        std::this_thread::sleep_for(50ms);
    }
    return 0;
}

// Waits a few seconds for `text` in the program's log.
bool waitForLogged(const Program& program, const std::string& text) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (program.log().find(text) != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

std::string guardPutsUpBack(const std::string& log) {
    return "hushwell.mixer: guard: apply " + std::to_string(units(log, kUp)) + ": applied";
}

// Killed outright while a pair holds the volume down (the Wine process ends at once, as with
// TerminateProcess), the program's guard puts the Up level back through its own connection, on
// the provider that held it.
TEST_F(WineTest, KilledTheGuardPutsTheUpLevelBack) {
    const auto folder = copyProgram(dir.path() / "Hushwell", alwaysDown());
    auto program = start(folder);
    ASSERT_NE(program->waitForWindow(), 0u) << program->log();
    ASSERT_TRUE(waitForApplied(*program, kDown)) << program->log();
    ASSERT_NE(waitForGuard(), 0) << "no guard runs";
    program->signal(SIGKILL);
    (void)program->wait();
    ASSERT_TRUE(waitForLogged(*program, guardPutsUpBack(program->log()))) << program->log();
    const std::string log = program->log();
    // The guard goes straight to the provider that held the volume.
    EXPECT_EQ(log.find("hushwell.mixer: guard: open: tried"), std::string::npos) << log;
    EXPECT_EQ(opened(log, "guard: "), opened(log)) << log;
    EXPECT_NE(opened(log), "") << log;
    bool ended = false;
    for (int attempt = 0; attempt < 200 && !ended; ++attempt) {
        ended = guards().empty();
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_TRUE(ended) << "the guard did not end";
}

// A guard that dies while the program runs is replaced, and the new one is told that the volume
// is held: a later kill of the program is still mended.
TEST_F(WineTest, AGuardThatDiesIsReplaced) {
    const auto folder = copyProgram(dir.path() / "Hushwell", alwaysDown());
    auto program = start(folder);
    ASSERT_NE(program->waitForWindow(), 0u) << program->log();
    ASSERT_TRUE(waitForApplied(*program, kDown)) << program->log();
    const pid_t first = waitForGuard();
    ASSERT_NE(first, 0) << "no guard runs";
    kill(first, SIGKILL);
    const pid_t second = waitForGuard(first);
    ASSERT_NE(second, 0) << "no new guard came";
    EXPECT_TRUE(program->running());
    EXPECT_EQ(program->log().find("guard: apply"), std::string::npos)
        << "the guard acted while the program ran\n"
        << program->log();
    // The new guard is told the record as soon as it runs; give it that moment.
    std::this_thread::sleep_for(1s);
    program->signal(SIGKILL);
    (void)program->wait();
    EXPECT_TRUE(waitForLogged(*program, guardPutsUpBack(program->log()))) << program->log();
}

// Windows' own list of the hushwell.exe processes: each one's process id and its parent's.
std::vector<std::pair<unsigned long, unsigned long>> windowsProcesses() {
    static const std::regex row(R"(^\s*hushwell\.exe\s+(\d+)\s+(\d+)\s*$)", std::regex::icase);
    const std::string list =
        run("wine wmic process get Name,ParentProcessId,ProcessId 2>/dev/null | iconv -f UTF-16 "
            "-t UTF-8 | tr -d '\\r'");
    std::vector<std::pair<unsigned long, unsigned long>> found;
    std::istringstream lines(list);
    for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        if (std::regex_match(line, match, row)) {
            found.emplace_back(std::stoul(match[2]), std::stoul(match[1]));
        }
    }
    return found;
}

// Task Manager lists a program's child processes under its entry and may end them with it: the
// guard is started by a launcher that ends at once, so no running hushwell.exe is its parent. It
// still ends with the program.
TEST_F(WineTest, TheGuardsParentIsNotTheProgram) {
    const auto folder = copyProgram(dir.path() / "Hushwell", alwaysDown());
    auto program = start(folder);
    ASSERT_NE(program->waitForWindow(), 0u) << program->log();
    ASSERT_NE(waitForGuard(), 0) << "no guard runs";
    std::vector<std::pair<unsigned long, unsigned long>> processes;
    for (int attempt = 0; attempt < 50 && processes.size() != 2; ++attempt) {
        processes = windowsProcesses();  // the program and its guard, once no launcher runs
    }
    ASSERT_EQ(processes.size(), 2u);
    for (const auto& [process, parent] : processes) {
        for (const auto& other : processes) {
            EXPECT_NE(parent, other.first) << "hushwell.exe " << process << " is a child of "
                                           << parent << ", the other hushwell.exe";
        }
    }
    program->close();
    EXPECT_EQ(program->wait(), 0) << program->log();
    bool ended = false;
    for (int attempt = 0; attempt < 200 && !ended; ++attempt) {
        ended = guards().empty();
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_TRUE(ended) << "the guard did not end with the program";
}

// Program and guard ended together while the volume is held (a kill of everything the user runs):
// the held record in %LOCALAPPDATA%\Hushwell outlives them, and the next start puts its Up value
// back before it applies anything else, then removes it.
TEST_F(WineTest, AStartAfterBothWereKilledPutsTheUpLevelBackFirst) {
    // One audio service, so one record, named as every server's is ("held-" and a digest).
    const std::filesystem::path state = winePath("LOCALAPPDATA") / "Hushwell";
    const auto records = [&] {
        std::vector<std::filesystem::path> found;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(state, error)) {
            if (entry.path().filename().string().rfind("held", 0) == 0) {
                found.push_back(entry.path());
            }
        }
        return found;
    };
    for (const std::filesystem::path& old : records()) {
        std::filesystem::remove(old);
    }
    const auto folder = copyProgram(dir.path() / "Hushwell", alwaysDown());
    std::string firstLog;
    {
        auto program = start(folder);
        ASSERT_NE(program->waitForWindow(), 0u) << program->log();
        ASSERT_TRUE(waitForApplied(*program, kDown)) << program->log();
        const pid_t guard = waitForGuard();
        ASSERT_NE(guard, 0) << "no guard runs";
        // The program stopped first cannot replace its guard.
        program->signal(SIGSTOP);
        kill(guard, SIGKILL);
        program->signal(SIGKILL);
        (void)program->wait();
        firstLog = program->log();
        EXPECT_EQ(firstLog.find("guard: apply"), std::string::npos) << firstLog;
    }
    ASSERT_EQ(records().size(), 1u) << "no held record, or more than one";
    const std::filesystem::path record = records().front();
    ASSERT_EQ(record.filename().string().rfind("held-", 0), 0u) << record;
    const auto heldUp = [&](const std::string& log, int percent) {
        return std::to_string(units(log, percent)) + " " + std::to_string(scaleOf(log)) + " ";
    };
    EXPECT_EQ(readFile(record).rfind(heldUp(firstLog, kUp), 0), 0u) << readFile(record);

    // Now Up 90, and the pair still holds the volume down: the put-back comes before the first
    // tick's Down level, and the record then holds the new Up value until that lands.
    constexpr int kNewUp = 90;
    std::string settings = alwaysDown();
    settings.replace(0, 6, "20,90");
    writeFile(folder / "Hushwell_setup.txt", settings);
    auto program = start(folder);
    ASSERT_NE(program->waitForWindow(), 0u) << program->log();
    ASSERT_TRUE(waitForApplied(*program, kDown)) << program->log();
    EXPECT_EQ(applied(program->log()), (std::vector<int>{kUp, kDown})) << program->log();
    EXPECT_EQ(readFile(record).rfind(heldUp(program->log(), kNewUp), 0), 0u) << readFile(record);
    program->close();
    EXPECT_EQ(program->wait(), 0) << program->log();
    EXPECT_EQ(applied(program->log()).back(), kNewUp) << program->log();
    EXPECT_FALSE(std::filesystem::exists(record)) << "the held record is still there";
}

// A second start while the program runs ends at once; the first goes on.
TEST_F(WineTest, ASecondStartEndsAtOnce) {
    const auto folder = copyProgram(dir.path() / "Hushwell", alwaysDown());
    auto first = start(folder);
    ASSERT_NE(first->waitForWindow(), 0u) << first->log();
    TempDir other;
    const auto otherFolder = copyProgram(other.path() / "Hushwell");
    auto second = start(otherFolder);
    EXPECT_EQ(second->wait(), 0) << second->log();
    EXPECT_TRUE(applied(second->log()).empty()) << "the second copy touched the volume";
    EXPECT_TRUE(first->running());
    first->close();
    EXPECT_EQ(first->wait(), 0) << first->log();
}

// A copy that its installer marked keeps its settings in %APPDATA%\Hushwell, even in a folder it
// could write.
TEST_F(WineTest, AnInstalledCopyKeepsItsSettingsInAppData) {
    const auto folder = copyProgram(dir.path() / "Installed");
    writeFile(folder / "installed.txt", "installed by its installer");
    const std::filesystem::path settings = winePath("APPDATA") / "Hushwell" / "Hushwell_setup.txt";
    std::filesystem::create_directories(settings.parent_path());
    writeFile(settings, alwaysDown());

    auto program = start(folder);
    const unsigned long window = program->waitForWindow();
    ASSERT_NE(window, 0u) << program->log();
    ASSERT_TRUE(waitForApplied(*program, kDown)) << "the settings were not read from %APPDATA%\n"
                                                 << program->log();
    key(window, "Up");  // the Down slider has the focus: level 21, an unsaved edit
    ASSERT_TRUE(waitForApplied(*program, 21)) << program->log();
    closeAnswering(*program, "y");
    EXPECT_EQ(readFile(settings).substr(0, 8), "21,100\r\n");
    EXPECT_FALSE(std::filesystem::exists(folder / "Hushwell_setup.txt"));
    std::filesystem::remove_all(settings.parent_path());
}

// A portable copy in a folder whose name the ANSI code page cannot hold loads and saves the
// settings beside itself, bytes as they are.
TEST_F(WineTest, APortableCopyInAFolderOutsideTheCodePageLoadsAndSaves) {
    const auto folder = copyProgram(dir.path() /
                                        "\xC3\x9Cn\xC3\xAF"
                                        "c\xC3\xB8"
                                        "de \xE9\x9F\xB3\xE9\x87\x8F",
                                    alwaysDown());
    auto program = start(folder);
    const unsigned long window = program->waitForWindow();
    ASSERT_NE(window, 0u) << program->log();
    ASSERT_TRUE(waitForApplied(*program, kDown)) << "the settings were not read\n"
                                                 << program->log();
    key(window, "Up");
    ASSERT_TRUE(waitForApplied(*program, 21)) << program->log();
    closeAnswering(*program, "y");
    std::string expected = alwaysDown();
    expected.replace(0, 2, "21");
    EXPECT_EQ(readFile(folder / "Hushwell_setup.txt"), expected);
}

}  // namespace
}  // namespace hushwell::testing
