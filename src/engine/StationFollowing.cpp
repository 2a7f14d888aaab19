#include "engine/StationFollowing.h"

#include <cmath>

#include "engine/TimeText.h"

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

}  // namespace

void StationFollowing::setPrinted(MarkKey key, const std::optional<std::string>& markText) {
    if (!markText) {
        m_marks.erase(key);
        return;
    }
    MarkState& state = m_marks[key];
    if (state.text != *markText) {
        state = MarkState{*markText, {}, {}};
    }
}

StationFollowing::MarkState* StationFollowing::followed(MarkKey key, double now, double* second) {
    const auto found = m_marks.find(key);
    if (found == m_marks.end() || found->second.text != markText(key)) {
        return nullptr;
    }
    const std::optional<int> mark = markSecond(found->second.text, m_separator);
    if (!mark || (key.edge == MarkEdge::Up && !upIsHeard())) {
        return nullptr;
    }
    MarkState& state = found->second;
    if (apart(now, *mark) < -kListenBefore && state.heardOffset) {
        // The hour of what was heard is over: it teaches the next one.
        state.lateness = state.heardOffset;
        state.heardOffset.reset();
    }
    *second = *mark;
    return &state;
}

// Where the mark is not in its window, or has no print, the clock's rule (that of
// pairHoldingDown): a Down mark is passed after its second, an Up mark from its second on.
bool StationFollowing::passed(MarkKey key, double now, const std::string& text,
                              const std::string& nowText) {
    double mark = 0;
    if (const MarkState* state = followed(key, now, &mark)) {
        const double delta = apart(now, mark);
        const double wait = grace(*state);
        // Past the grace, the clock's rule as if the mark were that much later: a Down mark
        // passes once its whole second is over, an Up mark as its second begins.
        const bool waiting = key.edge == MarkEdge::Down ? delta < wait + 1 : delta < wait;
        if (delta >= -kListenBefore && waiting) {
            return state->heardOffset && *state->heardOffset <= wait &&
                   delta >= *state->heardOffset;
        }
    }
    return key.edge == MarkEdge::Down ? textLess(text, nowText) : !textLess(nowText, text);
}

double StationFollowing::grace(const MarkState& state) const {
    if (!state.lateness || *state.lateness <= 0) {
        return 0;
    }
    return std::min(kMaxGrace, *state.lateness + kGraceMargin);
}

// Lowered to nothing, the end of a break is silence: there is nothing to hear.
bool StationFollowing::upIsHeard() const {
    return m_model.level(Level::Down) > 0;
}

std::string StationFollowing::markText(MarkKey key) const {
    return m_model.mark(key.edge == MarkEdge::Down ? Level::Down : Level::Up, key.pair);
}

void StationFollowing::heard(MarkKey key, double secondOfHour) {
    double mark = 0;
    MarkState* state = followed(key, secondOfHour, &mark);
    if (state == nullptr || state->heardOffset) {
        return;
    }
    const double offset = apart(secondOfHour, mark);
    if (offset >= -kListenBefore && offset <= kListenAfter + kGraceMargin) {
        state->heardOffset = offset;
    }
}

std::optional<int> StationFollowing::holding(const TimeOfDay& time) {
    const std::string nowText = timeText(time, m_separator);
    const double now = secondOfHour(time);
    const auto& pairs = m_model.pairs();
    for (int i = 0; i < kPairCount; ++i) {
        const SettingPair& pair = pairs[i];
        if (pair.state != PairState::Off && textLess(pair.down, pair.up) &&
            passed({i, MarkEdge::Down}, now, pair.down, nowText) &&
            !passed({i, MarkEdge::Up}, now, pair.up, nowText)) {
            return i;
        }
    }
    return std::nullopt;
}

std::vector<MarkKey> StationFollowing::listenedFor(const TimeOfDay& time) {
    const double now = secondOfHour(time);
    std::vector<MarkKey> keys;
    for (auto& [key, state] : m_marks) {
        double mark = 0;
        if (followed(key, now, &mark) != nullptr && !state.heardOffset) {
            const double delta = apart(now, mark);
            if (delta >= -kListenBefore && delta <= kListenAfter) {
                keys.push_back(key);
            }
        }
    }
    return keys;
}

void StationFollowing::switched(Level level, std::optional<int> pair, const TimeOfDay& time) {
    m_lastSwitch =
        pair ? explain({*pair, level == Level::Down ? MarkEdge::Down : MarkEdge::Up}, time) : "";
    if (!m_lastSwitch.empty()) {
        m_told(m_lastSwitch);
    }
}

std::string StationFollowing::explain(MarkKey key, const TimeOfDay& time) {
    const bool down = key.edge == MarkEdge::Down;
    const std::string what = down ? "Down" : "Up";
    const std::string edge = down ? "the break's start" : "the break's end";
    const auto at = [this](double second) {
        const int whole = static_cast<int>(std::floor(apart(second, kHour / 2) + kHour / 2));
        return m_separator + timeText({0, whole / 60, whole % 60, 0}, m_separator);
    };
    const double now = secondOfHour(time);
    double mark = 0;
    const MarkState* state = followed(key, now, &mark);
    if (state == nullptr) {
        const auto found = m_marks.find(key);
        if (!down && !upIsHeard() && found != m_marks.end() &&
            found->second.text == markText(key)) {
            return "Up at " + at(now) +
                   ", the mark's time: at a Down level of 0 the end of a break cannot be heard";
        }
        return "";
    }
    if (state->heardOffset && *state->heardOffset <= grace(*state)) {
        return what + " at " + at(mark + *state->heardOffset) + ", " +
               relative(*state->heardOffset) + ": heard " + edge;
    }
    return what + " at " + at(now) + ", " + relative(apart(now, mark)) + ": " + edge +
           " was not heard";
}

}  // namespace hushwell
