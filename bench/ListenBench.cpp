// Listening to the station while it plays: what fingerprinting the captured audio and matching it
// against two marks' prints costs, as a share of one core and in memory.
//
// Usage: listen_bench [seconds of audio, default 600] [seconds of capture, default 0]
// The audio is a synthetic station at the capture's rate, made before the clock starts. With
// seconds of capture, it is then played (pacat) to the PulseAudio server that PULSE_SERVER names
// and listened to from the default output's monitor: the whole program's CPU (libpulse's thread
// included; not the server's) and resident memory while it listens.

#include <malloc.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "listen/Listener.h"
#include "listen/SyntheticStation.h"
#include "mixer/PulseCapture.h"

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

void capture(const std::vector<float>& audio, const MarkPrint& print, double seconds) {
    const std::string file = "/tmp/listen-bench-" + std::to_string(getpid()) + ".raw";
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(audio.data()),
               static_cast<std::streamsize>(audio.size() * sizeof(float)));
    const pid_t player = fork();
    if (player == 0) {
        execlp("pacat", "pacat", "--rate=11025", "--channels=1", "--format=float32le", file.c_str(),
               static_cast<char*>(nullptr));
        _exit(127);
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const long residentBefore = residentKb();
    long residentPeak = residentBefore;
    const double cpuBefore = cpuSeconds();
    std::atomic<std::size_t> heard = 0;
    {
        Listener listener;
        listener.listenFor({0, MarkEdge::Down}, print);
        listener.listenFor({0, MarkEdge::Up}, print);
        const std::unique_ptr<AudioCapture> capture = pulseCapture();
        capture->start({}, [&](std::span<const float> samples, double rate, auto start) {
            const double time = std::chrono::duration<double>(start.time_since_epoch()).count();
            heard += listener.push(samples, rate, time).heard.size();
        });
        for (double waited = 0; waited < seconds; waited += 1) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            residentPeak = std::max(residentPeak, residentKb());
        }
        capture->stop();
    }
    const double cpu = cpuSeconds() - cpuBefore;
    kill(player, SIGKILL);
    waitpid(player, nullptr, 0);
    std::remove(file.c_str());
    std::printf("captured %.0f s from the default output's monitor (heard %zu times)\n", seconds,
                heard.load());
    std::printf("CPU: %.3f s, %.3f %% of one core\n", cpu, 100.0 * cpu / seconds);
    std::printf("memory: %ld kB more resident at most while capturing\n",
                residentPeak - residentBefore);
}

}  // namespace

int main(int argc, char** argv) {
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
        listener.press({0, MarkEdge::Down}, 40.4);
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
        listener.listenFor({0, MarkEdge::Down}, print);
        listener.listenFor({0, MarkEdge::Up}, print);
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
        capture(audio, print, captureSeconds);
    }
    return 0;
}
