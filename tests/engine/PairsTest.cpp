#include "engine/Pairs.h"

#include <gtest/gtest.h>

#include <vector>

#include "engine/Numbers.h"

namespace hushwell {
namespace {

struct Recorded {
    Pairs::Change change;
    int index;
    bool operator==(const Recorded&) const = default;
};

class PairsTest : public ::testing::Test {
protected:
    PairsTest() {
        pairs.setListener([this](Pairs::Change change, int index) {
            changes.push_back({change, index});
        });
    }
    Pairs pairs;
    std::vector<Recorded> changes;
};

TEST_F(PairsTest, StartsAsEightActiveZeroPairs) {
    for (int i = 0; i < kPairCount; ++i) {
        EXPECT_EQ(pairs[i].down, "00:00");
        EXPECT_EQ(pairs[i].up, "00:00");
        EXPECT_EQ(pairs[i].active, kActive);
        EXPECT_EQ(pairs[i].colour, PairColour::WindowBackground);
    }
}

TEST_F(PairsTest, ReportsOnlyRealChanges) {
    pairs.setMark(Row::Down, 2, "00:00");
    pairs.setActive(2, kActive);
    pairs.setColour(2, PairColour::WindowBackground);
    EXPECT_TRUE(changes.empty());

    pairs.setMark(Row::Up, 2, "12:00");
    EXPECT_EQ(changes, (std::vector<Recorded>{{Pairs::Change::Mark, 2}}));
    EXPECT_EQ(pairs.mark(Row::Up, 2), "12:00");
    EXPECT_EQ(pairs.mark(Row::Down, 2), "00:00");
}

TEST_F(PairsTest, ActiveStateRecoloursItsPair) {
    const struct {
        int state;
        PairColour colour;
    } cases[] = {{kInactive, PairColour::ButtonFace},
                 {kActive, PairColour::WindowBackground},
                 {kGreyed, PairColour::ButtonFace}};
    for (const auto& c : cases) {
        pairs.setColour(5, PairColour::LightGreen);
        changes.clear();
        pairs.setActive(5, c.state == kActive ? kInactive : kActive);
        pairs.setActive(5, c.state);
        EXPECT_EQ(pairs[5].colour, c.colour) << c.state;
        EXPECT_EQ(changes.back(), (Recorded{Pairs::Change::Colour, 5}));
    }
}

TEST_F(PairsTest, RefusesStatesOtherThanZeroOneTwo) {
    for (int state : {3, -1, 99}) {
        EXPECT_THROW(pairs.setActive(0, state), RunTimeError) << state;
    }
    EXPECT_EQ(pairs[0].active, kActive);
    EXPECT_TRUE(changes.empty());
}

}  // namespace
}  // namespace hushwell
