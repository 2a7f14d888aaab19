#include <exception>
#include <optional>

#include "engine/Hushwell.h"

namespace hushwell {

StartUpOutcome Hushwell::startUp() {
    StartUpOutcome outcome = StartUpOutcome::Failed;
    std::optional<std::string> failure;
    try {
        m_state.openResult = m_mixer.open(m_state.mixerHandle);
        if (m_state.openResult != 0) {
            takeUnsetLevelsFromSliders();
            m_ui.showMessage("Couldn't open the mixer.");
            return StartUpOutcome::MixerNotOpened;
        }
        m_state.controlFound =
            m_mixer.locateVolumeControl(m_state.mixerHandle, kComponentTypeDstSpeakers,
                                        kControlTypeVolume, m_state.volumeControl);
        if (!m_state.controlFound) {
            m_ui.showMessage("Sorry, Volume Control not found!");
            outcome = StartUpOutcome::ControlNotFound;
        } else {
            m_state.unitsPerPercent = unitsPerPercentFor(m_state.volumeControl.lMaximum);
            const std::filesystem::path& file = m_settings.loadFrom();
            if (!ordinaryFileExists(file)) {
                outcome = StartUpOutcome::NoSettingsFile;
            } else {
                setUpFromStoredLevels(loadSettings(file, m_pairs));
                m_state.appliedVolume = m_state.upVolume;
                outcome = StartUpOutcome::SettingsRead;
            }
        }
    } catch (const std::exception& error) {
        failure = error.what();
    }
    takeUnsetLevelsFromSliders();
    m_state.settingsChanged = false;
    m_ui.showWindow();
    m_ui.focusDownSlider();
    if (failure) {
        m_ui.showMessage(*failure);
    }
    return outcome;
}

}  // namespace hushwell
