#pragma once

#include <algorithm>
#include <map>
#include <optional>
#include <span>
#include <vector>

#include "listen/Fingerprinter.h"
#include "listen/MarkMatcher.h"
#include "listen/PrintFile.h"
#include "listen/PrintHistory.h"
#include "listen/SampleRing.h"

namespace hushwell {

// Everything listening does between the capture and the schedule: the live fingerprints and
// their rolling record, the Set presses waiting for the audio after them, and the marks listened
// for. Samples in, events out; it reads no clock, so the caller's clock (the capture's block
// times, the press times) is the only one. Not thread-safe: one thread calls all of it (the
// capture's, or the one the blocks are handed to).
//
// Wiring: each captured block to push(), with its time in seconds on the steady clock; a Set
// press to press() with that clock's time of the press (a move of the mark on carries its print
// with it, under the new key, and needs no press); from about two minutes before a mark that has a
// print, listenFor() it, and stopListening() once it is heard or its grace has passed.
//
// Fingerprints are made only while they are needed: while a mark is listened for, and while a
// press gathers its stretch. Otherwise only the last kRawKept seconds of samples are kept, and a
// press fingerprints them when it comes, so that its print is as whole as if it had been made all
// along.
class Listener {
public:
    // What a press kept, once kKeptAfter seconds of audio after it have been heard: to be stored
    // in the fingerprint file under `key` with the mark's text.
    struct Kept {
        MarkKey key;
        MarkPrint print;
        // Seconds from the press to the first sound after it, when the press fell in silence and
        // the print was taken from the sound that followed; 0 when it was not moved.
        double movedBy = 0;
    };
    // A press that keeps no print: its kept stretch held no sound (silence or near silence) the
    // whole time; nothing played for kPressWait after it; or its sound began before any was
    // heard (the capture had only just started).
    struct Silent {
        enum class Why { InSilence, NothingPlayed, BeforeAnySound };
        MarkKey key;
        Why why = Why::InSilence;
    };
    // A mark listened for was heard; `heard.pressTime` is the live moment that matches its press
    // (for a print moved to the sound after a press in silence: that sound's moment).
    struct HeardMark {
        MarkKey key;
        Heard heard;
    };
    struct Events {
        std::vector<Kept> kept;
        std::vector<HeardMark> heard;
        // Marks whose print was sharpened by the occurrence given() to them: only the frames that
        // repeated are kept, and only a print that can still be heard. Store it in place of the
        // key's print only while that print is still the one listened for (the same mark text).
        std::vector<Kept> refined;
        std::vector<Silent> silent;
    };

    // A press waits at most this long for its audio; with no capture it keeps nothing.
    static constexpr double kPressWait = kKeptAfter + 30.0;
    // What a press takes from before it (kKeptBefore), with the fingerprinter's first frames and
    // room for blocks stamped up to a couple of seconds after the press's own time (a capture's
    // count that started on the first piece of a fragment stamps ahead until it is drawn back);
    // and kept: what its frames halfway are made from once its stretch after it has come, from
    // the matcher's lead-in before the press to kKeptAfter after it.
    static constexpr double kPressReplay = kKeptBefore + 3.0;
    static constexpr double kRawKept =
        std::max(kPressReplay, kKeptAfter + Matcher::kSearchBefore + Matcher::kLeadIn + 3.0);

    // Samples at `rate` per second; a block at another rate than the one before starts the
    // fingerprints afresh, as a gap does.
    Events push(std::span<const float> samples, double rate, double time);
    // A Set press at `time`; a later press of the same mark replaces it. A press whose moment
    // (Matcher::kZoneBefore..kZoneAfter around it) is silence takes its print from the first
    // sound within kKeptAfter after it (Kept::movedBy), or keeps none (Events::silent).
    void press(MarkKey key, double time);
    // Listens for `print` from now on, in place of what `key` was listened for before; a print
    // that cannot be heard (too short around its press) is ignored.
    void listenFor(MarkKey key, const MarkPrint& print);
    void stopListening(MarkKey key);
    // The schedule took the occurrence of `key` heard at `pressTime` for its edge: `key` is no
    // longer listened for, but once the stretch around that moment has passed, the print it
    // sharpens comes as Events::refined. A mark that heard a sound given to another is not
    // sharpened by it.
    void given(MarkKey key, double pressTime);
    // The presses that waited kPressWait by `now` (the press's clock) without their audio, told
    // as Silent (NothingPlayed): nothing may play for a long time after a press.
    [[nodiscard]] std::vector<Silent> expire(double now);
    // Forgets the presses waiting, the marks listened for and the samples kept (the option
    // turned off).
    void clear();

    // Whether fingerprints are being made: a mark is listened for or a press gathers its stretch.
    [[nodiscard]] bool fingerprinting() const {
        return !m_matchers.empty() || !m_presses.empty() || !m_sharpening.empty();
    }
    // Whether audio is wanted at all: while fingerprints are made, and while a press may come
    // (`pressPossible`: the window is shown), which takes the last seconds kept. Otherwise the
    // capture may record nothing; what it records after is fingerprinted from a gap, and a mark
    // hears nothing from before it is listened for.
    [[nodiscard]] bool wantsAudio(bool pressPossible) const {
        return pressPossible || fingerprinting();
    }

private:
    // From the samples kept, into the record only: a matcher hears nothing from before it.
    void startFingerprints(double rate);
    // The frames halfway between those of a print whose press frame lies at `pressFrameTime`
    // (`pressFrame` of `count`): the samples kept, fingerprinted afresh from a start that puts
    // their frames there. Silent frames where the samples are no longer kept.
    [[nodiscard]] std::vector<Fingerprint> halfwayFrames(double pressFrameTime,
                                                         std::size_t pressFrame, std::size_t count);

    SampleRing m_ring{kRawKept};
    std::optional<Fingerprinter> m_fingerprinter;
    PrintHistory m_history;
    struct Press {
        double time;  // where its print is taken from
        double movedBy = 0;
    };
    std::map<MarkKey, Press> m_presses;
    std::map<MarkKey, MarkMatcher> m_matchers;
    // Given an occurrence: heard on until the stretch around it has passed, for the print it
    // sharpens.
    struct Sharpening {
        MarkMatcher matcher;
        double until;
    };
    std::map<MarkKey, Sharpening> m_sharpening;
};

}  // namespace hushwell
