#include <optional>

#include "engine/Hushwell.h"

namespace hushwell {

void Hushwell::tick() {
    const std::string now = timeText(m_clock.now(), m_timeSeparator);
    if (m_state.clockVisible) {
        // Always written, so that whatever was typed into the clock box is overwritten.
        m_clockText = now;
        notify(ModelChange::Clock);
    }

    std::optional<int> matched;
    for (int i = 0; i < kPairCount; ++i) {
        const SettingPair& pair = m_pairs[i];
        if (pair.active == kInactive) {
            continue;
        }
        if (textLess(now, pair.up) && textLess(pair.down, now)) {
            matched = i;
            break;
        }
    }

    if (matched) {
        if (m_state.downVolume == m_state.appliedVolume) {
            return;
        }
        (void)m_mixer.applyVolume(m_state.mixerHandle, m_state.volumeControl, m_state.downVolume);
        m_state.appliedVolume = m_state.downVolume;
        m_pairs.setColour(*matched, PairColour::LightGreen);
        setTitle("DOWN");
    } else {
        if (m_state.upVolume == m_state.appliedVolume) {
            return;
        }
        (void)m_mixer.applyVolume(m_state.mixerHandle, m_state.volumeControl, m_state.upVolume);
        m_state.appliedVolume = m_state.upVolume;
        for (int i = 0; i < kPairCount; ++i) {
            m_pairs.setColour(i, colourForState(m_pairs[i].active));
        }
        setTitle("UP");
    }
}

}  // namespace hushwell
