#pragma once

#include <array>
#include <optional>
#include <string>

#include "engine/Clock.h"
#include "engine/Model.h"
#include "mixer/SystemVolume.h"

namespace hushwell {

// The first pair, in index order, that holds the volume down at the time text `now`: a pair that
// is not off, whose Down mark is before `now` and whose Up mark after it, both strictly, in text
// order. Empty when no pair does.
[[nodiscard]] std::optional<int> pairHoldingDown(const std::array<SettingPair, kPairCount>& pairs,
                                                 const std::string& now);

// The once-a-second evaluation of the schedule: reads the clock once, works out which level the
// pairs want and applies it when it differs from the volume applied last, or was not taken.
class Tick {
public:
    Tick(Model& model, SystemVolume& volume, const Clock& clock, std::string separator)
        : m_model(model), m_volume(volume), m_clock(clock), m_separator(std::move(separator)) {}

    // Runs one tick; returns the time text it read, for the clock display.
    std::string run();

private:
    Model& m_model;
    SystemVolume& m_volume;
    const Clock& m_clock;
    std::string m_separator;
};

}  // namespace hushwell
