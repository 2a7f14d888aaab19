// The time of one apply through each real provider, against the PulseAudio server that
// PULSE_SERVER names (ALSA reaches it through the PulseAudio plugin, as scripts/bench.sh sets up).

#include <benchmark/benchmark.h>

#include <memory>

#include "mixer/AlsaMixer.h"
#include "mixer/PulseMixer.h"

namespace {

using namespace hushwell;

template <typename Provider>
void applyOnce(benchmark::State& state) {
    Provider mixer;
    MixerHandle handle = 0;
    VolumeControl control;
    if (mixer.open(handle) != 0 || !mixer.locateVolumeControl(handle, kComponentTypeDstSpeakers,
                                                              kControlTypeVolume, control)) {
        state.SkipWithError("the mixer did not open");
        return;
    }
    bool down = false;
    for (auto _ : state) {
        down = !down;
        if (!mixer.applyVolume(handle, control, down ? 13100 : 65500)) {
            state.SkipWithError("an apply failed");
            break;
        }
    }
}

BENCHMARK_TEMPLATE(applyOnce, PulseMixer)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(applyOnce, AlsaMixer)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
