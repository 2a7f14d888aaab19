#include "engine/NextChange.h"

#include "engine/Tick.h"
#include "engine/TimeText.h"

namespace hushwell {
namespace {

constexpr int kSecondsPerHour = 3600;

std::optional<int> twoDigitNumber(const std::string& text, std::size_t at) {
    const auto digit = [&text](std::size_t i) { return text[i] >= '0' && text[i] <= '9'; };
    if (!digit(at) || !digit(at + 1)) {
        return std::nullopt;
    }
    return (text[at] - '0') * 10 + (text[at + 1] - '0');
}

std::string durationText(int seconds, const std::string& separator) {
    const int second = seconds % 60;
    return std::to_string(seconds / 60) + separator + (second < 10 ? "0" : "") +
           std::to_string(second);
}

}  // namespace

std::optional<NextChange> nextChange(const std::array<SettingPair, kPairCount>& pairs,
                                     const std::string& now) {
    if (now.size() < 4) {
        return std::nullopt;
    }
    const std::optional<int> minute = twoDigitNumber(now, 0);
    const std::optional<int> second = twoDigitNumber(now, now.size() - 2);
    if (!minute || !second || *minute > 59 || *second > 59) {
        return std::nullopt;
    }
    const std::string separator = now.substr(2, now.size() - 4);
    const int start = *minute * 60 + *second;
    const auto textAt = [&](int offset) {
        const int at = (start + offset) % kSecondsPerHour;
        return timeText(TimeOfDay{0, at / 60, at % 60, 0}, separator);
    };
    const auto heldAt = [&](int offset) {
        return pairHoldingDown(pairs, textAt(offset)).has_value();
    };

    // Marks are compared as text, and text that is not "mm:ss" orders in ways of its own: only the
    // seconds themselves, each judged as the tick judges it, tell where the volume changes.
    const bool heldNow = heldAt(0);
    for (int offset = 1; offset < kSecondsPerHour; ++offset) {
        if (heldAt(offset) != heldNow) {
            return heldNow ? NextChange{NextChange::Kind::Down, textAt(offset), offset, separator}
                           : NextChange{NextChange::Kind::Up, textAt(offset - 1), offset - 1,
                                        separator};
        }
    }
    return NextChange{
        heldNow ? NextChange::Kind::DownAlways : NextChange::Kind::NoBreak, {}, 0, separator};
}

std::string nextChangeText(const NextChange& change) {
    return nextChangeText(change, false);
}

std::string nextChangeText(const NextChange& change, bool listening) {
    const std::string& separator = change.separator;
    const std::string left = durationText(change.seconds, separator);
    switch (change.kind) {
        case NextChange::Kind::Up:
            return "Up - next break at " + separator + change.mark + ", " +
                   (listening ? "listening" : "in " + left);
        case NextChange::Kind::Down:
            return "Down until " + separator + change.mark + ", " +
                   (listening ? "listening" : left + " left");
        case NextChange::Kind::DownAlways:
            return "Down all the hour";
        case NextChange::Kind::NoBreak:
            break;
    }
    return "No pair active";
}

}  // namespace hushwell
