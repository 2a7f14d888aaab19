#pragma once

#include <functional>
#include <string>

#include "engine/Clock.h"
#include "engine/Model.h"
#include "engine/UserInterface.h"
#include "mixer/SystemVolume.h"
#include "settings/SettingsStore.h"

namespace hushwell {

// What the user did to a mark, for whatever belongs to it (the audio kept at a Set press); Saved:
// the settings were stored, the marks as they stand now.
enum class MarkAction { Stamped, MovedOn, EditedByHand, Cleared, Saved };

// What the user does to the settings: the marks, the pairs and the levels, clearing, saving and
// the question about unsaved edits when the window closes.
class Editor {
public:
    Editor(Model& model, SystemVolume& volume, SettingsStore& store, UserInterface& ui,
           const Clock& clock, std::string separator)
        : m_model(model),
          m_volume(volume),
          m_store(store),
          m_ui(ui),
          m_clock(clock),
          m_separator(std::move(separator)) {}

    void editMark(Level row, int index, const std::string& text);
    // The current minute and second into the mark: an edit even when the text stays the same.
    void stampMark(Level row, int index);
    // The mark moves to the next pair, over its mark; its own box is left empty.
    void moveMarkOn(Level row, int index);
    // On to off, off or greyed to on.
    void togglePair(int index);
    // Sets a level and sends it to the mixer at once; the schedule's applied volume stays.
    void setLevel(Level level, int percent);
    // After asking: every mark "00:00", every pair off. The levels stay.
    void clearSchedule();
    // false, after telling the user why, when the settings could not be stored.
    bool save();
    // Asks whether to save unsaved edits, and saves on Yes. The close is never refused.
    void queryClose();

    // Told each of the user's actions on a mark, after the model changed (Cleared and Saved: once,
    // for all).
    void onMarkAction(std::function<void(MarkAction, Level, int index)> told) {
        m_markAction = std::move(told);
    }

private:
    Model& m_model;
    SystemVolume& m_volume;
    SettingsStore& m_store;
    UserInterface& m_ui;
    const Clock& m_clock;
    std::string m_separator;
    std::function<void(MarkAction, Level, int)> m_markAction = [](MarkAction, Level, int) {};
};

}  // namespace hushwell
