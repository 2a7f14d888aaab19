#include "engine/Pairs.h"

#include <stdexcept>

#include "engine/Numbers.h"

namespace hushwell {

PairColour colourForState(int active) {
    return active == kActive ? PairColour::WindowBackground : PairColour::ButtonFace;
}

const SettingPair& Pairs::operator[](int index) const {
    return m_pairs.at(index);
}

const std::string& Pairs::mark(Row row, int index) const {
    const SettingPair& pair = m_pairs.at(index);
    return row == Row::Down ? pair.down : pair.up;
}

void Pairs::setMark(Row row, int index, const std::string& text) {
    SettingPair& pair = m_pairs.at(index);
    std::string& mark = row == Row::Down ? pair.down : pair.up;
    if (mark == text) {
        return;
    }
    mark = text;
    notify(Change::Mark, index);
}

void Pairs::setActive(int index, int state) {
    if (state != kInactive && state != kActive && state != kGreyed) {
        throw RunTimeError("an Active state must be 0, 1 or 2, not " + std::to_string(state));
    }
    SettingPair& pair = m_pairs.at(index);
    if (pair.active == state) {
        return;
    }
    pair.active = state;
    notify(Change::Active, index);
    setColour(index, colourForState(state));
}

void Pairs::setColour(int index, PairColour colour) {
    SettingPair& pair = m_pairs.at(index);
    if (pair.colour == colour) {
        return;
    }
    pair.colour = colour;
    notify(Change::Colour, index);
}

void Pairs::notify(Change change, int index) const {
    if (m_listener) {
        m_listener(change, index);
    }
}

}  // namespace hushwell
