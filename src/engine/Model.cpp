#include "engine/Model.h"

#include "settings/TextNumbers.h"

namespace hushwell {

std::int32_t unitsPerPercentFor(std::int32_t scale) {
    return toInt32(scale / 100.0);
}

const std::string& Model::mark(Level row, int index) const {
    const SettingPair& pair = m_pairs.at(index);
    return row == Level::Down ? pair.down : pair.up;
}

std::int32_t Model::volume(Level level) const {
    // A level is at most 100 and the units at most 2^31 / 100: the product fits.
    return this->level(level) * m_unitsPerPercent;
}

void Model::setMark(Level row, int index, const std::string& text) {
    SettingPair& pair = m_pairs.at(index);
    std::string& mark = row == Level::Down ? pair.down : pair.up;
    if (mark != text) {
        mark = text;
        m_settingsChanged = true;
        m_listener(Change::Pair, index);
    }
}

void Model::setState(int index, PairState state) {
    SettingPair& pair = m_pairs.at(index);
    if (pair.state != state) {
        pair.state = state;
        pair.heldDown = false;
        m_settingsChanged = true;
        m_listener(Change::Pair, index);
    }
}

void Model::setLevel(Level level, int percent) {
    m_levels[index(level)] = percent;
    m_settingsChanged = true;
    m_listener(Change::Level, index(level));
}

void Model::setLastSent(Level level) {
    m_lastSent = level;
    m_listener(Change::Sent, 0);
}

void Model::setAwaited(Awaited awaited) {
    if (m_awaited != awaited) {
        m_awaited = awaited;
        m_listener(Change::Awaited, 0);
    }
}

void Model::volumeReported(const VolumeEvent& event) {
    using Kind = VolumeEvent::Kind;
    if (event.kind == Kind::Refused && m_appliedVolume == event.value) {
        m_appliedVolume = std::nullopt;
    }
    if (event.kind == Kind::NoOutput) {
        setAwaited(Awaited::Output);
    } else if (m_awaited == Awaited::Output &&
               (event.kind == Kind::OutputChanged || event.kind == Kind::ServerBack ||
                event.kind == Kind::Taken)) {
        setAwaited(Awaited::Nothing);
    }
}

void Model::scheduleApplied(Level level, std::optional<int> holding) {
    m_appliedVolume = volume(level);
    for (int i = 0; i < kPairCount; ++i) {
        const bool held = level == Level::Down ? (m_pairs[i].heldDown || i == holding) : false;
        if (m_pairs[i].heldDown != held) {
            m_pairs[i].heldDown = held;
            m_listener(Change::Pair, i);
        }
    }
    setLastSent(level);
}

}  // namespace hushwell
