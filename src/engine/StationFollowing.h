#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/Clock.h"
#include "engine/Model.h"
#include "listen/PrintFile.h"

namespace hushwell {

// The schedule following the station: a mark whose audio was kept when Set was pressed switches
// when that audio is heard again, at the moment that matches the press, before or after the
// mark's clock time. Past the mark the schedule waits only the grace its hours before taught it
// (the lateness heard then plus a few seconds, at most kMaxGrace; none until the mark's audio was
// heard late), then the clock time applies, so a station without a jingle loses nothing. A mark
// without a print (typed by hand, edited since) keeps the clock's rule exactly.
//
// Times are seconds past the hour; the caller turns the moment a mark was heard into one. It
// reads no clock.
class StationFollowing {
public:
    static constexpr double kListenBefore = 120;  // a mark is listened for from this long before
    static constexpr double kListenAfter = 60;    // and heard this late it still teaches
    static constexpr double kGraceMargin = 5;
    static constexpr double kMaxGrace = 30;

    StationFollowing(const Model& model, std::string separator)
        : m_model(model), m_separator(std::move(separator)) {}

    void setOn(bool on) { m_on = on; }
    [[nodiscard]] bool on() const { return m_on; }

    // The mark `key` has a print, kept while its text was `markText`; none: it has none.
    void setPrinted(MarkKey key, const std::optional<std::string>& markText);
    // The audio of `key`'s press was heard at `secondOfHour`.
    void heard(MarkKey key, double secondOfHour);

    // The pair that holds the volume down at `time`, by the marks' clock times where nothing was
    // heard (then the same as pairHoldingDown).
    [[nodiscard]] std::optional<int> holding(const TimeOfDay& time);
    // The marks to listen for at `time`.
    [[nodiscard]] std::vector<MarkKey> listenedFor(const TimeOfDay& time);
    // The schedule switched to `level` at `time`, by pair `holding` (Down) or after `released`
    // held it (Up): what made it, for the tooltip and the log ("Down at :20:07, 7 s after the mark:
    // heard the break's start"); empty when a clock time without a print did, as always.
    void switched(Level level, std::optional<int> pair, const TimeOfDay& time);
    [[nodiscard]] const std::string& lastSwitch() const { return m_lastSwitch; }
    // Told each new lastSwitch().
    void onSwitch(std::function<void(const std::string&)> told) { m_told = std::move(told); }

private:
    struct MarkState {
        std::string text;                   // the mark's text its print was kept with
        std::optional<double> heardOffset;  // this hour: seconds from the mark to the audio
        std::optional<double> lateness;     // heard in the hours before: the latest offset
    };

    // The state of `key` when its print belongs to the mark as it stands now, with the mark's
    // second of the hour; the hour moved on first.
    [[nodiscard]] MarkState* followed(MarkKey key, double now, double* markSecond);
    [[nodiscard]] bool passed(MarkKey key, double now, const std::string& text,
                              const std::string& nowText);
    [[nodiscard]] double grace(const MarkState& state) const;
    [[nodiscard]] bool upIsHeard() const;
    [[nodiscard]] std::string markText(MarkKey key) const;
    [[nodiscard]] std::string explain(MarkKey key, const TimeOfDay& time);

    const Model& m_model;
    std::string m_separator;
    bool m_on = false;
    std::map<MarkKey, MarkState> m_marks;
    std::string m_lastSwitch;
    std::function<void(const std::string&)> m_told = [](const std::string&) {};
};

}  // namespace hushwell
