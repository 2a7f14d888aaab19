#pragma once

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "engine/Hushwell.h"
#include "mixer/MemoryMixer.h"
#include "support/Fakes.h"

namespace hushwell::testing {

struct PairSpec {
    std::string down;
    std::string up;
    int active;
};

// The text of a settings file, written out by hand rather than by the code under test.
[[nodiscard]] std::string settingsText(const std::string& downLevel, const std::string& upLevel,
                                       const std::array<PairSpec, kPairCount>& pairs);

// Eight inactive "00:00" pairs with the given ones replaced.
[[nodiscard]] std::array<PairSpec, kPairCount> pairsWith(
    std::initializer_list<std::pair<int, PairSpec>> changed);

// A core wired to an in-memory mixer (maximum 65535, so 655 units per percent), a clock the test
// sets, scripted answers and a settings file in a fresh folder.
class EngineTest : public ::testing::Test {
protected:
    EngineTest();

    [[nodiscard]] std::filesystem::path settingsFile() const {
        return dir.path() / kSettingsFileName;
    }
    // Writes the file, starts up and checks that it was read.
    void startWith(const std::string& fileText);
    void startWithPairs(const std::array<PairSpec, kPairCount>& pairs,
                        const std::string& downLevel = "20", const std::string& upLevel = "100");
    [[nodiscard]] std::size_t applyCount() const { return mixer.applies.size(); }
    void tickAt(int minute, int second);
    [[nodiscard]] std::vector<int> greenPairs() const;

    MemoryMixer mixer;
    FakeClock clock;
    ScriptedUi ui;
    TempDir dir;
    Hushwell engine;
};

}  // namespace hushwell::testing
