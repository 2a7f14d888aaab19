#pragma once

#include <array>
#include <optional>
#include <string>

#include "engine/Clock.h"
#include "engine/Model.h"
#include "engine/StationFollowing.h"
#include "mixer/SystemVolume.h"

namespace hushwell {

// The first pair, in index order, that holds the volume down at the time text `now`: a pair that
// is not off, whose Down mark is before `now` and whose Up mark after it, both strictly, in text
// order. Empty when no pair does.
[[nodiscard]] std::optional<int> pairHoldingDown(const std::array<SettingPair, kPairCount>& pairs,
                                                 const std::string& now);

// The once-a-second evaluation of the schedule at the time the caller read once (the reading its
// schedule decided on): works out which level the pairs want and applies it when it differs from
// the volume applied last, or was not taken. It reads no clock of its own.
class Tick {
public:
    // While `following` is on, its rule decides in place of pairHoldingDown.
    Tick(Model& model, SystemVolume& volume, std::string separator,
         StationFollowing* following = nullptr)
        : m_model(model),
          m_volume(volume),
          m_separator(std::move(separator)),
          m_following(following) {}

    // The clock shows the time text the pairs were judged at, so that the two never disagree.
    [[nodiscard]] std::string runAndTellTime(const TimeOfDay& time);

private:
    [[nodiscard]] std::optional<int> heldPair() const;

    Model& m_model;
    SystemVolume& m_volume;
    std::string m_separator;
    StationFollowing* m_following;
};

}  // namespace hushwell
