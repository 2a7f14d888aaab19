// The time of one apply through each real provider, against the PulseAudio server that
// PULSE_SERVER names (ALSA reaches it through the PulseAudio plugin, as scripts/bench.sh sets up).

#include <benchmark/benchmark.h>

#include <memory>

#include "mixer/AlsaMixer.h"
#include "mixer/PulseMixer.h"

namespace {

using namespace hushwell;

void applyOnce(benchmark::State& state, std::unique_ptr<MasterVolume> (*make)()) {
    const std::unique_ptr<MasterVolume> mixer = make();
    const std::optional<std::int32_t> scale = mixer->open() ? mixer->locate() : std::nullopt;
    if (!scale) {
        state.SkipWithError("the mixer did not open");
        return;
    }
    bool down = false;
    for (auto _ : state) {
        down = !down;
        if (!mixer->set(down ? *scale / 5 : *scale)) {
            state.SkipWithError("an apply failed");
            break;
        }
    }
}

std::unique_ptr<MasterVolume> pulse() {
    return pulseMasterVolume();
}
std::unique_ptr<MasterVolume> alsa() {
    return alsaMasterVolume();
}
BENCHMARK_CAPTURE(applyOnce, PulseAudio, pulse)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(applyOnce, ALSA, alsa)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
