// The cost of one tick of the core: eight active pairs scanned, with and without a change of level,
// and the reading of the clock.

#include <benchmark/benchmark.h>

#include "engine/Clock.h"
#include "engine/Core.h"
#include "engine/NextChange.h"
#include "settings/FileSettingsStore.h"
#include "support/FakeVolume.h"
#include "support/Fakes.h"

namespace {

using namespace hushwell;

// A core with eight active pairs, none of which holds 30:00..30:59 but the last, which holds
// 30:01..30:59.
struct Program {
    testing::FakeVolume volume;
    testing::FakeClock clock;
    testing::ScriptedUi ui;
    FileSettingsStore store{SettingsLocation::at("/nonexistent")};
    Core core{volume, clock, ui, store};

    Program() {
        clock.time = {14, 30, 0, 5};
        (void)core.startUp();
        for (int i = 0; i < kPairCount; ++i) {
            const std::string minute = std::to_string(10 + i);
            core.editor.editMark(Level::Down, i, minute + ":00");
            core.editor.editMark(Level::Up, i, minute + ":30");
        }
        core.editor.editMark(Level::Down, kPairCount - 1, "30:00");
        core.editor.editMark(Level::Up, kPairCount - 1, "31:00");
    }
};

void BM_TickWithoutChange(benchmark::State& state) {
    Program program;
    program.clock.time.second = 30;
    // The level is down now; later ticks in the window change nothing.
    (void)program.core.tick.runAndTellTime(program.clock.time);
    for (auto _ : state) {
        benchmark::DoNotOptimize(program.core.tick.runAndTellTime(program.clock.time));
    }
}
BENCHMARK(BM_TickWithoutChange);

void BM_TickWithChange(benchmark::State& state) {
    Program program;
    bool inside = false;
    for (auto _ : state) {
        inside = !inside;
        program.clock.time.minute = inside ? 30 : 40;  // every tick switches the level
        benchmark::DoNotOptimize(program.core.tick.runAndTellTime(program.clock.time));
        if (program.volume.sets.size() > 4096) {
            program.volume.sets.clear();
        }
    }
}
BENCHMARK(BM_TickWithChange);

// What the tray's tooltip works out each tick: at 40:00 the next break (10:00) is half an hour on.
void BM_NextChange(benchmark::State& state) {
    Program program;
    for (auto _ : state) {
        benchmark::DoNotOptimize(nextChange(program.core.model.pairs(), "40:00"));
    }
}
BENCHMARK(BM_NextChange);

// The longest look ahead: eight active pairs, none of which ever holds, so every second of the
// hour is judged.
void BM_NextChangeNoBreak(benchmark::State& state) {
    std::array<SettingPair, kPairCount> pairs{};
    for (SettingPair& pair : pairs) {
        pair = SettingPair{"50:00", "10:00", PairState::On};
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(nextChange(pairs, "40:00"));
    }
}
BENCHMARK(BM_NextChangeNoBreak);

// The one reading of the clock a tick makes, the time zone asked again each time.
void BM_SystemClockReading(benchmark::State& state) {
    const SystemClock clock;
    for (auto _ : state) {
        benchmark::DoNotOptimize(clock.now());
    }
}
BENCHMARK(BM_SystemClockReading);

}  // namespace

BENCHMARK_MAIN();
