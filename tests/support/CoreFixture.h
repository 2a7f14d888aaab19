#pragma once

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "engine/Core.h"
#include "settings/FileSettingsStore.h"
#include "settings/SettingsFile.h"
#include "support/FakeVolume.h"
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

// The core on an in-memory master volume (scale 65535, so 655 units per percent), a clock the
// test sets, scripted answers and the settings file in a fresh folder.
class CoreTest : public ::testing::Test {
protected:
    CoreTest();

    [[nodiscard]] std::filesystem::path settingsFile() const {
        return dir.path() / kSettingsFileName;
    }
    // Writes the file, starts up and checks that it was read.
    void startWith(const std::string& fileText);
    void startWithPairs(const std::array<PairSpec, kPairCount>& pairs,
                        const std::string& downLevel = "20", const std::string& upLevel = "100");
    [[nodiscard]] std::size_t setCount() const { return volume.sets.size(); }
    // Runs a tick at 14:mm:ss; its time text.
    std::string tickAt(int minute, int second);
    // The pairs that hold the light green of having lowered the volume.
    [[nodiscard]] std::vector<int> heldPairs() const;

    FakeVolume volume;
    FakeClock clock;
    ScriptedUi ui;
    TempDir dir;
    FileSettingsStore store;
    Core core;
    Model& model;
};

}  // namespace hushwell::testing
