// Following the station end to end: the real program under a private X server, a player copy
// playing the stations' hours to a private sound server's null sink. For each row of the stations'
// table, an hour in which Set was pressed on the jingle (the Down mark of pair 1, keys sent by
// xdotool), the prints filed on closing; then, for each phase and each delay, a later hour played
// so that the jingle's press moment falls `delay` seconds after the mark's clock time. The figure
// is when the server's sink volume reached the Down level against that moment (negative: before
// it), beside the same hours fed to a Listener in memory (StationBench's computation: the heard
// moment, and when the listener told it, which is the soonest the volume can move; there the
// press's moment is moved to the sound when Set was pressed in silence). "clock": the volume
// moved without the program having heard the mark (its log says nothing heard). "its print": the
// print the program kept in the press hour, listened for in the later hour in memory.
//
// Usage: follow_bench PROGRAM SCRIPTS_DIR MUSIC_DIR JINGLE [--server pulseaudio|pipewire]
//                     [--lanes N] [--rows 1,2,...] [--phases K] [--delays -9,0,6] [--logs DIR]
//                     [--edge down|up|second] [--down-level PERCENT]
// (--edge up: the pair's Down and Up marks both have the print, and the later hour is played
// twice, with adverts between; the sink's return to the Up level from PERCENT, default 20, after
// the second is timed. --edge second: two breaks an hour on one jingle, the Down marks of pairs 1
// and 2 both with the print, pair 1's break ending between the two plays; pair 2's Down is timed)
// (--logs keeps each later hour's program log and each row's filed prints there)
// (ffmpeg, espeak-ng, pacat, pactl, xdotool and Xvfb on PATH; SCRIPTS_DIR holds pulse-server.sh)

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iterator>
#include <mutex>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Percentile.h"
#include "SinkWatcher.h"
#include "Stations.h"
#include "e2e/Schedules.h"
#include "listen/Fingerprint.h"
#include "listen/PrintFile.h"
#include "support/DisplaySandbox.h"
#include "support/ExecutableCopy.h"
#include "support/Fakes.h"

extern char** environ;

namespace {

using namespace hushwell;
using namespace hushwell::bench;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Wall = std::chrono::system_clock;
using testing::kUp;
using testing::Program;

constexpr double kBefore = 12;     // s of an hour played before its press's moment
constexpr double kLaterAfter = 5;  // s of a later hour played after it
constexpr double kLater = 1000;    // s, the offline later hour's start on the listener's clock
const std::string kOptions = "[Listen]\nFollowStation=true\n";
const std::string kQuietPairs =
    "20,100\r\n,,,,,,,\r\n,,,,,,,\r\n 0 , 0 , 0 , 0 , 0 , 0 , 0 , 0 \r\n";

std::string shell(const std::string& command) {
    std::string output;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return output;
    }
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        output += buffer;
    }
    pclose(pipe);
    return output;
}

// Why a copy showed no window: one that ends at once with an empty log met another copy's claim
// (a test or a listener's Hushwell running meanwhile), which the bench names.
std::string noWindow(testing::Program& program) {
    const std::string others = shell("pgrep -a -x hushwell");
    if (!program.running() && program.log().empty() && !others.empty()) {
        return "no window: another Hushwell runs (stop it first):\n" + others;
    }
    return "no window";
}

Wall::time_point wallAt(double seconds) {
    return Wall::time_point(
        std::chrono::duration_cast<Wall::duration>(std::chrono::duration<double>(seconds)));
}

double wallSeconds(Wall::time_point t) {
    return msSinceEpoch(t) / 1000;
}

std::vector<double> numbers(const std::string& list) {
    std::vector<double> values;
    std::stringstream in(list);
    for (std::string item; std::getline(in, item, ',');) {
        values.push_back(std::stod(item));
    }
    return values;
}

// A private X server of a lane's own, so that no other lane's window takes the keys meant for
// its program (a window that is shown takes the focus). Started before any thread.
class XServer {
public:
    XServer() {
        int fds[2];
        if (pipe(fds) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const char* argv[] = {"Xvfb", "-displayfd",  "3",         "-noreset", "-screen",
                              "0",    "1280x800x24", "-nolisten", "tcp",      nullptr};
        if (posix_spawnp(&m_pid, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ) !=
            0) {
            m_pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        pollfd ready{fds[0], POLLIN, 0};
        char number[16] = {};
        if (m_pid > 0 && poll(&ready, 1, 10000) == 1 &&
            read(fds[0], number, sizeof number - 1) > 0) {
            m_display = ":" + std::string(number, std::strcspn(number, "\n"));
        }
        close(fds[0]);
    }
    ~XServer() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;
    [[nodiscard]] const std::string& display() const { return m_display; }

private:
    pid_t m_pid = -1;
    std::string m_display;
};

// One private sound server with a null sink "speakers", and the folder where the program's
// copy, its settings, a player copy and the hours live.
class Lane {
public:
    Lane(int number, const std::string& scripts, bool pipewire, const std::string& program)
        : m_dir(testing::makeTempFolder("hushwell-follow-" + std::to_string(number) + "-")),
          m_script(scripts + (pipewire ? "/pipewire-server.sh" : "/pulse-server.sh")),
          m_server("unix:" + (m_dir / (pipewire ? "pulse/native" : "native")).string()) {
        if (m_x.display().empty()) {
            return;
        }
        testing::copyExecutable(program, m_dir / "hushwell");
        testing::copyExecutable("/usr/bin/pacat", m_dir / "radio");
        testing::writeFile(m_dir / "asound.conf",
                           "pcm.!default { type pulse }\nctl.!default { type pulse }\n");
        m_env = {"PULSE_SERVER=" + m_server,
                 "PULSE_COOKIE=" + (m_dir / "cookie").string(),
                 "PULSE_RUNTIME_PATH=" + m_dir.string(),
                 "ALSA_CONFIG_PATH=/usr/share/alsa/alsa.conf:" + (m_dir / "asound.conf").string(),
                 "XDG_CONFIG_HOME=" + (m_dir / "config").string(),
                 "DISPLAY=" + m_x.display()};
        m_ready =
            shell(m_script + " start " + m_dir.string() + " && echo started").find("started") !=
            std::string::npos;
        client("pactl set-default-sink speakers");
    }
    ~Lane() {
        shell(m_script + " stop " + m_dir.string());
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }
    Lane(const Lane&) = delete;
    Lane& operator=(const Lane&) = delete;

    [[nodiscard]] bool ready() const { return m_ready; }
    [[nodiscard]] const fs::path& dir() const { return m_dir; }
    [[nodiscard]] const std::string& server() const { return m_server; }
    // Focuses `window` on the lane's X server and types `what` into it.
    void keys(unsigned long window, const std::string& what) const {
        client("xdotool windowfocus --sync " + std::to_string(window) + " key --delay 40 " + what);
    }
    std::string client(const std::string& command) const {
        std::string prefix = "env";
        for (const std::string& entry : m_env) {
            prefix += " " + quoted(entry);
        }
        return shell(prefix + " " + command);
    }
    [[nodiscard]] std::vector<std::string> programEnv() const {
        std::vector<std::string> env = m_env;
        env.emplace_back("QT_LOGGING_RULES=hushwell.mixer.info=true");
        env.emplace_back("QT_MESSAGE_PATTERN=%{time hh:mm:ss.zzz} %{category}: %{message}");
        return env;
    }
    [[nodiscard]] std::unique_ptr<Program> start() const {
        return std::make_unique<Program>(m_dir, std::vector{(m_dir / "hushwell").string()},
                                         programEnv());
    }
    // Plays `raw` (mono float at kRate) to the speakers, asking 40 ms of latency as browsers do;
    // returns once it has played.
    void play(const fs::path& raw) const {
        client(quoted((m_dir / "radio").string()) +
               " --device=speakers --latency-msec=40 --rate=44100 --channels=1 "
               "--format=float32le " +
               quoted(raw.string()));
    }

private:
    XServer m_x;
    fs::path m_dir;
    std::string m_script;
    std::string m_server;
    std::vector<std::string> m_env;
    bool m_ready = false;
};

// One row's hours on disk, and what the listener in memory made of them at each phase.
struct Case {
    std::size_t row = 0;
    fs::path first, later;
    fs::path twice;  // the later hour, adverts, the later hour again: the press's moments `again`
    long again = 0;  // s apart
    double pressAt = 0;
    struct Offline {
        double error = 0;  // s, the heard moment against the press's
        double told = 0;   // s, when the listener told it, against the press's
    };
    std::vector<std::optional<Offline>> offline;  // per phase; empty: not heard
    std::string problem;                          // why the row could not be played
};

// A played hour begins with a beep of kBeep s and a pause (kMarker s in all), which its start is
// timed from on the sink's monitor, by the beep's end: a song may begin softly, or (where ffmpeg
// cannot seek into it) not at all before the jingle, and a new stream's first milliseconds may
// never reach the monitor.
constexpr double kMarker = 0.6;
constexpr double kBeep = 0.2;
std::vector<float> marked(const std::vector<float>& hour) {
    std::vector<float> audio(static_cast<std::size_t>(kMarker * kRate));
    for (std::size_t i = 0; i < static_cast<std::size_t>(kBeep * kRate); ++i) {
        audio[i] =
            static_cast<float>(0.5 * std::sin(2 * M_PI * 1000 * static_cast<double>(i) / kRate));
    }
    audio.insert(audio.end(), hour.begin(), hour.end());
    return audio;
}

// The part of an hour from `before` s ahead of its press to `after` s past it: what the program
// needs around the press (kKeptBefore, kKeptAfter), and no more to wait through.
std::vector<float> around(const std::vector<float>& hour, double pressAt, double before,
                          double after) {
    const auto from = static_cast<std::ptrdiff_t>(std::max(0.0, pressAt - before) * kRate);
    const auto to = std::min(static_cast<std::ptrdiff_t>(hour.size()),
                             static_cast<std::ptrdiff_t>((pressAt + after) * kRate));
    return {hour.begin() + from, hour.begin() + std::max(from, to)};
}

// StationBench's computation: the press at `pressAt` in the first hour, the later hour heard with
// its frames `shift` s later against the print's.
std::optional<Case::Offline> offlineError(const Station& station, double shift) {
    Listener pressing;
    pressing.press({0, Level::Down}, station.pressAt);
    const Listener::Events kept = play(pressing, station.first, 0);
    if (kept.kept.empty()) {
        return std::nullopt;
    }
    std::vector<float> shifted(static_cast<std::size_t>(shift * kRate));
    shifted.insert(shifted.end(), station.later.begin(), station.later.end());
    Listener listening;
    listening.listenFor({0, Level::Down}, kept.kept.front().print);
    const double from = kLater - static_cast<double>(shifted.size() - station.later.size()) / kRate;
    const Listener::Events heard = play(listening, shifted, from);
    if (heard.heard.empty()) {
        return std::nullopt;
    }
    const double expected = kLater + station.pressAt + kept.kept.front().movedBy;
    const Heard& h = heard.heard.front().heard;
    return Case::Offline{h.pressTime - expected, h.heardAt - expected};
}

// The program's own print (kept from what it captured in the press hour) listened for in the
// later hour in memory: whether the print or the later hour's capture missed, when the program
// misses. Against the press's moment as measured (`pressed` s into the hour).
std::optional<double> ownPrintError(const KeptPrint& kept, const fs::path& later, double pressed) {
    const std::string bytes = testing::readFile(later);
    std::vector<float> audio(bytes.size() / sizeof(float));
    std::memcpy(audio.data(), bytes.data(), audio.size() * sizeof(float));
    Listener listening;
    listening.listenFor({0, Level::Down}, kept.print);
    const Listener::Events heard = play(listening, audio, kLater);
    if (heard.heard.empty()) {
        return std::nullopt;
    }
    return heard.heard.front().heard.pressTime - (kLater + pressed + kept.movedBy);
}

struct Outcome {
    std::size_t caseIndex = 0;
    double delay = 0;
    int phase = 0;
    std::string verdict;             // "" when heard; else "not heard", "clock", or what went wrong
    double error = 0;                // s, the sink's move against the press's moment
    std::string log;                 // the later hour's program's
    std::optional<double> ownPrint;  // s, the program's print heard in memory
    bool ownPrintKept = false;
};

// When the player's hour began to sound (s on the wall clock): by its beep's end on the sink's
// monitor after `asked`, the moment it was run; else the first sound there, else its stream's
// appearance, else `asked`. The
// copy's start and its connection take a while on a loaded machine, and a null sink that rendered
// silence ahead plays a new stream's first samples a second or more after it appeared: both would
// otherwise count as the program's.
std::optional<double> beepStart(const std::vector<SinkWatcher::Sound>& ended, double asked) {
    for (const SinkWatcher::Sound& sound : ended) {
        if (sound.end / 1000 >= asked && sound.end - sound.begin <= 1000 * (kBeep + 0.05)) {
            return sound.end / 1000 - kBeep;
        }
    }
    return std::nullopt;
}

double soundStart(SinkWatcher& watcher, double asked) {
    if (const std::optional<double> start = beepStart(watcher.takeEnded(), asked)) {
        return *start;
    }
    for (const double at : watcher.takeSounds()) {
        if (at / 1000 >= asked) {
            return at / 1000;
        }
    }
    for (const double at : watcher.takePlayers()) {
        if (at / 1000 >= asked) {
            return at / 1000;
        }
    }
    return asked;
}

// Waits up to 10 s for the player's hour to sound; when it began.
double waitForSound(SinkWatcher& watcher, double asked) {
    for (int i = 0; i < 1000; ++i) {
        if (const std::optional<double> start = beepStart(watcher.takeEnded(), asked)) {
            return *start;
        }
        std::this_thread::sleep_for(10ms);
    }
    return soundStart(watcher, asked);
}

// The press hour: Set on the Down mark of pair 1 at the row's moment; the prints filed on
// closing. The moment of the press in the hour (s after the player started), or why none.
std::optional<double> pressHour(const Lane& lane, const Case& c, std::string& problem) {
    testing::writeFile(lane.dir() / "Hushwell_setup.txt", kQuietPairs);
    testing::writeFile(lane.dir() / "Hushwell_options.ini", kOptions);
    fs::remove(lane.dir() / kPrintFileName);
    lane.client("pactl set-sink-volume speakers 30000");
    const auto program = lane.start();
    const unsigned long window = program->waitForWindow();
    if (window == 0) {
        problem = noWindow(*program);
        std::fprintf(stderr, "follow_bench: %s in the press hour of row %zu:\n%s\n",
                     problem.c_str(), c.row + 1, program->log().c_str());
        return std::nullopt;
    }
    lane.keys(window, "shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab");
    SinkWatcher watcher(lane.server());
    watcher.waitUntilSubscribed();
    watcher.listenTo("speakers.monitor");
    const double asked = wallSeconds(Wall::now());
    std::thread playing([&] { lane.play(c.first); });
    const double start = waitForSound(watcher, asked);
    std::this_thread::sleep_until(wallAt(start + c.pressAt));
    lane.keys(window, "space");
    const double pressedAt = wallSeconds(Wall::now());
    playing.join();
    const double pressed = pressedAt - start;
    std::this_thread::sleep_for(1s);
    program->close();
    const unsigned long question = program->waitForMessageBox();
    if (question == 0) {
        problem = "no question on closing";
        return std::nullopt;
    }
    lane.keys(question, "y");
    program->wait();
    if (!fs::exists(lane.dir() / kPrintFileName) ||
        testing::readFile(lane.dir() / kPrintFileName).find("mark 0 Down") == std::string::npos) {
        problem = "no print filed";
        return std::nullopt;
    }
    return pressed;
}

// The bench's own times of a later hour, for its log (the program's lines carry the same clock).
std::string timesOf(double asked, double start, double expected, const char* edge,
                    std::optional<double> moved) {
    const auto text = [](double seconds) {
        const std::time_t whole = static_cast<std::time_t>(seconds);
        std::tm parts{};
        localtime_r(&whole, &parts);
        char out[32];
        std::snprintf(out, sizeof out, "%02d:%02d:%06.3f", parts.tm_hour, parts.tm_min,
                      parts.tm_sec + (seconds - static_cast<double>(whole)));
        return std::string(out);
    };
    return "bench: played at " + text(asked) + ", sounding from " + text(start) +
           ", the press's moment " + text(expected) + ", " + edge + " " +
           (moved ? text(*moved) : std::string("never")) + "\n";
}

// A later hour: the mark set so that the press's moment falls `delay` s after it, the hour
// started `shift` s later still; when the sink reached the Down level against that moment.
// With `up`, a pair's Down and Up marks both have the print, `c.again` s apart, and the later
// hour is played twice as far apart with adverts between (Case::twice): the second play closes
// the break heard at a Down level of `downPercent`, and the sink's return to the Up level is timed
// against its press's moment.
struct Edge {
    bool up = false;
    bool second = false;  // the second of two breaks on one jingle
    int downPercent = 20;
};

Outcome laterHour(const Lane& lane, const Case& c, const MarkPrints& prints, double pressed,
                  double delay, double shift, const Edge& edge) {
    Outcome outcome;
    const long again = edge.up || edge.second ? c.again : 0;
    const auto ahead = std::chrono::seconds(static_cast<long>(std::ceil(pressed - delay)) + 6);
    const std::string last = testing::markIn(ahead + std::chrono::seconds(again));
    const std::time_t markTime = testing::nextTimeOf(last) - again;
    const std::string mark = testing::markText(markTime);
    KeptPrint print = prints.begin()->second;
    MarkPrints ours;
    print.markText = mark;
    ours[MarkKey{0, Level::Down}] = print;
    std::string downs = mark + ",,,,,,,";
    std::string ups = (edge.up ? last : std::string("59:59")) + ",,,,,,,";
    std::string active = " 1 , 0 , 0 , 0 , 0 , 0 , 0 , 0 ";
    if (edge.up) {
        print.markText = last;
        ours[MarkKey{0, Level::Up}] = print;
    }
    if (edge.second) {
        print.markText = last;
        ours[MarkKey{1, Level::Down}] = print;
        downs = mark + "," + last + ",,,,,,";
        ups = testing::markText(markTime + again / 2) + "," +
              testing::markText(markTime + again + 30) + ",,,,,,";
        active = " 1 , 1 , 0 , 0 , 0 , 0 , 0 , 0 ";
    }
    savePrintFile(lane.dir() / kPrintFileName, ours);
    testing::writeFile(lane.dir() / "Hushwell_setup.txt", std::to_string(edge.downPercent) +
                                                              ",100\r\n" + downs + "\r\n" + ups +
                                                              "\r\n" + active + "\r\n");
    lane.client("pactl set-sink-volume speakers " + std::to_string(kUp));
    const auto program = lane.start();
    if (program->waitForWindow() == 0) {
        outcome.verdict = noWindow(*program);
        return outcome;
    }
    SinkWatcher watcher(lane.server());
    watcher.waitUntilSubscribed();
    watcher.listenTo("speakers.monitor");
    std::this_thread::sleep_until(wallAt(static_cast<double>(markTime) + delay - pressed + shift));
    const double started = wallSeconds(Wall::now());
    lane.play(again > 0 ? c.twice : c.later);
    const double start = soundStart(watcher, started);
    // A press in silence keeps the sound after it: its moment is that sound's.
    const double expected =
        start + pressed + prints.begin()->second.movedBy + static_cast<double>(again);
    std::this_thread::sleep_for(500ms);
    std::optional<double> down;
    const long wanted = edge.up ? kUp : edge.downPercent * 655;
    // The second break's Down comes after the first break's end, which may have gone down at
    // its clock time well into the first play.
    bool firstDown = !edge.second;
    bool firstEnded = !edge.second;
    for (const SinkWatcher::Change& change : watcher.take()) {
        if (change.volume == wanted && firstEnded &&
            change.at / 1000 >= start + static_cast<double>(again) / 2) {
            down = change.at / 1000;
            break;
        }
        firstEnded = firstEnded || (firstDown && change.volume == kUp);
        firstDown = firstDown || change.volume == wanted;
    }
    program->close();
    if (const unsigned long box = program->waitForMessageBox(); box != 0) {
        lane.keys(box, "n");  // nothing of this hour is kept
    }
    program->wait();
    outcome.log = program->log() + timesOf(started, start, expected, edge.up ? "Up" : "Down", down);
    const std::regex heard(std::string(edge.up ? "Up" : "Down") +
                           " at \\S+, heard \\d+ s (early|late)");
    // The second break's Down is heard when both breaks' are.
    const auto heardLines =
        std::distance(std::sregex_iterator(outcome.log.begin(), outcome.log.end(), heard),
                      std::sregex_iterator());
    if (!down) {
        outcome.verdict = "not heard";
    } else {
        outcome.error = *down - expected;
        outcome.verdict = heardLines >= (edge.second ? 2 : 1) ? "" : "clock";
    }
    return outcome;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr,
                     "usage: follow_bench PROGRAM SCRIPTS_DIR MUSIC_DIR JINGLE [--server "
                     "pulseaudio|pipewire] [--lanes N] [--rows 1,2] [--phases K] [--delays "
                     "-9,0,6] [--logs DIR] [--edge down|up|second] [--down-level PERCENT]\n");
        return 2;
    }
    const std::string programFile = argv[1];
    const std::string scripts = argv[2];
    const fs::path jingleFile = argv[4];
    bool pipewire = false;
    int laneCount = 1;
    int phases = 2;
    std::vector<double> delays = {-9, 0, 6};
    std::vector<std::size_t> chosen;
    Edge edge;
    fs::path logs;  // where each later hour's program log is kept, if anywhere
    for (int i = 5; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const std::string value = argv[i + 1];
        if (option == "--server") {
            pipewire = value == "pipewire";
        } else if (option == "--lanes") {
            laneCount = std::max(1, std::atoi(value.c_str()));
        } else if (option == "--phases") {
            phases = std::max(1, std::atoi(value.c_str()));
        } else if (option == "--delays") {
            delays = numbers(value);
        } else if (option == "--edge") {
            edge.up = value == "up";
            edge.second = value == "second";
        } else if (option == "--down-level") {
            edge.downPercent = std::clamp(std::atoi(value.c_str()), 0, 99);
        } else if (option == "--logs") {
            logs = value;
            fs::create_directories(logs);
        } else if (option == "--rows") {
            for (const double n : numbers(value)) {
                chosen.push_back(static_cast<std::size_t>(n) - 1);
            }
        }
    }
    const std::vector<Row>& rows = stationRows();
    if (chosen.empty()) {
        for (std::size_t r = 0; r < rows.size(); ++r) {
            chosen.push_back(r);
        }
    }
    std::erase_if(chosen, [&rows](std::size_t r) { return r >= rows.size(); });

    // The hours on disk and their offline figures, before anything plays.
    const std::vector<std::string> songs = stationSongs(argv[3]);
    if (songs.size() < 4) {
        std::fprintf(stderr, "follow_bench: fewer than 4 songs in %s\n", argv[3]);
        return 2;
    }
    const std::vector<std::vector<float>> words = stationWords();
    const std::vector<float> jingle = decode(jingleFile, kRate);
    const fs::path hours = testing::makeTempFolder("hushwell-follow-hours-");
    std::vector<Case> cases;
    for (const std::size_t r : chosen) {
        const Row& row = rows[r];
        const Station full = buildStation(
            songs, words,
            row.jingle.empty() ? jingle : decode(jingleFile.parent_path() / row.jingle, kRate), r,
            2);
        Station station;
        station.first = around(full.first, full.pressAt, kBefore, kKeptAfter + 2);
        station.later = around(full.later, full.pressAt, kBefore, kLaterAfter);
        station.pressAt = std::min(full.pressAt, kBefore);
        // The server mixes in 16 bits: a louder hour that went past full scale would be clipped
        // there, and not in memory. Both hours come down together, keeping the row's levels.
        float peak = 0;
        for (const std::vector<float>* hour : {&station.first, &station.later}) {
            for (const float sample : *hour) {
                peak = std::max(peak, std::abs(sample));
            }
        }
        if (peak > 0.99F) {
            scale(station.first, 0.99 / peak);
            scale(station.later, 0.99 / peak);
        }
        Case c;
        c.row = r;
        c.pressAt = kMarker + station.pressAt;
        c.first = hours / ("first-" + std::to_string(r + 1) + ".raw");
        c.later = hours / ("later-" + std::to_string(r + 1) + ".raw");
        writeRaw(c.first, marked(station.first));
        writeRaw(c.later, marked(station.later));
        if (edge.up || edge.second) {
            c.again =
                static_cast<long>(std::ceil(static_cast<double>(station.later.size()) / kRate)) +
                20;
            std::vector<float> twice = station.later;
            for (std::size_t w = 0;
                 twice.size() < static_cast<std::size_t>(static_cast<double>(c.again) * kRate);
                 ++w) {
                const std::vector<float>& advert = words[(r + w) % words.size()];
                twice.insert(twice.end(), advert.begin(), advert.end());
            }
            twice.resize(static_cast<std::size_t>(static_cast<double>(c.again) * kRate));
            twice.insert(twice.end(), station.later.begin(), station.later.end());
            c.twice = hours / ("twice-" + std::to_string(r + 1) + ".raw");
            writeRaw(c.twice, marked(twice));
        }
        for (int phase = 0; phase < phases; ++phase) {
            c.offline.push_back(offlineError(station, phase * kFrameStep / phases));
        }
        cases.push_back(std::move(c));
    }

    unsetenv("WAYLAND_DISPLAY");  // the program's windows go to its lane's X server
    std::vector<std::unique_ptr<Lane>> lanes;
    for (int n = 0; n < laneCount; ++n) {
        lanes.push_back(std::make_unique<Lane>(n, scripts, pipewire, programFile));
        if (!lanes.back()->ready()) {
            std::fprintf(stderr, "follow_bench: lane %d's sound server did not start\n", n);
            return 1;
        }
    }

    const std::string moved = edge.up ? "back to the Up level from a Down level of " +
                                            std::to_string(edge.downPercent) + " %"
                              : edge.second ? "to the Down level at the second break on the jingle"
                                            : "to the Down level";
    std::printf(
        "Following the station end to end (%s, %d lane%s): the sink's move %s against the "
        "press's moment in the later hour (goal 0..+1 s; negative: before it)\n",
        pipewire ? "PipeWire" : "PulseAudio", laneCount, laneCount == 1 ? "" : "s", moved.c_str());
    std::printf("%3s %-46s %6s %5s %14s %10s %7s %10s\n", "row", "condition", "delay", "phase",
                "end to end s", "offline s", "told s", "its print");
    std::mutex results;
    std::vector<Outcome> outcomes;
    const auto report = [&](const Outcome& o) {
        const Case& c = cases[o.caseIndex];
        char e2e[32];
        if (o.verdict.empty()) {
            std::snprintf(e2e, sizeof e2e, "%+.2f", o.error);
        } else if (o.verdict == "clock") {
            std::snprintf(e2e, sizeof e2e, "clock %+.2f", o.error);
        } else {
            std::snprintf(e2e, sizeof e2e, "%s", o.verdict.c_str());
        }
        char offline[32] = "not heard";
        char told[32] = "";
        if (const auto& off = c.offline[static_cast<std::size_t>(o.phase)]) {
            std::snprintf(offline, sizeof offline, "%+.2f", off->error);
            std::snprintf(told, sizeof told, "%+.2f", off->told);
        }
        char own[32] = "";
        if (o.ownPrintKept) {
            std::snprintf(own, sizeof own, "%s", o.ownPrint ? "" : "not heard");
            if (o.ownPrint) {
                std::snprintf(own, sizeof own, "%+.2f", *o.ownPrint);
            }
        }
        std::printf("%3zu %-46.46s %+6.0f %5d %14s %10s %7s %10s\n", c.row + 1,
                    rows[c.row].name.c_str(), o.delay, o.phase, e2e, offline, told, own);
        std::fflush(stdout);
    };
    std::size_t next = 0;
    std::vector<std::thread> threads;
    for (const auto& lane : lanes) {
        threads.emplace_back([&, lane = lane.get()] {
            for (;;) {
                std::size_t index = 0;
                {
                    const std::lock_guard lock(results);
                    if (next == cases.size()) {
                        return;
                    }
                    index = next++;
                }
                const Case& c = cases[index];
                std::string problem;
                const std::optional<double> pressed = pressHour(*lane, c, problem);
                const LoadedPrints kept = loadPrintFile(lane->dir() / kPrintFileName);
                if (!logs.empty() && fs::exists(lane->dir() / kPrintFileName)) {
                    fs::copy_file(lane->dir() / kPrintFileName,
                                  logs / ("row" + std::to_string(c.row + 1) + "-prints.txt"),
                                  fs::copy_options::overwrite_existing);
                }
                std::optional<double> ownPrint;
                if (pressed && kept.prints.size() == 1) {
                    ownPrint = ownPrintError(kept.prints.begin()->second, c.later, *pressed);
                }
                for (const double delay : delays) {
                    for (int phase = 0; phase < phases; ++phase) {
                        Outcome o{index, delay, phase, problem, 0, {}, {}, false};
                        if (pressed && kept.prints.size() == 1) {
                            o = laterHour(*lane, c, kept.prints, *pressed, delay,
                                          phase * kFrameStep / phases, edge);
                            o.caseIndex = index;
                            o.ownPrint = ownPrint;
                            o.ownPrintKept = true;
                            o.delay = delay;
                            o.phase = phase;
                        } else if (problem.empty()) {
                            o.verdict = "print unread";
                        }
                        const std::lock_guard lock(results);
                        outcomes.push_back(o);
                        report(o);
                        if (!logs.empty()) {
                            testing::writeFile(
                                logs / ("row" + std::to_string(c.row + 1) + "-delay" +
                                        std::to_string(static_cast<int>(delay)) + "-phase" +
                                        std::to_string(phase) + ".log"),
                                o.log);
                        }
                    }
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }

    std::vector<double> heard;
    std::vector<double> offline;
    std::vector<double> told;
    int within = 0;
    for (const Outcome& o : outcomes) {
        if (o.verdict.empty()) {
            heard.push_back(o.error);
            within += o.error >= 0 && o.error <= 1 ? 1 : 0;
        }
        if (const auto& off = cases[o.caseIndex].offline[static_cast<std::size_t>(o.phase)]) {
            offline.push_back(off->error);
            told.push_back(off->told);
        }
    }
    std::printf(
        "End to end: heard within 0..+1 s in %d of %zu (rows x delays x phases); of %zu heard, "
        "median %+.2f s, 90th percentile %+.2f s\n",
        within, outcomes.size(), heard.size(), percentile(heard, 50), percentile(heard, 90));
    std::printf(
        "Offline, the same hours: %zu heard, median %+.2f s, 90th percentile %+.2f s; told "
        "median %+.2f s, 90th percentile %+.2f s\n",
        offline.size(), percentile(offline, 50), percentile(offline, 90), percentile(told, 50),
        percentile(told, 90));
    lanes.clear();
    std::error_code ignored;
    fs::remove_all(hours, ignored);
    return 0;
}
