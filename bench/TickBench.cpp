// The cost of one tick of the core: eight active pairs scanned, with and without a change of level.

#include <benchmark/benchmark.h>

#include "engine/Hushwell.h"
#include "mixer/MemoryMixer.h"

namespace {

using namespace hushwell;

class SilentUi final : public UserInterface {
public:
    void showMessage(const std::string&) override {}
    bool askYesNo(const std::string&) override { return false; }
    void showWindow() override {}
    void focusDownSlider() override {}
    void processPendingEvents() override {}
};

class SteppingClock final : public Clock {
public:
    TimeOfDay time{14, 30, 0, 5};
    TimeOfDay now() const override { return time; }
};

// A core with eight active pairs, none of which holds 30:00..30:59 but the last, which holds
// 30:01..30:59.
struct Program {
    MemoryMixer mixer;
    SteppingClock clock;
    SilentUi ui;
    Hushwell core{mixer, clock, ui, SettingsLocation::at("/nonexistent")};

    Program() {
        (void)core.startUp();
        core.moveSlider(Level::Down, 80);
        core.moveSlider(Level::Up, 0);
        core.resize(false);
        for (int i = 0; i < kPairCount; ++i) {
            const std::string minute = std::to_string(10 + i);
            core.editMark(Row::Down, i, minute + ":00");
            core.editMark(Row::Up, i, minute + ":30");
        }
        core.editMark(Row::Down, kPairCount - 1, "30:00");
        core.editMark(Row::Up, kPairCount - 1, "31:00");
    }
};

void BM_TickWithoutChange(benchmark::State& state) {
    Program program;
    program.clock.time.second = 30;
    program.core.tick();  // the level is down now; further ticks inside the window change nothing
    for (auto _ : state) {
        program.core.tick();
    }
}
BENCHMARK(BM_TickWithoutChange);

void BM_TickWithChange(benchmark::State& state) {
    Program program;
    bool inside = false;
    for (auto _ : state) {
        inside = !inside;
        program.clock.time.minute = inside ? 30 : 40;  // every tick switches the level
        program.core.tick();
        if (program.mixer.applies.size() > 4096) {
            program.mixer.applies.clear();
        }
    }
}
BENCHMARK(BM_TickWithChange);

}  // namespace

BENCHMARK_MAIN();
