#pragma once

#include <deque>
#include <optional>

#include "listen/Fingerprint.h"

namespace hushwell {

// The rolling record of the latest fingerprints and their times: frames older than `seconds`
// before the newest are dropped, so its memory is bounded (about 21.5 frames, 350 bytes, a
// second).
class PrintHistory {
public:
    explicit PrintHistory(double seconds = kKeptBefore + kKeptAfter + 8.0);

    // Frames come in time order; a frame older than the newest one is ignored.
    void add(const PrintFrame& frame);
    void clear() { m_frames.clear(); }
    [[nodiscard]] std::optional<double> newest() const;

    // Whether what a press at `pressTime` keeps can be taken now: kKeptAfter seconds of audio
    // after it have come. A press whose audio was never heard (no capture) is never ready; the
    // caller gives up on it as it sees fit.
    [[nodiscard]] bool ready(double pressTime) const;
    // What a press at `pressTime` keeps: the frames from kKeptBefore before it to kKeptAfter
    // after it, limited to the unbroken run of frames around the press (capture that restarted
    // leaves a gap); nothing when no frame lies within one step of the press.
    [[nodiscard]] std::optional<MarkPrint> around(double pressTime) const;
    // The time of that print's press frame, the one nearest the press.
    [[nodiscard]] std::optional<double> pressFrameTime(double pressTime) const;

    // The time of the first frame from `from` to `to` that is not silence, if any.
    [[nodiscard]] std::optional<double> soundBetween(double from, double to) const;

private:
    // The index of the frame within one step of `pressTime` nearest it; size() when none is.
    [[nodiscard]] std::size_t nearest(double pressTime) const;

    double m_seconds;
    std::deque<PrintFrame> m_frames;
};

}  // namespace hushwell
