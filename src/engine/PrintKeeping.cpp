#include "engine/PrintKeeping.h"

#include <algorithm>
#include <cmath>

namespace hushwell {

namespace {

constexpr double kHour = 3600;

MarkKey keyOf(MarkKey key, int pair) {
    return {pair, key.edge};
}

}  // namespace

double PrintKeeping::movedBy(MarkKey key) const {
    const auto found = m_prints.find(key);
    return found == m_prints.end() ? 0 : found->second.movedBy;
}

std::string PrintKeeping::markText(MarkKey key) const {
    return m_model.mark(key.edge, key.pair);
}

// The mark `key` was written over: its print, and the press awaited on it, go.
void PrintKeeping::forget(MarkKey key) {
    m_prints.erase(key);
    std::erase_if(m_presses, [key](const auto& press) { return press.second.mark == key; });
}

void PrintKeeping::markAction(MarkAction action, MarkKey key) {
    switch (action) {
        case MarkAction::Stamped:
        case MarkAction::EditedByHand:
            forget(key);
            break;
        case MarkAction::MovedOn: {
            const MarkKey next = keyOf(key, key.pair + 1);
            const bool hasNext = next.pair < kPairCount;
            if (hasNext) {
                forget(next);
                if (const auto found = m_prints.find(key); found != m_prints.end()) {
                    m_prints[next] = found->second;
                }
            }
            for (auto press = m_presses.begin(); press != m_presses.end();) {
                if (press->second.mark == key && hasNext) {
                    (press++)->second.mark = next;
                } else if (press->second.mark == key) {
                    press = m_presses.erase(press);
                } else {
                    ++press;
                }
            }
            m_prints.erase(key);
            break;
        }
        case MarkAction::Cleared:
            m_prints.clear();
            m_presses.clear();
            break;
        case MarkAction::Saved:
            m_filed = m_prints;
            break;
    }
}

void PrintKeeping::pressed(MarkKey key) {
    m_presses[key] = {key, markText(key)};
}

std::optional<PrintKeeping::Press> PrintKeeping::takePress(MarkKey pressedAs) {
    const auto press = m_presses.find(pressedAs);
    if (press == m_presses.end()) {
        return std::nullopt;
    }
    const Press made = press->second;
    m_presses.erase(press);
    if (markText(made.mark) != made.text) {
        return std::nullopt;
    }
    return made;
}

std::optional<MarkKey> PrintKeeping::kept(MarkKey pressedAs, const MarkPrint& print,
                                          double movedBy) {
    const std::optional<Press> made = takePress(pressedAs);
    if (!made) {
        return std::nullopt;
    }
    m_prints[made->mark] = {made->text, print, movedBy};
    if (!m_model.settingsChanged()) {  // the mark is saved as the press wrote it
        m_filed[made->mark] = m_prints[made->mark];
    }
    return made->mark;
}

std::optional<std::string> PrintKeeping::silent(MarkKey pressedAs) {
    const std::optional<Press> made = takePress(pressedAs);
    if (!made) {
        return std::nullopt;
    }
    return made->text;
}

bool PrintKeeping::refined(MarkKey key, const MarkPrint& print) {
    const auto listened = m_listening.find(key);
    const auto stored = m_prints.find(key);
    if (listened == m_listening.end() || stored == m_prints.end() ||
        stored->second.markText != listened->second || markText(key) != listened->second) {
        return false;
    }
    stored->second.print = print;
    if (const auto filed = m_filed.find(key);
        filed != m_filed.end() && filed->second.markText == listened->second) {
        filed->second.print = print;
    }
    return true;
}

bool PrintKeeping::dropStale() {
    const auto stale = [this](const auto& print) {
        return print.second.markText != markText(print.first);
    };
    const bool dropped = std::erase_if(m_prints, stale) > 0;
    return (!m_model.settingsChanged() && std::erase_if(m_filed, stale) > 0) || dropped;
}

PrintKeeping::Listening PrintKeeping::listen(const std::vector<MarkKey>& wanted) {
    Listening change;
    for (auto key = m_listening.begin(); key != m_listening.end();) {
        const bool still = std::find(wanted.begin(), wanted.end(), key->first) != wanted.end() &&
                           markText(key->first) == key->second;
        if (still) {
            ++key;
        } else {
            change.stop.push_back(key->first);
            key = m_listening.erase(key);
        }
    }
    for (const MarkKey& key : wanted) {
        const std::string text = markText(key);
        const MarkPrint* print = printFor(m_prints, key, text);
        if (print != nullptr && m_listening.emplace(key, text).second) {
            change.start.emplace_back(key, *print);
        }
    }
    return change;
}

double PrintKeeping::secondOfHour(const TimeOfDay& now, double captured, double then) {
    const double second =
        now.minute * 60 + now.second + now.millisecond / 1000.0 - (captured - then);
    const double wrapped = std::fmod(second, kHour);
    return wrapped < 0 ? wrapped + kHour : wrapped;
}

}  // namespace hushwell
