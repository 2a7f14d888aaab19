// Listening to the station while it plays: what fingerprinting the captured audio and matching it
// against two marks' prints costs, as a share of one core and in memory.
//
// Usage: listen_bench [seconds of audio, default 600] [seconds of capture, default 0] [rounds, 1]
//                     [listening: only following off, the capture alone and two marks listened
//                      for, while the station plays]
// The audio is a synthetic station at the capture's rate, made before the clock starts. With
// seconds of capture, it is then played as a browser plays (pacat at the output's rate in stereo,
// with the latency HUSHWELL_PLAYER_LATENCY_MS asks, as a browser asks some tens of ms, in pieces of
// a quarter of it) to the sound server that PULSE_SERVER names (the private one
// of scripts/bench.sh, HUSHWELL_PULSE_DIR) and listened to from the default output's monitor, that
// long each: following off; on with nothing listened for, the window shown and hidden; the capture
// alone, prompt, its blocks handed to nothing; two marks listened for; while it plays and while
// nothing plays, each way once a round (the medians of the rounds). Each row: the whole program's
// CPU (libpulse's thread included) and the server processes', with how often their threads woke.
// Then how many connections the capture makes in 30 s while it waits for a program that plays
// nothing.

#include <malloc.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <sstream>
#include <vector>

#include "listen/Listener.h"
#include "listen/SyntheticStation.h"
#include "mixer/pulse/PulseCapture.h"

namespace {

using namespace hushwell;
using hushwell::testing::kStationRate;
using hushwell::testing::Segment;
using hushwell::testing::Sound;

double cpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

std::size_t heapInUse() {
    return mallinfo2().uordblks;
}

long residentKb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return 0;
}

// The sound server's processes, from the folder the audio sandbox started them in
// (HUSHWELL_PULSE_DIR): PulseAudio's one, or PipeWire's three that carry audio.
std::vector<pid_t> serverPids() {
    const char* folder = std::getenv("HUSHWELL_PULSE_DIR");
    std::vector<pid_t> pids;
    for (const char* name : {"server", "pipewire", "pipewire-pulse", "wireplumber"}) {
        std::ifstream file(std::string(folder == nullptr ? "." : folder) + "/" + name + ".pid");
        pid_t pid = 0;
        if (file >> pid) {
            pids.push_back(pid);
        }
    }
    return pids;
}

// What the threads of `pids` ran so far, from /proc/PID/task/TID/schedstat (nanoseconds, where
// /proc/PID/stat counts in ticks of 10 ms): CPU seconds and how many times they were put on a core,
// which counts their wake-ups.
struct Usage {
    double seconds = 0;
    double wakeUps = 0;
};

Usage usageOf(const std::vector<pid_t>& pids) {
    Usage usage;
    for (const pid_t pid : pids) {
        const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
        std::error_code error;
        for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
            std::ifstream stat(task.path() / "schedstat");
            double ran = 0;
            double waited = 0;
            double slices = 0;
            if (stat >> ran >> waited >> slices) {
                usage.seconds += ran * 1e-9;
                usage.wakeUps += slices;
            }
        }
    }
    return usage;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t half = values.size() / 2;
    return values.size() % 2 == 1 ? values[half] : (values[half - 1] + values[half]) / 2;
}

struct Cost {
    double own = 0;         // % of one core
    double server = 0;      // % of one core
    double ownWakeUps = 0;  // per second
    double serverWakeUps = 0;
};

// How the capture is used: not at all; to fill the ring with nothing listened for and the window
// shown (the server's pieces of seconds), or hidden (recording nothing); handing its blocks to
// nothing, as promptly as listening asks (what the capture itself costs); two marks listened for.
enum class Following { Off, On, Hidden, CaptureOnly, Listening };

// Each way's name in the figures, in the order of Following.
constexpr const char* kWayNames[] = {"off", "nothing listened for, window shown",
                                     "nothing listened for, window hidden", "capture alone, prompt",
                                     "two marks listened for"};

// Hushwell's and the server's CPU over `seconds`, following the station from the default output's
// monitor as `following` says. The capture is prompt only while marks are listened for, and
// records only while the window is shown or a mark is listened for, as the program asks.
Cost cost(const MarkPrint& print, Following following, double seconds) {
    std::vector<pid_t> server = serverPids();
    Listener listener;
    if (following == Following::Listening) {
        listener.listenFor({0, Level::Down}, print);
        listener.listenFor({0, Level::Up}, print);
    }
    const std::unique_ptr<AudioCapture> capture = pulseCapture();
    capture->setPrompt(listener.fingerprinting() || following == Following::CaptureOnly);
    capture->setActive(following != Following::Hidden);
    if (following == Following::CaptureOnly) {
        capture->start({}, [](std::span<const float>, double, auto) {});
    } else if (following != Following::Off) {
        capture->start({}, [&](std::span<const float> samples, double rate, auto start) {
            listener.push(samples, rate,
                          std::chrono::duration<double>(start.time_since_epoch()).count());
        });
    }
    // Measured once under way: connecting, once a run, is not what following costs.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const Usage ownBefore = usageOf({getpid()});
    const Usage serverBefore = usageOf(server);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const Usage own = usageOf({getpid()});
    const Usage served = usageOf(server);
    capture->stop();
    return {100.0 * (own.seconds - ownBefore.seconds) / seconds,
            100.0 * (served.seconds - serverBefore.seconds) / seconds,
            (own.wakeUps - ownBefore.wakeUps) / seconds,
            (served.wakeUps - serverBefore.wakeUps) / seconds};
}

// The default output's rate, as a browser plays at it (the server then resamples nothing).
unsigned outputRate() {
    unsigned rate = 44100;
    std::FILE* sinks = popen("pactl list short sinks 2>/dev/null", "r");
    std::FILE* named = popen("pactl get-default-sink 2>/dev/null", "r");
    std::array<char, 512> line{};
    std::string sink;
    if (named != nullptr && std::fgets(line.data(), line.size(), named) != nullptr) {
        sink = std::string(line.data(), std::strcspn(line.data(), "\n"));
    }
    while (sinks != nullptr && std::fgets(line.data(), line.size(), sinks) != nullptr) {
        const char* hz = std::strstr(line.data(), "Hz");
        if (!sink.empty() && std::strstr(line.data(), sink.c_str()) != nullptr && hz != nullptr) {
            const char* digits = hz;
            while (digits > line.data() && digits[-1] >= '0' && digits[-1] <= '9') {
                --digits;
            }
            rate = static_cast<unsigned>(std::atoi(digits));
        }
    }
    for (std::FILE* each : {sinks, named}) {
        if (each != nullptr) {
            pclose(each);
        }
    }
    return rate;
}

// The station as a browser hands it over: at the output's rate, in stereo, as floats.
std::vector<float> asPlayed(const std::vector<float>& audio, unsigned rate) {
    const double step = kStationRate / static_cast<double>(rate);
    const auto count = static_cast<std::size_t>(static_cast<double>(audio.size()) / step);
    std::vector<float> played;
    played.reserve(2 * count);
    for (std::size_t i = 0; i < count; ++i) {
        const double at = static_cast<double>(i) * step;
        const auto before = static_cast<std::size_t>(at);
        const auto after = std::min(before + 1, audio.size() - 1);
        const auto share = static_cast<float>(at - static_cast<double>(before));
        const float sample = audio[before] + (audio[after] - audio[before]) * share;
        played.insert(played.end(), {sample, sample});
    }
    return played;
}

// Played by pacat as a browser plays: at the output's rate in stereo, with the latency
// HUSHWELL_PLAYER_LATENCY_MS asks (a browser asks some tens of ms, which keeps the server waking
// often whatever the capture asks) in pieces of a quarter of it, or pacat's own.
pid_t playInBackground(const std::string& file, unsigned rate) {
    const char* latency = std::getenv("HUSHWELL_PLAYER_LATENCY_MS");
    const std::string rateOption = "--rate=" + std::to_string(rate);
    const std::string latencyOption = std::string("--latency-msec=") + (latency ? latency : "");
    const std::string piecesOption =
        "--process-time-msec=" + std::to_string(latency ? std::max(1, std::atoi(latency) / 4) : 0);
    std::vector<const char*> arguments{"pacat", rateOption.c_str(), "--channels=2",
                                       "--format=float32le"};
    if (latency != nullptr) {
        arguments.push_back(latencyOption.c_str());
        arguments.push_back(piecesOption.c_str());
    }
    arguments.push_back(file.c_str());
    arguments.push_back(nullptr);
    const pid_t player = fork();
    if (player == 0) {
        execvp("pacat", const_cast<char* const*>(arguments.data()));
        _exit(127);
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    return player;
}

void stopPlaying(pid_t player) {
    kill(player, SIGKILL);
    waitpid(player, nullptr, 0);
}

// How many clients connect to the server in `seconds` while the capture waits for a program that
// plays nothing (pactl subscribe reports each).
int connectionsWhileWaiting(int seconds) {
    const std::unique_ptr<AudioCapture> capture = pulseCapture();
    capture->start("nothing-plays-this", [](std::span<const float>, double, auto) {});
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const std::string command =
        "timeout " + std::to_string(seconds) + " pactl subscribe 2>/dev/null";
    std::FILE* events = popen(command.c_str(), "r");
    int connections = 0;
    std::array<char, 256> line{};
    while (events != nullptr && std::fgets(line.data(), line.size(), events) != nullptr) {
        connections += std::strstr(line.data(), "'new' on client") != nullptr ? 1 : 0;
    }
    if (events != nullptr) {
        pclose(events);
    }
    capture->stop();
    return connections;
}

void capture(const std::vector<float>& audio, const MarkPrint& print, double seconds, int repeats,
             bool listeningOnly) {
    const char* kind = std::getenv("HUSHWELL_AUDIO_SERVER");
    const std::string serverName = kind != nullptr && std::string(kind) == "pipewire"
                                       ? "PipeWire (pipewire, pipewire-pulse, wireplumber)"
                                       : "PulseAudio";
    const std::string file = "/tmp/listen-bench-" + std::to_string(getpid()) + ".raw";
    const unsigned rate = outputRate();
    {
        // Played again as often as it takes to last through following off and on.
        std::ofstream out(file, std::ios::binary);
        const std::vector<float> played = asPlayed(audio, rate);
        const double length = static_cast<double>(audio.size()) / kStationRate;
        for (double time = 0; time < 5 * (seconds + 2) * repeats + 20; time += length) {
            out.write(reinterpret_cast<const char*>(played.data()),
                      static_cast<std::streamsize>(played.size() * sizeof(float)));
        }
    }
    std::printf("following the station, %.0f s each, %d rounds (medians), on %s:\n", seconds,
                repeats, serverName.c_str());
    const char* latency = std::getenv("HUSHWELL_PLAYER_LATENCY_MS");
    std::printf(
        "the player plays at the output's %u Hz in stereo and asks %s ms of latency; "
        "Hushwell's and the server's %% of one core and wake-ups a second, and what following "
        "costs in all (on less off)\n",
        rate, latency != nullptr ? latency : "pacat's default");
    for (const bool playing : {true, false}) {
        if (!playing && listeningOnly) {
            break;
        }
        const pid_t player = playing ? playInBackground(file, rate) : -1;
        // The server's work on a new stream (its resampler made, the first seconds buffered) is
        // not what following costs either.
        std::this_thread::sleep_for(std::chrono::seconds(playing ? 4 : 0));
        const long residentBefore = residentKb();
        std::vector<Following> ways{Following::Off, Following::On, Following::Hidden};
        if (listeningOnly) {
            ways = {Following::Off, Following::CaptureOnly, Following::Listening};
        } else if (playing) {
            ways.insert(ways.end(), {Following::CaptureOnly, Following::Listening});
        }
        // Each way once a round, the rounds one after another, so that what else the machine
        // does falls on every way alike; each way's cost against the same round's off.
        std::vector<std::vector<Cost>> measured(ways.size());
        std::vector<std::vector<double>> costs(ways.size());
        for (int round = 0; round < repeats; ++round) {
            for (std::size_t way = 0; way < ways.size(); ++way) {
                measured[way].push_back(cost(print, ways[way], seconds));
                const Cost& on = measured[way].back();
                const Cost& off = measured[0].back();
                costs[way].push_back(on.own + on.server - off.own - off.server);
            }
        }
        for (std::size_t way = 0; way < ways.size(); ++way) {
            const auto of = [&](double Cost::*member) {
                std::vector<double> values;
                for (const Cost& each : measured[way]) {
                    values.push_back(each.*member);
                }
                return median(values);
            };
            std::printf("  %-15s %-36s Hushwell %.3f %% (%4.0f/s), server %.3f %% (%4.0f/s)",
                        playing ? "station playing" : "nothing playing",
                        kWayNames[static_cast<int>(ways[way])], of(&Cost::own),
                        of(&Cost::ownWakeUps), of(&Cost::server), of(&Cost::serverWakeUps));
            if (way > 0) {
                const auto [low, high] = std::minmax_element(costs[way].begin(), costs[way].end());
                std::printf("; costs %+.3f %% (%+.3f to %+.3f)", median(costs[way]), *low, *high);
            }
            std::printf("\n");
        }
        const long resident = residentKb() - residentBefore;
        if (playing) {
            stopPlaying(player);
            std::printf("  memory: %ld kB more resident after following\n", resident);
        }
    }
    std::remove(file.c_str());
    if (listeningOnly) {
        return;
    }
    constexpr int kWaiting = 30;
    std::printf("  waiting for a program that plays nothing: %d connections in %d s\n",
                connectionsWhileWaiting(kWaiting), kWaiting);
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each row as it is measured
    const double seconds = argc > 1 ? std::atof(argv[1]) : 600;
    std::vector<Segment> programme;
    for (unsigned i = 0; i * 30.0 < seconds; ++i) {
        programme.push_back({i % 3 == 2 ? Sound::Talk : Sound::Song, i + 1, i * 30.0, 30});
    }
    const std::vector<float> audio = testing::render(programme, 0, seconds, 1, 0.01);
    // A mark kept from the audio itself, listened for as two marks: each is heard once.
    const auto block = static_cast<std::size_t>(kStationRate / 10);  // as the capture hands on
    MarkPrint print;
    {
        Listener listener;
        listener.press({0, Level::Down}, 40.4);
        for (std::size_t at = 0; at + block <= audio.size() && print.frames.empty(); at += block) {
            for (Listener::Kept& kept : listener
                                            .push({audio.data() + at, block}, kStationRate,
                                                  static_cast<double>(at) / kStationRate)
                                            .kept) {
                print = std::move(kept.print);
            }
        }
    }

    const std::size_t heapBefore = heapInUse();
    const double cpuBefore = cpuSeconds();
    std::size_t peak = 0;
    std::size_t heard = 0;
    {
        Listener listener;
        listener.listenFor({0, Level::Down}, print);
        listener.listenFor({0, Level::Up}, print);
        for (std::size_t at = 0; at + block <= audio.size(); at += block) {
            heard += listener
                         .push({audio.data() + at, block}, kStationRate,
                               static_cast<double>(at) / kStationRate)
                         .heard.size();
            if (at % (block * 100) == 0) {
                const std::size_t now = heapInUse();
                peak = std::max(peak, now > heapBefore ? now - heapBefore : 0);
            }
        }
    }
    const double cpu = cpuSeconds() - cpuBefore;
    std::printf("listened to %.0f s of audio at %.0f Hz (two marks, heard %zu times)\n", seconds,
                kStationRate, heard);
    std::printf("CPU: %.3f s, %.3f %% of one core\n", cpu, 100.0 * cpu / seconds);
    std::printf("memory: %.1f kB of heap at most while listening\n",
                static_cast<double>(peak) / 1024.0);
    const double captureSeconds = argc > 2 ? std::atof(argv[2]) : 0;
    if (captureSeconds > 0) {
        capture(audio, print, captureSeconds, argc > 3 ? std::max(1, std::atoi(argv[3])) : 1,
                argc > 4 && std::string(argv[4]) == "listening");
    }
    return 0;
}
