#include "mixer/alsa/AlsaVolumeScale.h"

#include <gtest/gtest.h>

#include <climits>

namespace hushwell {
namespace {

using Kind = AlsaTarget::Kind;
constexpr long kMute = -9999999;  // SND_CTL_TLV_DB_GAIN_MUTE

struct Ranged {
    const char* name;
    AlsaRange range;
    int level;  // percent
    Kind kind;
    long expected;
};

void PrintTo(const Ranged& c, std::ostream* out) {
    *out << c.name << " at " << c.level << " %";
}

class AlsaScale : public ::testing::TestWithParam<Ranged> {};

TEST_P(AlsaScale, MapsALevelOntoTheElementsRange) {
    const Ranged& c = GetParam();
    const auto target = alsaTarget(c.level * kAlsaScale / 100, c.range);
    ASSERT_TRUE(target.has_value());
    EXPECT_EQ(target->kind, c.kind);
    EXPECT_EQ(target->value, c.expected);
}

const AlsaRange kAc97{0, 31, {}, {}};
const AlsaRange kHdaMaster{0, 87, -6525, 0};  // 0.75 dB steps
const AlsaRange kUsb{0, 255, -5100, 0};
const AlsaRange kNegative{-64, 0, {}, {}};
const AlsaRange kMuteAtBottom{0, 100, kMute, 0};
const AlsaRange kNarrowDecibels{0, 31, -2400, 0};
const AlsaRange kPulsePlugin{0, 65536, {}, {}};

INSTANTIATE_TEST_SUITE_P(
    Ranges, AlsaScale,
    ::testing::Values(
        Ranged{"Ac97", kAc97, 0, Kind::Raw, 0}, Ranged{"Ac97", kAc97, 1, Kind::Raw, 0},
        Ranged{"Ac97", kAc97, 20, Kind::Raw, 6}, Ranged{"Ac97", kAc97, 50, Kind::Raw, 16},
        Ranged{"Ac97", kAc97, 100, Kind::Raw, 31}, Ranged{"HdaMaster", kHdaMaster, 0, Kind::Raw, 0},
        Ranged{"HdaMaster", kHdaMaster, 1, Kind::Decibels, -6248},
        Ranged{"HdaMaster", kHdaMaster, 20, Kind::Decibels, -3457},
        Ranged{"HdaMaster", kHdaMaster, 50, Kind::Decibels, -1601},
        Ranged{"HdaMaster", kHdaMaster, 100, Kind::Decibels, 0},
        Ranged{"Usb", kUsb, 20, Kind::Decibels, -3027},
        Ranged{"Usb", kUsb, 50, Kind::Decibels, -1462},
        Ranged{"Negative", kNegative, 0, Kind::Raw, -64},
        Ranged{"Negative", kNegative, 50, Kind::Raw, -32},
        Ranged{"Negative", kNegative, 100, Kind::Raw, 0},
        Ranged{"MuteAtBottom", kMuteAtBottom, 0, Kind::Raw, 0},
        Ranged{"MuteAtBottom", kMuteAtBottom, 20, Kind::Decibels, -4194},
        Ranged{"MuteAtBottom", kMuteAtBottom, 50, Kind::Decibels, -1806},
        Ranged{"NarrowDecibels", kNarrowDecibels, 50, Kind::Decibels, -1200},
        Ranged{"PulsePlugin", kPulsePlugin, 20, Kind::Raw, 13107},
        Ranged{"PulsePlugin", kPulsePlugin, 100, Kind::Raw, 65536}));

TEST(AlsaScaleRange, EveryLevelLandsInsideTheRangeInOrder) {
    for (const AlsaRange& range :
         {kAc97, kHdaMaster, kUsb, kNegative, kMuteAtBottom, kNarrowDecibels, kPulsePlugin}) {
        long previous = LONG_MIN;
        for (int level = 0; level <= 100; ++level) {
            const auto target = alsaTarget(level * kAlsaScale / 100, range);
            ASSERT_TRUE(target.has_value()) << level;
            const bool raw = target->kind == Kind::Raw;
            const long low = raw ? range.minimum : *range.dBMinimum;
            const long high = raw ? range.maximum : *range.dBMaximum;
            EXPECT_GE(target->value, low) << level;
            EXPECT_LE(target->value, high) << level;
            if (!raw && level > 1) {
                EXPECT_GT(target->value, previous) << "louder at every level: " << level;
            }
            previous = target->value;
        }
        EXPECT_EQ(alsaTarget(kAlsaScale, range)->value,
                  range.dBMaximum ? *range.dBMaximum : range.maximum);
    }
}

TEST(AlsaScaleRange, RefusesWhatItCannotHold) {
    EXPECT_FALSE(alsaTarget(-1, kAc97).has_value());
    EXPECT_FALSE(alsaTarget(kAlsaScale + 1, kAc97).has_value());
    EXPECT_FALSE(alsaTarget(5000, AlsaRange{5, 5, {}, {}}).has_value());
}

}  // namespace
}  // namespace hushwell
