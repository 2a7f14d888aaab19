#include "engine/Model.h"

#include <gtest/gtest.h>

#include <vector>

#include "engine/Tick.h"

namespace hushwell {
namespace {

struct Recorded {
    Model::Change change;
    int index;
    bool operator==(const Recorded&) const = default;
};

class ModelTest : public ::testing::Test {
protected:
    ModelTest() {
        model.setListener([this](Model::Change change, int index) {
            changes.push_back({change, index});
        });
    }
    Model model;
    std::vector<Recorded> changes;
};

TEST_F(ModelTest, StartsAsTheWindowIsLaidOut) {
    for (const SettingPair& pair : model.pairs()) {
        EXPECT_EQ(pair.down, "00:00");
        EXPECT_EQ(pair.up, "00:00");
        EXPECT_EQ(pair.state, PairState::On);
        EXPECT_FALSE(pair.heldDown);
    }
    EXPECT_EQ(model.level(Level::Down), 20);
    EXPECT_EQ(model.level(Level::Up), 100);
    EXPECT_FALSE(model.lastSent().has_value());
    EXPECT_FALSE(model.settingsChanged());
}

TEST_F(ModelTest, ReportsAndCountsOnlyRealEdits) {
    model.setMark(Level::Down, 2, "00:00");
    model.setState(2, PairState::On);
    EXPECT_TRUE(changes.empty());
    EXPECT_FALSE(model.settingsChanged());

    model.setMark(Level::Up, 2, "12:00");
    EXPECT_EQ(changes, (std::vector<Recorded>{{Model::Change::Pair, 2}}));
    EXPECT_EQ(model.mark(Level::Up, 2), "12:00");
    EXPECT_EQ(model.mark(Level::Down, 2), "00:00");
    EXPECT_TRUE(model.settingsChanged());
}

TEST_F(ModelTest, TheScheduleMarksThePairThatLoweredTheVolumeUntilItRaisesIt) {
    model.setUnitsPerPercent(655);
    model.scheduleApplied(Level::Down, 3);
    model.scheduleApplied(Level::Down, 5);
    EXPECT_TRUE(model.pairs()[3].heldDown);
    EXPECT_TRUE(model.pairs()[5].heldDown);
    EXPECT_EQ(model.appliedVolume(), 20 * 655);
    model.scheduleApplied(Level::Up, std::nullopt);
    for (const SettingPair& pair : model.pairs()) {
        EXPECT_FALSE(pair.heldDown);
    }
    EXPECT_EQ(model.appliedVolume(), 100 * 655);
    EXPECT_EQ(model.lastSent(), Level::Up);
    EXPECT_FALSE(model.settingsChanged()) << "the schedule edits nothing";
}

TEST(PairHoldingDown, TheFirstPairNotOffWithTheTimeStrictlyBetweenItsMarks) {
    std::array<SettingPair, kPairCount> pairs{};
    for (SettingPair& pair : pairs) {
        pair.state = PairState::Off;
    }
    pairs[1] = {"10:00", "20:00", PairState::Off, false};
    pairs[2] = {"10:00", "20:00", PairState::Greyed, false};
    pairs[4] = {"05:00", "30:00", PairState::On, false};
    const struct {
        const char* now;
        std::optional<int> pair;
    } cases[] = {{"10:00", 4},  {"10:01", 2},  {"19:59", 2}, {"20:00", 4},
                 {"05:00", {}}, {"30:00", {}}, {"04:59", {}}};
    for (const auto& c : cases) {
        EXPECT_EQ(pairHoldingDown(pairs, c.now), c.pair) << c.now;
    }
}

}  // namespace
}  // namespace hushwell
