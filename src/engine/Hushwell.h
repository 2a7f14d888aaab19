#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "engine/AppState.h"
#include "engine/Clock.h"
#include "engine/Pairs.h"
#include "engine/Slider.h"
#include "engine/UserInterface.h"
#include "mixer/Mixer.h"
#include "settings/SettingsFile.h"
#include "settings/SettingsLocation.h"

namespace hushwell {

constexpr const char* kProgramName = "Hushwell";
constexpr int kLeftButton = 1;  // mouse button code of the primary button

enum class StartUpOutcome { MixerNotOpened, ControlNotFound, NoSettingsFile, SettingsRead, Failed };

// What the window shows and the model changed; `index` is the pair index for Pair and
// static_cast<int>(Level) for Slider, 0 otherwise.
enum class ModelChange { Pair, Slider, Title, Clock };

// Mixer units per percent for a control whose maximum is `lMaximum`: lMaximum / 100, rounded half
// to even (65535 gives 655, 250 gives 2).
[[nodiscard]] std::int32_t unitsPerPercentFor(std::int32_t lMaximum);

// The whole behaviour of the program, with no toolkit in it. The window forwards what the user
// does to the methods below and renders the model whenever the listener reports a change.
class Hushwell {
public:
    using Listener = std::function<void(ModelChange, int index)>;
    Hushwell(Mixer& mixer, const Clock& clock, UserInterface& ui, SettingsLocation settings,
             std::string timeSeparator = ":");

    void setListener(Listener listener) { m_listener = std::move(listener); }

    [[nodiscard]] const AppState& state() const { return m_state; }
    [[nodiscard]] const Pairs& pairs() const { return m_pairs; }
    [[nodiscard]] const Slider& slider(Level level) const;
    [[nodiscard]] const std::string& title() const { return m_title; }
    [[nodiscard]] const std::string& clockText() const { return m_clockText; }
    [[nodiscard]] const SettingsLocation& settingsLocation() const { return m_settings; }

    // Window events.
    StartUpOutcome startUp();
    void resize(bool minimized);
    void tick();
    void queryUnload();  // asks to save unsaved edits; never refuses the close
    void unload();       // puts the Up level back

    // What the user does.
    void moveSlider(Level level, int position);
    void editMark(Row row, int index, const std::string& text);
    void setButtonReleased(Row row, int index, int buttonCode);
    void setButtonClicked(Row row, int index);
    void toggleActive(int index);
    void clearSettings();
    bool saveSettings();  // false, after telling the user why, when the file could not be written

private:
    Slider& sliderFor(Level level);
    std::int32_t& volumeFor(Level level);
    void stampTime(Row row, int index);
    void moveMarkOn(Row row, int index);
    std::int32_t showLevel(Level level);
    void setUpFromStoredLevels(const StoredLevels& levels);
    void takeUnsetLevelsFromSliders();
    void setTitle(const std::string& title);
    void notify(ModelChange change, int index = 0) const;

    Mixer& m_mixer;
    const Clock& m_clock;
    UserInterface& m_ui;
    SettingsLocation m_settings;
    std::string m_timeSeparator;

    AppState m_state;
    Pairs m_pairs;
    Slider m_downSlider{80};
    Slider m_upSlider{0};
    std::string m_title = kProgramName;
    std::string m_clockText = "00:00";
    Listener m_listener;
};

}  // namespace hushwell
