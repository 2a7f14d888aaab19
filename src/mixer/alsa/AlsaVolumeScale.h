#pragma once

#include <cstdint>
#include <optional>

namespace hushwell {

// How the ALSA provider presents an element's playback volume: a fixed scale of 0 to kAlsaScale
// (hundredths of a percent) that it maps onto the element's own range, as desktop mixers do, so
// that a level in percent means the same on a card whose range is 0..31 as on one with 0..65536.
constexpr std::int32_t kAlsaScale = 10000;

// An element's playback range: raw steps, and where the driver describes them, the decibels that
// the ends stand for, in hundredths of a dB (the minimum may be SND_CTL_TLV_DB_GAIN_MUTE).
struct AlsaRange {
    long minimum = 0;
    long maximum = 0;
    std::optional<long> dBMinimum;
    std::optional<long> dBMaximum;
};

// What to set for a fraction of the scale: a raw step, or a level in hundredths of a dB that the
// caller turns into the nearest raw step of the element.
struct AlsaTarget {
    enum class Kind { Raw, Decibels } kind = Kind::Raw;
    long value = 0;
};

// Maps `value` of the scale (0..kAlsaScale) onto `range`, by alsa-utils' "mapped volume": where the
// element has a dB range wider than 24 dB, the fraction is cubic in amplitude (level in dB =
// 60 log10 of it, the curve PulseAudio volumes follow), with the element's minimum at 0;
// otherwise the steps are linear. Empty for a value outside the scale or an empty range.
[[nodiscard]] std::optional<AlsaTarget> alsaTarget(std::int32_t value, const AlsaRange& range);

}  // namespace hushwell
