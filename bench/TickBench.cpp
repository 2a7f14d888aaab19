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

// Eight active pairs, none of which holds 30:00..30:59 but the last, which holds 30:01..30:59.
void setUp(Hushwell& program) {
    program.moveSlider(Level::Down, 80);
    program.moveSlider(Level::Up, 0);
    program.resize(false);
    for (int i = 0; i < kPairCount; ++i) {
        const std::string minute = std::to_string(10 + i);
        program.editMark(Row::Down, i, minute + ":00");
        program.editMark(Row::Up, i, minute + ":30");
    }
    program.editMark(Row::Down, kPairCount - 1, "30:00");
    program.editMark(Row::Up, kPairCount - 1, "31:00");
}

void BM_TickWithoutChange(benchmark::State& state) {
    MemoryMixer mixer;
    SteppingClock clock;
    SilentUi ui;
    Hushwell program(mixer, clock, ui, [] { return std::filesystem::path("/nonexistent"); });
    (void)program.startUp();
    setUp(program);
    clock.time.second = 30;
    program.tick();  // the level is down now; further ticks inside the window change nothing
    for (auto _ : state) {
        program.tick();
    }
}
BENCHMARK(BM_TickWithoutChange);

void BM_TickWithChange(benchmark::State& state) {
    MemoryMixer mixer;
    SteppingClock clock;
    SilentUi ui;
    Hushwell program(mixer, clock, ui, [] { return std::filesystem::path("/nonexistent"); });
    (void)program.startUp();
    setUp(program);
    bool inside = false;
    for (auto _ : state) {
        inside = !inside;
        clock.time.minute = inside ? 30 : 40;  // every tick switches the level
        program.tick();
        if (mixer.applies.size() > 4096) {
            mixer.applies.clear();
        }
    }
}
BENCHMARK(BM_TickWithChange);

}  // namespace

BENCHMARK_MAIN();
