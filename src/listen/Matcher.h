#pragma once

#include <cstdint>
#include <deque>
#include <limits>
#include <optional>
#include <vector>

#include "listen/Fingerprint.h"

namespace hushwell {

// The moment in the live audio that matches a mark's press.
struct Heard {
    double pressTime = 0;  // the live time that matches the press
    // When the audio it was heard in ended: the earliest it could be told (from about 0.6 s after
    // the sound that repeats began; the capture's block adds its length).
    double heardAt = 0;
    double confidence = 0;  // 0 (chance) to 1 (the same bits)
};

// Listens for a mark's audio in the live fingerprints. What has to come back is the sound at the
// press, the jingle the listener pressed Set on: a run of at least kMinRun seconds of frames that
// match (a pause in both right after it counting up to 0.3 s, or kExactRun of them all but the
// same), all at one alignment, lying within kSearchBefore..kSearchAfter of the press and reaching
// into kZoneBefore..kZoneAfter around it. Frames either side that differ (another song's end laid
// under the jingle, other words after it) do not veto the run. Audio that matches only what lies
// further from the press (the song before a break, played again another time) is not heard, and a
// break that opens without the same sound each time is never heard: the mark's clock time has to
// serve. Frames of silence (no strong bits) never match, in the print or live; a pause in both, and
// the frame or two beside it that only one of them hears as silence (the other is softer, or came
// through a codec), neither match nor break a run. Of two alignments that both hold, the one whose
// run begins earlier in the print is taken: a jingle that repeats itself matches a period late as
// well.
//
// Feed it every live frame in time order; it tells each occurrence once, shortly after the run
// is long enough (see Heard::heardAt), and once the whole stretch has passed it offers the print
// sharpened to the frames that repeated (takeRefined()).
class Matcher {
public:
    static constexpr double kSearchBefore = 2.0;
    static constexpr double kSearchAfter = 3.0;
    static constexpr double kZoneBefore = 0.3;
    static constexpr double kZoneAfter = 0.8;
    // The print holds the jingle's start before the press too, so that a run of kMinRun reaches
    // the press's moment soon after it; a run shorter than kShortRun has to match as closely as
    // kShortThreshold, as chance sound may match that briefly.
    static constexpr double kMinRun = 0.6;
    static constexpr double kShortRun = 1.2;
    static constexpr double kShortThreshold = 0.12;
    // A run that reaches back to the start of the stretch may be the song before the press
    // played again (it ran up to the jingle, or under it): it has to reach this far past the
    // press too, into the jingle; unless the live sound before the stretch differs from the
    // print's over kLeadIn (fewer than half its frames match: the song before was another).
    static constexpr double kPastPress = 0.9;
    static constexpr double kLeadIn = 1.0;
    // A frame matches when at most this many of every 16 strong bits compared differ (a frame has
    // 16 below 2 kHz, and 8 above); a run holds when the share of differing strong bits over it
    // stays below kThreshold (unrelated audio differs in about half). A codec at 24-48 kbps alters
    // a weak jingle more: a run of kLongRun matching frames may differ up to kLongThreshold. A run
    // that does not reach kCloseUntil past the press may be the song before it, repeating a bar: it
    // has to match as closely as kCloseThreshold, and as closely at least until kPastPress.
    static constexpr int kFrameBits = 6;
    static constexpr double kThreshold = 0.2;
    static constexpr double kLongRun = 1.2;
    static constexpr double kLongThreshold = 0.27;
    static constexpr double kCloseThreshold = 0.15;
    static constexpr double kCloseUntil = 0.5;
    // A jingle whose loud part lies under the song before or the words after leaves less than
    // kMinRun clear: a run counts as long enough too when kExactRun of it in a row are frames
    // all but the same (at most one in 16 strong bits differing), as unrelated sound never is
    // over so many bits.
    static constexpr double kExactRun = 0.55;

    // Which of the print's frames it listens for: those kept, or those halfway between them
    // (MarkPrint::halfway; the moment it tells is then the press's all the same).
    enum class Phase { Kept, Halfway };

    explicit Matcher(const MarkPrint& print, Phase phase = Phase::Kept);

    // False when the print holds too little sound around its press; such a matcher hears nothing.
    [[nodiscard]] bool usable() const { return m_usable; }

    std::optional<Heard> add(const PrintFrame& live);
    // Whether it may soon tell an occurrence whose moment lies after `after`: such an alignment
    // holds and waits to be told, or has a run of matches going, at least `length` frames long,
    // that could still hold (with a moment later than one told: another way a jingle that repeats
    // itself could lie, see better()).
    [[nodiscard]] bool hearing(double after = -std::numeric_limits<double>::infinity(),
                               int length = 0) const;
    // The frames of the run of the occurrence it told last.
    [[nodiscard]] int toldRun() const { return m_toldRun; }
    // The print with only the frames that repeated the last time it was heard (and those halfway
    // between them), once; nothing when it was not heard since, or nothing would change.
    std::optional<MarkPrint> takeRefined();
    // Forgets the live frames, e.g. when listening pauses.
    void reset();

private:
    struct Run {
        int first = -1;  // anchor index of the first matching frame; -1: none open
        int last = -1;
        int matches = 0;
        // Frames silent in both inside the run, and those silent on one side only next to them
        // (a change of level or a codec moves a pause's edge by a frame or two): neither match
        // nor miss.
        int pauses = 0;
        int pausesPending = 0;  // since the last match, counted once another match follows
        int edges = 0;          // silent on one side only, in a row: misses unless a pause follows
        int sincePause = -1;    // frames since a pause, while only edges followed it; -1: none
        int misses = 0;         // in a row, since the last match
        int streak = 0;         // matches in a row
        int exact = 0;          // frames all but the same in a row
        int exactMost = 0;      // the most of them in a row so far
        int solidFirst = -1;    // where kSolid matches in a row first began
        int missedDiffering = 0;  // of those misses, counted once a match follows them
        int missedCounted = 0;
        int differing = 0;
        int counted = 0;
    };
    // One way the anchor can lie on the live frames: its first frame at live frame `start`.
    struct Alignment {
        std::int64_t start = 0;
        double startTime = 0;
        Run run;
        Run best;              // the run that holds, if any
        int leadMatches = -1;  // 1: songBefore(); 0: not; -1: not looked at yet
    };

    // The strong bits of a kept frame that differ live, and how many were compared.
    struct Compared {
        int differing = 0;
        int counted = 0;
    };
    // Over the parts of the frame that both hear (the bands below 2 kHz, those above): beeps that
    // leave too little below 2 kHz to be heard there on one side are compared above alone.
    // Nothing when the two share no part.
    [[nodiscard]] std::optional<Compared> compare(const Fingerprint& kept,
                                                  const Fingerprint& live) const;
    // Silent as far as this print hears: a print without the bits above 2 kHz (an earlier
    // version's) hears the part below alone, as it always did.
    [[nodiscard]] bool silentLive(const Fingerprint& live) const;
    static bool matches(const Compared& compared);
    // The live moment that matches the press, if the alignment is the jingle's.
    [[nodiscard]] double pressTimeOf(const Alignment& alignment) const;
    // The print's frames it listens for.
    [[nodiscard]] const std::vector<Fingerprint>& phaseFrames() const {
        return m_phase == Phase::Kept ? m_print.frames : m_print.halfway;
    }
    void step(Alignment& alignment, int index, const Fingerprint& live) const;
    bool holds(Alignment& alignment, const Run& run) const;
    void keepIfBest(Alignment& alignment) const;
    // Whether the live frames just before the alignment's first match the print's (looked at
    // once, when a run that reaches back to the stretch's start needs it).
    bool songBefore(Alignment& alignment) const;
    static void quiet(Run& run, bool both);
    void close(Alignment& alignment) const;
    static double share(const Run& run);
    // Which of two runs that hold tells the jingle's moment: the one that reaches further back into
    // the print, else the closer one.
    static bool better(const Alignment& one, const Alignment& than);
    // Whether another alignment's run, beginning earlier in the print than the chosen one's, is
    // still going: it may yet hold, and be better.
    [[nodiscard]] bool rivalGoing() const;

    MarkPrint m_print;
    Phase m_phase;
    std::vector<Fingerprint> m_anchor;
    int m_anchorStart = 0;  // of the anchor within the print
    int m_pressIndex = 0;   // of the press within the anchor
    bool m_usable = false;
    bool m_high = false;                 // the print has bits above 2 kHz
    std::deque<Alignment> m_alignments;  // the newest last
    std::deque<Fingerprint> m_lead;      // the latest live frames, the stretch and kLeadIn
    std::int64_t m_liveCount = 0;
    double m_lastTime = 0;
    std::optional<Alignment> m_chosen;  // the best that holds, not yet told
    std::int64_t m_decideAt = 0;        // live frame at which the chosen one is told
    std::int64_t m_waitUntil = 0;       // the latest it waits for a rival (rivalGoing())
    std::int64_t m_quietUntil = -1;     // the occurrence told; no other before this live frame
    std::optional<Alignment> m_told;    // waiting for its whole stretch, for the refined print
    int m_toldRun = 0;
    std::optional<MarkPrint> m_refined;
};

}  // namespace hushwell
