#pragma once

#include <array>
#include <functional>
#include <string>

namespace hushwell {

constexpr int kPairCount = 8;

// The two rows of marks of the pair grid.
enum class Row { Down, Up };

// The three backgrounds a pair's two mark boxes can have.
enum class PairColour {
    WindowBackground,  // an active pair (state 1)
    ButtonFace,        // an inactive pair (state 0 or 2)
    LightGreen,        // the pair that matched when the volume was last lowered
};

// Active states of a pair, as its check box holds them.
constexpr int kInactive = 0;
constexpr int kActive = 1;
constexpr int kGreyed = 2;  // only from a hand-edited settings file; scanned as active

struct SettingPair {
    std::string down = "00:00";
    std::string up = "00:00";
    int active = kActive;
    PairColour colour = PairColour::WindowBackground;
};

// The colour the pair colouring rule gives an Active state: only state 1 is an active pair.
[[nodiscard]] PairColour colourForState(int active);

// The eight schedule pairs. Every setter reports a change to the listener only when the value
// really changes; a changed Active state also recolours its pair by the colouring rule.
class Pairs {
public:
    enum class Change { Mark, Active, Colour };
    using Listener = std::function<void(Change, int index)>;

    void setListener(Listener listener) { m_listener = std::move(listener); }

    [[nodiscard]] const SettingPair& operator[](int index) const;
    [[nodiscard]] const std::string& mark(Row row, int index) const;

    void setMark(Row row, int index, const std::string& text);
    // Throws RunTimeError for a state other than 0, 1 or 2, as the check box refuses it.
    void setActive(int index, int state);
    void setColour(int index, PairColour colour);

private:
    void notify(Change change, int index) const;

    std::array<SettingPair, kPairCount> m_pairs{};
    Listener m_listener;
};

}  // namespace hushwell
