#include "engine/StationFollowing.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "engine/NextChange.h"
#include "engine/Tick.h"
#include "engine/TimeText.h"
#include "listen/PrintFile.h"

namespace hushwell {

namespace {

constexpr double kHour = 3600;

double secondOfHour(const TimeOfDay& time) {
    return time.minute * 60 + time.second + time.millisecond / 1000.0;
}

// `a` less `b`, as the nearer way round the hour: a mark at :00:10 heard at :59:55 was heard 15 s
// before it.
double apart(double a, double b) {
    double difference = std::fmod(a - b + kHour * 1.5, kHour);
    if (difference < 0) {
        difference += kHour;
    }
    return difference - kHour / 2;
}

// The second of the hour a stamped mark names ("20:07"); none for any other text.
std::optional<int> markSecond(const std::string& text, const std::string& separator) {
    if (text.size() != 4 + separator.size() || text.compare(2, separator.size(), separator) != 0) {
        return std::nullopt;
    }
    const std::string digits = text.substr(0, 2) + text.substr(2 + separator.size());
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
    }
    const int minute = std::stoi(digits.substr(0, 2));
    const int second = std::stoi(digits.substr(2));
    if (minute > 59 || second > 59) {
        return std::nullopt;
    }
    return minute * 60 + second;
}

std::string relative(double offset) {
    const long seconds = std::lround(offset);
    if (seconds == 0) {
        return "at the mark";
    }
    return std::to_string(std::labs(seconds)) + (seconds > 0 ? " s after" : " s before") +
           " the mark";
}

std::string lateness(double offset) {
    const long seconds = std::lround(offset);
    if (seconds == 0) {
        return "on time";
    }
    return std::to_string(std::labs(seconds)) + (seconds > 0 ? " s late" : " s early");
}

}  // namespace

struct StationFollowing::Marks : std::map<MarkKey, MarkState> {};

StationFollowing::StationFollowing(const Model& model, std::string separator)
    : m_model(model), m_separator(std::move(separator)), m_marks(std::make_unique<Marks>()) {}

StationFollowing::~StationFollowing() = default;

std::optional<MarkKey> StationFollowing::heard(MarkKey key, double secondOfHour) {
    return heard(std::vector{key}, secondOfHour);
}

bool StationFollowing::endIsHeard(int percent) {
    // 60 log10(p / 100) dB at p percent; the smallest whole percent at or above the limit.
    const double least = 100 * std::pow(10.0, kSilentGainDb / 60);
    return percent > 0 && percent >= std::ceil(least - 1e-9);
}

void StationFollowing::setPrinted(MarkKey key, const std::optional<std::string>& markText,
                                  double movedBy) {
    if (!markText) {
        m_marks->erase(key);
        return;
    }
    MarkState& state = (*m_marks)[key];
    if (state.text != *markText || state.movedBy != movedBy) {
        state = MarkState{*markText, movedBy, {}, false};
    }
}

void StationFollowing::advance(double now) {
    if (m_lastSound && std::abs(apart(now, *m_lastSound)) > kNextHour) {
        m_lastSound.reset();
    }
    for (auto& [key, state] : *m_marks) {
        const std::optional<int> mark = markSecond(state.text, m_separator);
        if (mark && apart(now, *mark + state.movedBy) < -kNextHour) {
            state.heardOffset.reset();
            state.passedByClock = false;
            state.awaited = false;
        }
    }
}

const StationFollowing::MarkState* StationFollowing::followed(MarkKey key, double* second) const {
    const auto found = m_marks->find(key);
    if (found == m_marks->end() || found->second.text != markText(key)) {
        return nullptr;
    }
    const std::optional<int> mark = markSecond(found->second.text, m_separator);
    if (!mark || (key.edge == Level::Up && !upIsHeard())) {
        return nullptr;
    }
    *second = *mark + found->second.movedBy;
    return &found->second;
}

// Where the mark is not in its window, or has no print, the clock's rule (that of
// pairHoldingDown): a Down mark is passed after its second, an Up mark from its second on.
bool StationFollowing::passed(MarkKey key, double now) {
    const std::string text = markText(key);
    const int whole = static_cast<int>(std::floor(now));
    const std::string nowText = timeText({0, whole / 60, whole % 60, 0}, m_separator);
    const bool byClock =
        key.edge == Level::Down ? textLess(text, nowText) : !textLess(nowText, text);
    double mark = 0;
    if (const MarkState* found = followed(key, &mark)) {
        MarkState& state = editable(*found);
        const double delta = apart(now, mark);
        const double wait = grace();
        // Past the grace, the clock's rule as if the mark were that much later: a Down mark
        // passes once its whole second is over, an Up mark as its second begins.
        const double end = key.edge == Level::Down ? wait + 1 : wait;
        if (delta >= -kNextHour && delta < end) {
            return state.passedByClock ||
                   (state.heardOffset && *state.heardOffset <= wait && delta >= *state.heardOffset);
        }
        // Switched by the clock, it stays switched when a later delay would lengthen the wait.
        if (byClock && delta >= end && delta <= kNextHour) {
            state.passedByClock = true;
        }
    }
    return byClock;
}

bool StationFollowing::holds(int pair, double now) {
    const SettingPair& marks = m_model.pairs()[pair];
    return marks.state != PairState::Off && textLess(marks.down, marks.up) &&
           passed({pair, Level::Down}, now) && !passed({pair, Level::Up}, now);
}

double StationFollowing::grace() const {
    if (!m_delay || *m_delay <= 0) {
        return 0;
    }
    return std::min(kMaxGrace, *m_delay + kGraceMargin);
}

double StationFollowing::earliest() const {
    return -(kMaxGrace + std::clamp(-m_delay.value_or(0), 0.0, kMaxGrace));
}

double StationFollowing::latest() const {
    return std::max(grace(), kLearnLate);
}

bool StationFollowing::upIsHeard() const {
    return m_beforeVolume || endIsHeard(m_model.level(Level::Down));
}

std::string StationFollowing::markText(MarkKey key) const {
    return m_model.mark(key.edge, key.pair);
}

// Whether a sound at `second` may be `key`'s: a Down outside the other pairs' held breaks; an Up
// once its Down has passed, and nearer its own time than its Down's when that was not heard.
bool StationFollowing::fits(MarkKey key, double second) {
    if (key.edge == Level::Down) {
        for (int other = 0; other < kPairCount; ++other) {
            if (other != key.pair && holds(other, second)) {
                return false;
            }
        }
        return true;
    }
    const MarkKey down{key.pair, Level::Down};
    if (!passed(down, second)) {
        return false;
    }
    double downMark = 0;
    double upMark = 0;
    const MarkState* downState = followed(down, &downMark);
    if (downState == nullptr || downState->heardOffset || followed(key, &upMark) == nullptr) {
        return true;
    }
    const double expected = m_delay.value_or(0);
    return std::abs(apart(second, upMark + expected)) <
           std::abs(apart(second, downMark + expected));
}

std::optional<MarkKey> StationFollowing::heard(const std::vector<MarkKey>& keys,
                                               double secondOfHour) {
    advance(secondOfHour);
    if (m_lastSound && std::abs(apart(secondOfHour, *m_lastSound)) < kSameSound) {
        return std::nullopt;
    }
    std::optional<MarkKey> chosen;
    double nearest = 0;
    for (const MarkKey& key : keys) {
        double mark = 0;
        const MarkState* state = followed(key, &mark);
        if (state == nullptr || state->heardOffset) {
            continue;
        }
        const double offset = apart(secondOfHour, mark);
        if (offset < earliest() || offset > latest() || !fits(key, secondOfHour)) {
            continue;
        }
        const double distance = std::abs(offset - m_delay.value_or(0));
        if (!chosen || distance < nearest) {
            chosen = key;
            nearest = distance;
        }
    }
    if (chosen) {
        double mark = 0;
        MarkState& state = editable(*followed(*chosen, &mark));
        state.heardOffset = apart(secondOfHour, mark);
        m_delay = state.heardOffset;
        m_lastSound = secondOfHour;
    }
    return chosen;
}

std::optional<int> StationFollowing::holding(const TimeOfDay& time) {
    const double now = secondOfHour(time);
    advance(now);
    for (int i = 0; i < kPairCount; ++i) {
        if (holds(i, now)) {
            return i;
        }
    }
    return std::nullopt;
}

std::vector<MarkKey> StationFollowing::listenedFor(const TimeOfDay& time) {
    const double now = secondOfHour(time);
    advance(now);
    std::vector<MarkKey> keys;
    for (const auto& [key, state] : *m_marks) {
        double mark = 0;
        if (followed(key, &mark) != nullptr && !state.heardOffset) {
            const double delta = apart(now, mark);
            if (delta >= earliest() - kListenLead && delta <= latest()) {
                keys.push_back(key);
                editable(state).awaited = editable(state).awaited || delta <= 0;
            }
        }
    }
    return keys;
}

std::optional<double> StationFollowing::untilHeard(const TimeOfDay& time) const {
    const double now = secondOfHour(time);
    std::optional<double> soonest;
    for (const auto& [key, state] : *m_marks) {
        double mark = 0;
        if (followed(key, &mark) == nullptr || !state.heardOffset || state.passedByClock ||
            *state.heardOffset > grace()) {
            continue;
        }
        const double ahead = *state.heardOffset - apart(now, mark);
        if (ahead > 0 && ahead <= kMaxGrace && (!soonest || ahead < *soonest)) {
            soonest = ahead;
        }
    }
    return soonest;
}

void StationFollowing::switched(Level level, std::optional<int> pair, const TimeOfDay& time) {
    m_lastSwitch = pair ? explain({*pair, level}, time) : "";
    if (!m_lastSwitch.empty()) {
        m_told(m_lastSwitch);
    }
}

std::string StationFollowing::explain(MarkKey key, const TimeOfDay& time) {
    const bool down = key.edge == Level::Down;
    const std::string what = down ? "Down" : "Up";
    const auto at = [this](double second) {
        const int whole = static_cast<int>(std::floor(apart(second, kHour / 2) + kHour / 2));
        return m_separator + timeText({0, whole / 60, whole % 60, 0}, m_separator);
    };
    const double now = secondOfHour(time);
    double mark = 0;
    const MarkState* state = followed(key, &mark);
    if (state == nullptr) {
        const auto found = m_marks->find(key);
        if (!down && !upIsHeard() && found != m_marks->end() &&
            found->second.text == markText(key)) {
            return "Up at " + at(now) + ", the mark's time: at a Down level of " +
                   std::to_string(m_model.level(Level::Down)) +
                   " the end of a break cannot be heard";
        }
        return "";
    }
    if (state->heardOffset && !state->passedByClock && *state->heardOffset <= grace()) {
        return what + " at " + at(mark + *state->heardOffset) + ", heard " +
               lateness(*state->heardOffset);
    }
    if (!state->awaited) {  // not listened for in time (a start during the break): the clock
        return "";
    }
    return what + " at " + at(now) + ", " + relative(apart(now, mark - state->movedBy)) + ": " +
           (down ? "the break's start" : "the break's end") + " was not heard";
}

std::string StationFollowing::outlook(const std::string& now, bool down) const {
    const auto& pairs = m_model.pairs();
    const std::optional<NextChange> next = nextChange(pairs, now);
    if (!next || !m_on) {
        return next ? nextChangeText(*next) : "";
    }
    const double nowSecond = std::stoi(now) * 60 + std::stoi(now.substr(now.size() - 2));
    const auto printed = [this](MarkKey key) {
        double mark = 0;
        return followed(key, &mark) != nullptr;
    };
    // The change to the mark `text` of `edge`, with "listening" once its print is listened for.
    const auto change = [&](NextChange::Kind kind, const std::string& text, Level edge) {
        const std::optional<int> second = markSecond(text, m_separator);
        // A mark passed is still awaited while its grace lasts.
        const double until = second ? apart(*second, nowSecond) : kHour;
        const NextChange said{kind, text, static_cast<int>(std::fmod(until + kHour, kHour)),
                              m_separator};
        // A mark passed is awaited through its grace, a Down mark to its second's end.
        const bool listening = until <= kListenLead - earliest() && until >= -(latest() + 1);
        bool printedMark = false;
        for (int pair = 0; pair < kPairCount; ++pair) {
            const MarkKey key{pair, edge};
            printedMark = printedMark || (markText(key) == text && printed(key));
        }
        return nextChangeText(said, listening && printedMark);
    };
    const bool clockDown =
        next->kind == NextChange::Kind::Down || next->kind == NextChange::Kind::DownAlways;
    if (down == clockDown) {
        if (next->kind == NextChange::Kind::Up) {
            return change(next->kind, next->mark, Level::Down);
        }
        return next->kind == NextChange::Kind::Down ? change(next->kind, next->mark, Level::Up)
                                                    : nextChangeText(*next);
    }
    if (down) {  // heard before the clock's Down, or waiting past its Up
        for (const SettingPair& pair : pairs) {
            if (pair.heldDown) {
                return change(NextChange::Kind::Down, pair.up, Level::Up);
            }
        }
        return nextChangeText(*next);
    }
    // Up while the clock holds: the break's start is awaited, or its end was heard early.
    const std::optional<int> held = pairHoldingDown(pairs, now);
    if (!held) {
        return nextChangeText(*next);
    }
    const auto downState = m_marks->find({*held, Level::Down});
    if (downState == m_marks->end() || !downState->second.heardOffset) {
        return change(NextChange::Kind::Up, pairs[*held].down, Level::Down);
    }
    const std::optional<NextChange> after = nextChange(pairs, pairs[*held].up);
    return after && after->kind == NextChange::Kind::Up
               ? change(NextChange::Kind::Up, after->mark, Level::Down)
               : nextChangeText(*next);
}

}  // namespace hushwell
