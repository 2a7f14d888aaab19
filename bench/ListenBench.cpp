// Listening to the station while it plays: what fingerprinting the captured audio and matching it
// against two marks' prints costs, as a share of one core and in memory.
//
// Usage: listen_bench [seconds of audio, default 600]
// The audio is a synthetic station at the capture's rate, made before the clock starts.

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "listen/Listener.h"
#include "listen/SyntheticStation.h"

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
        Listener listener(kStationRate);
        listener.press({0, MarkEdge::Down}, 40.4);
        for (std::size_t at = 0; at + block <= audio.size() && print.frames.empty(); at += block) {
            for (Listener::Kept& kept :
                 listener.push({audio.data() + at, block}, static_cast<double>(at) / kStationRate)
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
        Listener listener(kStationRate);
        listener.listenFor({0, MarkEdge::Down}, print);
        listener.listenFor({0, MarkEdge::Up}, print);
        for (std::size_t at = 0; at + block <= audio.size(); at += block) {
            heard +=
                listener.push({audio.data() + at, block}, static_cast<double>(at) / kStationRate)
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
    return 0;
}
