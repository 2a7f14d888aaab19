#include "support/EngineFixture.h"

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

EngineTest::EngineTest()
    : engine(mixer, clock, ui, SettingsLocation::at(dir.path() / kSettingsFileName)) {}

void EngineTest::startWith(const std::string& fileText) {
    writeFile(settingsFile(), fileText);
    ASSERT_EQ(engine.startUp(), StartUpOutcome::SettingsRead) << ::testing::PrintToString(ui.log);
}

void EngineTest::startWithPairs(const std::array<PairSpec, kPairCount>& pairs,
                                const std::string& downLevel, const std::string& upLevel) {
    startWith(settingsText(downLevel, upLevel, pairs));
    engine.resize(false);
}

void EngineTest::tickAt(int minute, int second) {
    clock.set(minute, second);
    engine.tick();
}

std::vector<int> EngineTest::greenPairs() const {
    std::vector<int> green;
    for (int i = 0; i < kPairCount; ++i) {
        if (engine.pairs()[i].colour == PairColour::LightGreen) {
            green.push_back(i);
        }
    }
    return green;
}

}  // namespace hushwell::testing
