#include "mixer/alsa/AlsaVolumeScale.h"

#include <cmath>

namespace hushwell {
namespace {

constexpr long kGainMute = -9999999;       // SND_CTL_TLV_DB_GAIN_MUTE
constexpr long kMaxLinearDecibels = 2400;  // up to 24 dB the steps stay linear

}  // namespace

std::optional<AlsaTarget> alsaTarget(std::int32_t value, const AlsaRange& range) {
    if (value < 0 || value > kAlsaScale || range.minimum >= range.maximum) {
        return std::nullopt;
    }
    const double fraction = static_cast<double>(value) / kAlsaScale;
    const auto linear = [fraction](long low, long high) {
        return low + std::lround(fraction * static_cast<double>(high - low));
    };
    const bool hasDecibels =
        range.dBMinimum && range.dBMaximum && *range.dBMinimum < *range.dBMaximum;
    if (!hasDecibels) {
        return AlsaTarget{AlsaTarget::Kind::Raw, linear(range.minimum, range.maximum)};
    }
    const long low = *range.dBMinimum;
    const long high = *range.dBMaximum;
    if (high - low <= kMaxLinearDecibels) {
        return AlsaTarget{AlsaTarget::Kind::Decibels, linear(low, high)};
    }
    if (value == 0) {
        return AlsaTarget{AlsaTarget::Kind::Raw, range.minimum};  // silence, or the quietest step
    }
    double amplitude = fraction;
    if (low != kGainMute) {
        // The element's own minimum stands for 0, so the whole of the scale is used.
        const double lowest = std::pow(10.0, static_cast<double>(low - high) / 6000.0);
        amplitude = fraction * (1.0 - lowest) + lowest;
    }
    return AlsaTarget{AlsaTarget::Kind::Decibels,
                      high + std::lround(6000.0 * std::log10(amplitude))};
}

}  // namespace hushwell
