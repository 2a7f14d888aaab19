#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "mixer/MasterVolume.h"
#include "platform/Level.h"
#include "settings/SettingsStore.h"

namespace hushwell {

// The values the settings file stores; Greyed comes only from a hand-edited file.
enum class PairState { Off = 0, On = 1, Greyed = 2 };

constexpr int kMaxLevel = 100;  // levels are whole percent, 0 to kMaxLevel
// The levels before any are read or set: what the sliders show when the window opens.
constexpr int kStartingDownLevel = 20;
constexpr int kStartingUpLevel = kMaxLevel;
// A mark that names no time yet: every mark of a new pair, and of pairs cleared.
constexpr const char* kBlankMark = "00:00";

// One of the eight schedule pairs.
struct SettingPair {
    std::string down = kBlankMark;
    std::string up = kBlankMark;
    PairState state = PairState::On;
    bool heldDown = false;  // matched when the schedule last lowered the volume
};

// What the volume waits for before the schedule can reach it.
enum class Awaited {
    Nothing,
    SoundServer,  // a start with the desktop, before the sound server answers
    Output,       // the system has no output yet (Windows at log-in)
};

// Mixer units per percent for a volume whose scale runs to `scale`: scale / 100, rounded half to
// even (65535 gives 655, 250 gives 2).
[[nodiscard]] std::int32_t unitsPerPercentFor(std::int32_t scale);

// Everything the program knows: the eight pairs, the two levels, the mixer's units per percent,
// the volume the schedule applied last and the level last sent to the mixer, and whether there
// are unsaved edits. The window shows it; every change that it shows is reported to the listener.
class Model {
public:
    enum class Change { Pair, Level, Sent, Awaited };
    // `index`: the pair for Pair, static_cast<int>(Level) for Level, 0 for Sent and Awaited.
    using Listener = std::function<void(Change, int index)>;

    void setListener(Listener listener) { m_listener = std::move(listener); }

    [[nodiscard]] const std::array<SettingPair, kPairCount>& pairs() const { return m_pairs; }
    [[nodiscard]] const std::string& mark(Level row, int index) const;
    [[nodiscard]] int level(Level level) const { return m_levels[index(level)]; }
    [[nodiscard]] std::int32_t unitsPerPercent() const { return m_unitsPerPercent; }
    // The level in the mixer's units.
    [[nodiscard]] std::int32_t volume(Level level) const;
    // The volume the schedule asked for last, unless the mixer refused it; empty while none is
    // known to be in force.
    [[nodiscard]] std::optional<std::int32_t> appliedVolume() const { return m_appliedVolume; }
    // The level last sent to the mixer, by the schedule or a move of its slider; none at first.
    [[nodiscard]] std::optional<Level> lastSent() const { return m_lastSent; }
    [[nodiscard]] bool settingsChanged() const { return m_settingsChanged; }
    [[nodiscard]] Awaited awaited() const { return m_awaited; }

    // Edits, which leave unsaved changes when they change anything. A new state also ends the
    // pair's mark of having lowered the volume.
    void setMark(Level row, int index, const std::string& text);
    void setState(int index, PairState state);
    void setLevel(Level level, int percent);
    void setSettingsChanged(bool changed) { m_settingsChanged = changed; }

    void setUnitsPerPercent(std::int32_t units) { m_unitsPerPercent = units; }
    // The volume the schedule takes to be in force (none: not known), without a change of what
    // was sent.
    void setAppliedVolume(std::optional<std::int32_t> volume) { m_appliedVolume = volume; }
    void setLastSent(Level level);
    void setAwaited(Awaited awaited);
    // The schedule applied `level`: Down because pair `holding` holds the volume down, Up with no
    // pair holding it, when every pair loses its mark.
    void scheduleApplied(Level level, std::optional<int> holding);
    // What the volume's owner reports: a refused value that the schedule counted on is no longer
    // in force, so that the next tick applies it again; whether there is an output (a value taken
    // says there is).
    void volumeReported(const VolumeEvent& event);

private:
    static int index(Level level) { return static_cast<int>(level); }

    std::array<SettingPair, kPairCount> m_pairs{};
    std::array<int, 2> m_levels{kStartingDownLevel, kStartingUpLevel};
    std::int32_t m_unitsPerPercent = 0;
    std::optional<std::int32_t> m_appliedVolume = 0;
    std::optional<Level> m_lastSent;
    bool m_settingsChanged = false;
    Awaited m_awaited = Awaited::Nothing;
    Listener m_listener = [](Change, int) {};
};

}  // namespace hushwell
