#include "support/CoreFixture.h"

namespace hushwell::testing {

std::string settingsText(const std::string& downLevel, const std::string& upLevel,
                         const std::array<PairSpec, kPairCount>& pairs) {
    std::string downs;
    std::string ups;
    std::string states;
    for (int i = 0; i < kPairCount; ++i) {
        const std::string separator = i == 0 ? "" : ",";
        downs += separator + pairs[i].down;
        ups += separator + pairs[i].up;
        states += separator + " " + std::to_string(pairs[i].active) + " ";
    }
    return downLevel + "," + upLevel + "\r\n" + downs + "\r\n" + ups + "\r\n" + states + "\r\n";
}

std::array<PairSpec, kPairCount> pairsWith(
    std::initializer_list<std::pair<int, PairSpec>> changed) {
    std::array<PairSpec, kPairCount> pairs;
    pairs.fill({"00:00", "00:00", 0});
    for (const auto& [index, wanted] : changed) {
        pairs[index] = wanted;
    }
    return pairs;
}

CoreTest::CoreTest()
    : store(SettingsLocation::at(dir.path() / kSettingsFileName)),
      core(volume, clock, ui, store),
      model(core.model) {}

void CoreTest::startWith(const std::string& fileText) {
    writeFile(settingsFile(), fileText);
    ASSERT_EQ(core.startUp(), StartUpOutcome::SettingsRead) << ::testing::PrintToString(ui.log);
}

void CoreTest::startWithPairs(const std::array<PairSpec, kPairCount>& pairs,
                              const std::string& downLevel, const std::string& upLevel) {
    startWith(settingsText(downLevel, upLevel, pairs));
}

std::string CoreTest::tickAt(int minute, int second) {
    clock.set(minute, second);
    return core.tick.runAndTellTime(clock.time);
}

std::vector<int> CoreTest::heldPairs() const {
    std::vector<int> held;
    for (int i = 0; i < kPairCount; ++i) {
        if (model.pairs()[i].heldDown) {
            held.push_back(i);
        }
    }
    return held;
}

}  // namespace hushwell::testing
