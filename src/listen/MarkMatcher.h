#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <optional>

#include "listen/Matcher.h"

namespace hushwell {

// Listens for a mark's print at both phases it was kept at: its frames, and those halfway between
// them (MarkPrint::halfway), if it has them. Live frames fall anywhere against the kept ones;
// where a jingle's clear stretch is short, the frames halfway hear it when those kept, too far
// from the live ones, cannot. Each occurrence is told once. A jingle that repeats itself matches a
// period early as well, at one phase or both: what one phase hears waits (up to kWaitFrames) while
// the other may yet hear a later moment of it with a run about as long, and what only the frames
// halfway hear waits while the kept ones hear anything that might yet hold. Of two moments apart,
// the later one is told; of two that agree, the kept frames'. The print is sharpened by the phase
// that told it.
class MarkMatcher {
public:
    explicit MarkMatcher(const MarkPrint& print);

    [[nodiscard]] bool usable() const;
    std::optional<Heard> add(const PrintFrame& live);
    std::optional<MarkPrint> takeRefined();

private:
    // Both phases tell an occurrence within the stretch a print is heard in.
    static constexpr double kSameOccurrence = Matcher::kSearchBefore + Matcher::kSearchAfter;
    static constexpr int kWaitFrames = 8;
    // Two moments this far apart are two ways the jingle could lie, not one heard at two phases.
    static constexpr int kApartFrames = 4;
    static constexpr double kApart = kApartFrames * kFrameStep;

    [[nodiscard]] bool told(const Heard& heard) const {
        return m_told && std::abs(heard.pressTime - *m_told) < kSameOccurrence;
    }

    // Whether what is held waits for the other phase, one frame more.
    bool waits();
    // Tells what is held, as heard at the live frame `time`.
    Heard release(double time);

    std::array<Matcher, 2> m_phases;  // the kept frames, those halfway
    bool m_halfway = false;
    std::optional<double> m_told;  // the press time last told
    int m_toldPhase = 0;           // and by which
    std::optional<Heard> m_held;   // heard at one phase, waiting for the other
    int m_heldPhase = 0;
    double m_heldAt = 0;  // the live frame it was heard at
    std::int64_t m_waited = 0;
    std::optional<MarkPrint> m_refined;
};

}  // namespace hushwell
