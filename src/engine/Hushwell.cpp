#include "engine/Hushwell.h"

namespace hushwell {

Hushwell::Hushwell(Mixer& mixer, const Clock& clock, UserInterface& ui, SettingsLocation settings,
                   std::string timeSeparator)
    : m_mixer(mixer),
      m_clock(clock),
      m_ui(ui),
      m_settings(std::move(settings)),
      m_timeSeparator(std::move(timeSeparator)) {
    // Whoever changes a pair, the user or the program, a changed mark or Active state is an
    // unsaved edit; the Active state has already recoloured its pair.
    m_pairs.setListener([this](Pairs::Change change, int index) {
        if (change != Pairs::Change::Colour) {
            m_state.settingsChanged = true;
        }
        notify(ModelChange::Pair, index);
    });
}

const Slider& Hushwell::slider(Level level) const {
    return level == Level::Down ? m_downSlider : m_upSlider;
}

Slider& Hushwell::sliderFor(Level level) {
    return level == Level::Down ? m_downSlider : m_upSlider;
}

std::int32_t& Hushwell::volumeFor(Level level) {
    return level == Level::Down ? m_state.downVolume : m_state.upVolume;
}

void Hushwell::resize(bool minimized) {
    m_state.clockVisible = !minimized;
}

void Hushwell::unload() {
    (void)m_mixer.applyVolume(m_state.mixerHandle, m_state.volumeControl, m_state.upVolume);
}

void Hushwell::setTitle(const std::string& title) {
    if (m_title != title) {
        m_title = title;
        notify(ModelChange::Title);
    }
}

void Hushwell::notify(ModelChange change, int index) const {
    if (m_listener) {
        m_listener(change, index);
    }
}

}  // namespace hushwell
