#include "engine/Tick.h"

#include "engine/TimeText.h"

namespace hushwell {

std::optional<int> pairHoldingDown(const std::array<SettingPair, kPairCount>& pairs,
                                   const std::string& now) {
    for (int i = 0; i < kPairCount; ++i) {
        const SettingPair& pair = pairs[i];
        if (pair.state != PairState::Off && textLess(pair.down, now) && textLess(now, pair.up)) {
            return i;
        }
    }
    return std::nullopt;
}

// The pair that lowered the volume last, whose Up mark raises it.
std::optional<int> Tick::heldPair() const {
    for (int i = 0; i < kPairCount; ++i) {
        if (m_model.pairs()[i].heldDown) {
            return i;
        }
    }
    return std::nullopt;
}

std::string Tick::runAndTellTime(const TimeOfDay& time) {
    std::string now = timeText(time, m_separator);
    const bool following = m_following != nullptr && m_following->on();
    const std::optional<int> holding =
        following ? m_following->holding(time) : pairHoldingDown(m_model.pairs(), now);
    const Level wanted = holding ? Level::Down : Level::Up;
    if (m_model.volume(wanted) != m_model.appliedVolume()) {
        if (following) {
            m_following->switched(wanted, holding ? holding : heldPair(), time);
        }
        m_model.scheduleApplied(wanted, holding);
        m_volume.set(m_model.volume(wanted));
    }
    return now;
}

}  // namespace hushwell
