#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "listen/Fingerprint.h"

namespace hushwell {

// The moment in the live audio that matches a mark's press.
struct Heard {
    double pressTime = 0;  // the live time that matches the press
    // When the audio it was heard in ended: the earliest it could be told (about 0.85 s after
    // pressTime; the capture's block adds its length).
    double heardAt = 0;
    double confidence = 0;  // 0 (chance) to 1 (the same bits)
};

// Listens for a mark's audio in the live fingerprints. What has to come back is the audio at
// the press: from kAnchorBefore seconds before it to kAnchorAfter seconds after, the jingle the
// listener pressed Set on. Audio that matches only the rest of what was kept (the song before a
// break, played again another time) is not heard, and a break that opens without the same sound
// each time is never heard: the mark's clock time has to serve.
//
// Feed it every live frame in time order; it tells each occurrence once, at the frame after the
// best alignment (see Heard::heardAt).
class Matcher {
public:
    static constexpr double kAnchorBefore = 0.3;
    static constexpr double kAnchorAfter = 0.6;
    // The share of differing bits below which the anchor counts as heard (unrelated audio
    // differs in about half).
    static constexpr double kThreshold = 0.2;

    explicit Matcher(const MarkPrint& print);

    // False when the print does not hold the whole anchor around its press; such a matcher
    // hears nothing.
    [[nodiscard]] bool usable() const { return !m_anchor.empty(); }

    std::optional<Heard> add(const PrintFrame& live);
    // Forgets the live frames, e.g. when listening pauses.
    void reset();

private:
    std::vector<Fingerprint> m_anchor;
    std::size_t m_pressIndex = 0;  // of the press within the anchor
    std::deque<PrintFrame> m_live;
    std::optional<Heard> m_best;
    double m_bestShare = 1;
    bool m_told = false;  // this occurrence was told; quiet until the anchor is lost again
};

}  // namespace hushwell
