#include "engine/Editor.h"

#include <stdexcept>

#include "engine/TimeText.h"

namespace hushwell {

void Editor::editMark(Level row, int index, const std::string& text) {
    // The window writes the model's own text back into the box, which is no edit.
    if (m_model.mark(row, index) == text) {
        return;
    }
    m_model.setMark(row, index, text);
    m_markAction(MarkAction::EditedByHand, row, index);
}

void Editor::stampMark(Level row, int index) {
    m_model.setMark(row, index, timeText(m_clock.now(), m_separator));
    m_model.setSettingsChanged(true);
    m_markAction(MarkAction::Stamped, row, index);
}

void Editor::moveMarkOn(Level row, int index) {
    if (index + 1 < kPairCount) {
        m_model.setMark(row, index + 1, m_model.mark(row, index));
    }
    m_model.setMark(row, index, "");
    m_markAction(MarkAction::MovedOn, row, index);
}

void Editor::togglePair(int index) {
    const bool on = m_model.pairs().at(index).state == PairState::On;
    m_model.setState(index, on ? PairState::Off : PairState::On);
}

void Editor::setLevel(Level level, int percent) {
    m_model.setLevel(level, percent);
    m_volume.setUpValue(m_model.volume(Level::Up));
    m_volume.set(m_model.volume(level));
    m_model.setLastSent(level);
}

void Editor::clearSchedule() {
    if (!m_ui.askYesNo("Are you sure you want to clear all settings?")) {
        return;
    }
    for (Level row : {Level::Down, Level::Up}) {
        for (int i = 0; i < kPairCount; ++i) {
            m_model.setMark(row, i, kBlankMark);
        }
    }
    for (int i = 0; i < kPairCount; ++i) {
        m_model.setState(i, PairState::Off);
    }
    m_markAction(MarkAction::Cleared, Level::Down, 0);
}

bool Editor::save() {
    StoredSettings settings{
        std::to_string(m_model.level(Level::Down)), std::to_string(m_model.level(Level::Up)), {}};
    for (int i = 0; i < kPairCount; ++i) {
        const SettingPair& pair = m_model.pairs()[i];
        settings.pairs[i] = {pair.down, pair.up, static_cast<int>(pair.state)};
    }
    try {
        m_store.save(settings);
    } catch (const std::exception& error) {
        m_ui.showMessage(error.what());
        return false;
    }
    m_model.setSettingsChanged(false);
    m_markAction(MarkAction::Saved, Level::Down, 0);
    return true;
}

void Editor::queryClose() {
    if (m_model.settingsChanged() && m_ui.askYesNo("Save settings before ending?")) {
        (void)save();
    }
}

}  // namespace hushwell
