#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/Clock.h"
#include "engine/Model.h"

namespace hushwell {

// Which mark a print belongs to (listen/PrintFile.h). Only declared here: the window holds the
// core, and nothing of listen/ is in its sight.
struct MarkKey;

// The schedule following the station: a mark whose audio was kept when Set was pressed switches
// when that audio is heard again, at the moment that matches the press, before or after the
// mark's clock time. A mark without a print (typed by hand, edited since) keeps the clock's rule
// exactly.
//
// One jingle often opens and closes a break, so one sound may match several marks' prints: it is
// given to one edge at most, the one whose order fits (a pair's Up only once its Down has passed
// and the sound is nearer the Up than the Down; a Down not inside another pair's held break) and
// whose expected time is nearest. A sound is an edge only near its mark: from kMaxGrace before it
// (more by as much as the stream was early) to the grace after it, so a jingle played again
// inside a break, or another break's, is no edge. The stream has one delay, that of the edge heard
// last (early or late): every edge waits for it past its clock time, plus a margin, at most
// kMaxGrace; then the clock time applies, so following is never worse than the clock. While no
// delay is known, an edge the clock switched still teaches one when it is heard up to kLearnLate
// after its mark, not later: a jingle played again later in the break is no delay.
//
// Times are seconds past the hour; the caller turns the moment a mark was heard into one. It
// reads no clock.
class StationFollowing {
public:
    static constexpr double kMaxGrace = 30;
    static constexpr double kGraceMargin = 5;
    static constexpr double kLearnLate = 10;
    // A mark is listened for from this long before the earliest it may be heard: what the matcher
    // hears before the moment of the press.
    static constexpr double kListenLead = 5;
    // What was heard belongs to the next hour once its mark is this far ahead.
    static constexpr double kNextHour = 120;
    // Matches closer together than this are one sound (the opening jingle matching a Down and an
    // Up print a moment apart).
    static constexpr double kSameSound = 8;
    // The server's volume is cubic: a level of p percent scales the samples by (p/100)^3. Lowered
    // by more than this, a captured break is as good as silence, and its end cannot be heard.
    static constexpr double kSilentGainDb = -60;

    StationFollowing(const Model& model, std::string separator);
    ~StationFollowing();
    StationFollowing(const StationFollowing&) = delete;
    StationFollowing& operator=(const StationFollowing&) = delete;

    void setOn(bool on) { m_on = on; }
    [[nodiscard]] bool on() const { return m_on; }

    // The mark `key` has a print, kept while its text was `markText`, whose audio begins
    // `movedBy` seconds after the mark (a press in silence); none: it has none.
    void setPrinted(MarkKey key, const std::optional<std::string>& markText, double movedBy = 0);
    // A sound matched the prints of `keys` at `secondOfHour`: the edge it is given to, if any.
    std::optional<MarkKey> heard(const std::vector<MarkKey>& keys, double secondOfHour);
    std::optional<MarkKey> heard(MarkKey key, double secondOfHour);

    // The pair that holds the volume down at `time`, by the marks' clock times where nothing was
    // heard (then the same as pairHoldingDown).
    [[nodiscard]] std::optional<int> holding(const TimeOfDay& time);
    // The marks to listen for at `time`.
    [[nodiscard]] std::vector<MarkKey> listenedFor(const TimeOfDay& time);
    // Seconds from `time` to the soonest heard edge whose moment is still to come (the print
    // holds the jingle's start before the press, so it can be told before that moment), for the
    // schedule to be evaluated then rather than at the next tick; none when no edge waits.
    [[nodiscard]] std::optional<double> untilHeard(const TimeOfDay& time) const;
    // The schedule switched to `level` at `time`, by pair `holding` (Down) or after `released`
    // held it (Up): what made it, for the tooltip and the log ("Down at :20:07, heard 7 s
    // late"); empty when a clock time without a print did, as always.
    void switched(Level level, std::optional<int> pair, const TimeOfDay& time);
    [[nodiscard]] const std::string& lastSwitch() const { return m_lastSwitch; }
    // Told each new lastSwitch().
    void onSwitch(std::function<void(const std::string&)> told) { m_told = std::move(told); }

    // What the schedule does next at the time text `now`, the volume being `down`, as the
    // tooltip says it: the clock's outlook, with "listening" where a print is listened for.
    [[nodiscard]] std::string outlook(const std::string& now, bool down) const;
    // The stream's delay: how late (negative: early) the edge heard last was.
    [[nodiscard]] std::optional<double> delay() const { return m_delay; }
    // Whether the end of a break can be heard at a Down level of `percent`, where what is heard
    // carries the output's volume.
    [[nodiscard]] static bool endIsHeard(int percent);
    // What is heard is the sound before the output's volume (the players' own streams): the end
    // of a break is heard at any Down level.
    void setHeardBeforeTheVolume(bool before) { m_beforeVolume = before; }
    // A line the tooltip shows while following ("20:07 was set in silence: no print kept").
    void setNotice(std::string notice) { m_notice = std::move(notice); }
    [[nodiscard]] const std::string& notice() const { return m_notice; }

private:
    struct MarkState {
        std::string text;                   // the mark's text its print was kept with
        double movedBy = 0;                 // the print's audio, from the mark
        std::optional<double> heardOffset;  // this hour: seconds from the mark to the audio
        bool passedByClock = false;         // this hour: its grace ran out, the clock switched
        bool awaited = false;  // this hour: listened for before its time, so "not heard" is news
    };
    struct Marks;  // the marks with a print, by key

    // The hour of what was heard is over for the marks more than kListenBefore ahead.
    void advance(double now);
    // The state of `key` while its print belongs to the mark as it stands now and can be heard,
    // with the second of the hour its audio is expected at, less the stream's delay.
    [[nodiscard]] const MarkState* followed(MarkKey key, double* markSecond) const;
    // A state followed() found in m_marks, to record what this hour heard.
    [[nodiscard]] static MarkState& editable(const MarkState& state) {
        return const_cast<MarkState&>(state);  // NOLINT(cppcoreguidelines-pro-type-const-cast)
    }
    [[nodiscard]] bool passed(MarkKey key, double now);
    [[nodiscard]] bool holds(int pair, double now);
    [[nodiscard]] bool fits(MarkKey key, double second);
    [[nodiscard]] double grace() const;
    // The seconds from a mark within which a sound may be its edge.
    [[nodiscard]] double earliest() const;
    [[nodiscard]] double latest() const;
    [[nodiscard]] bool upIsHeard() const;
    [[nodiscard]] std::string markText(MarkKey key) const;
    [[nodiscard]] std::string explain(MarkKey key, const TimeOfDay& time);

    const Model& m_model;
    std::string m_separator;
    bool m_on = false;
    bool m_beforeVolume = false;
    std::unique_ptr<Marks> m_marks;
    std::optional<double> m_delay;
    std::optional<double> m_lastSound;  // the second of the hour of the last sound given
    std::string m_lastSwitch;
    std::string m_notice;
    std::function<void(const std::string&)> m_told = [](const std::string&) {};
};

}  // namespace hushwell
