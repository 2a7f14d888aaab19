#include <exception>

#include "engine/Hushwell.h"
#include "settings/AtomicFile.h"
#include "settings/PathText.h"

namespace hushwell {

void Hushwell::editMark(Row row, int index, const std::string& text) {
    m_pairs.setMark(row, index, text);
}

void Hushwell::stampTime(Row row, int index) {
    m_pairs.setMark(row, index, timeText(m_clock.now(), m_timeSeparator));
    m_state.settingsChanged = true;
}

// The mark moves one pair to the right, over what stood there; its own box is left empty.
void Hushwell::moveMarkOn(Row row, int index) {
    if (index + 1 < kPairCount) {
        m_pairs.setMark(row, index + 1, m_pairs.mark(row, index));
    }
    m_pairs.setMark(row, index, "");
}

void Hushwell::setButtonReleased(Row row, int index, int buttonCode) {
    if (buttonCode == kLeftButton) {
        stampTime(row, index);
    } else {
        moveMarkOn(row, index);
    }
}

void Hushwell::setButtonClicked(Row row, int index) {
    stampTime(row, index);
}

void Hushwell::toggleActive(int index) {
    m_pairs.setActive(index, m_pairs[index].active == kActive ? kInactive : kActive);
}

void Hushwell::clearSettings() {
    if (!m_ui.askYesNo("Are you sure you want to clear all settings?")) {
        return;
    }
    for (Row row : {Row::Down, Row::Up}) {
        for (int i = 0; i < kPairCount; ++i) {
            m_pairs.setMark(row, i, "00:00");
        }
    }
    for (int i = 0; i < kPairCount; ++i) {
        m_pairs.setActive(i, kInactive);
    }
}

bool Hushwell::saveSettings() {
    const std::filesystem::path file = m_settings.saveTo();
    const bool hadFile = ordinaryFileExists(file);
    try {
        // The user's configuration folder is made on the first save that needs it.
        std::error_code ignored;
        std::filesystem::create_directories(file.parent_path(), ignored);
        writeFileAtomically(file,
                            formatSettings({m_downSlider.text(), m_upSlider.text()}, m_pairs));
    } catch (const std::exception& error) {
        m_ui.showMessage("Couldn't save the settings to \"" + pathText(file) +
                         "\": " + error.what() + "." +
                         (hadFile ? " The settings saved earlier are unchanged." : ""));
        return false;
    }
    m_settings.saved();
    m_state.settingsChanged = false;
    return true;
}

void Hushwell::queryUnload() {
    if (!m_state.settingsChanged) {
        return;
    }
    if (m_ui.askYesNo("Save settings before ending?")) {
        (void)saveSettings();
    }
    m_ui.processPendingEvents();
}

}  // namespace hushwell
