#include <string>

#include "engine/Hushwell.h"
#include "engine/Numbers.h"

namespace hushwell {

std::int32_t unitsPerPercentFor(std::int32_t lMaximum) {
    return toInt32(lMaximum / 100.0);
}

// Writes the level that the slider's position stands for into its text and returns the volume of
// that level in mixer units.
std::int32_t Hushwell::showLevel(Level level) {
    Slider& slider = sliderFor(level);
    const std::int32_t percent = checkedSub(slider.maximum(), slider.position());
    slider.setText(std::to_string(percent));
    notify(ModelChange::Slider, static_cast<int>(level));
    return checkedMul(std::stoi(slider.text()), m_state.unitsPerPercent);
}

void Hushwell::moveSlider(Level level, int position) {
    sliderFor(level).setPosition(position);
    m_state.sliderVolume = showLevel(level);
    (void)m_mixer.applyVolume(m_state.mixerHandle, m_state.volumeControl, m_state.sliderVolume);
    volumeFor(level) = m_state.sliderVolume;
    setTitle(level == Level::Down ? "DOWN" : "UP");
    m_state.settingsChanged = true;
}

// A level that no settings file set is the one its slider shows (20 and 100 as laid out), so that a
// first run neither mutes the PC when it ends nor saves empty levels.
void Hushwell::takeUnsetLevelsFromSliders() {
    for (Level level : {Level::Down, Level::Up}) {
        if (sliderFor(level).text().empty()) {
            volumeFor(level) = showLevel(level);
        }
    }
    m_state.appliedVolume = m_state.upVolume;
}

void Hushwell::setUpFromStoredLevels(const StoredLevels& levels) {
    for (Level level : {Level::Down, Level::Up}) {
        const std::string& stored = level == Level::Down ? levels.down : levels.up;
        Slider& slider = sliderFor(level);
        try {
            slider.setPosition(toInt32(slider.maximum() - leadingNumber(stored)));
            notify(ModelChange::Slider, static_cast<int>(level));
            volumeFor(level) = showLevel(level);
        } catch (const RunTimeError& error) {
            const std::string shown = stored.size() > 24 ? stored.substr(0, 24) + "..." : stored;
            throw RunTimeError(std::string("The ") + (level == Level::Down ? "Down" : "Up") +
                               " level stored in " + kSettingsFileName + ", \"" + shown +
                               "\", is out of range. " + error.what());
        }
    }
}

}  // namespace hushwell
