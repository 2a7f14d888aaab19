#include "listen/Matcher.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <utility>

namespace hushwell {
namespace {

constexpr double kGapStep = 1.5 * kFrameStep;
// From a frame's time (its middle) to the end of its audio: when it can be had at the earliest.
constexpr double kFrameHalf = static_cast<double>(kPrintFrameSize) / 2.0 / kPrintRate;
// Frames that may miss in a row inside a run (a cough of the codec, a word laid over it).
constexpr int kMaxMisses = 2;
// A run starts, for the rule of the song before, where its matches first come this many in a
// row: a fade, or a few chance matches, may join it to the start of the stretch.
constexpr int kSolid = 4;
// After the first alignment holds, the neighbouring ones have this many frames to do better.
constexpr int kDecideFrames = 1;
// The alignment is good to a frame step either way; told that much late, the edge never comes
// before the press's moment.
constexpr double kLate = 0.1;
// Alignments this many frames apart or more are two ways the jingle could lie, not the same way at
// two phases: the one whose run begins earlier in the print wins, whatever their shares. A jingle
// that repeats itself (an alarm's beeps) matches as well a period late in the print, and better
// where its first period lay over another sound in the print's hour.
constexpr int kApart = 4;
// The chosen one waits while a run of another alignment that begins earlier in the print is still
// going, up to this many frames after it first held.
constexpr int kWaitFrames = 12;
// Of a pause in both right after a run, this much counts into its length.
constexpr double kPauseAfter = 0.3;

// Strong bits of the frames' parts: 16 below 2 kHz, 8 above.
constexpr int kStrongBits = 16;

int frames(double seconds) {
    return static_cast<int>(std::lround(seconds / kFrameStep));
}

}  // namespace

Matcher::Matcher(const MarkPrint& print, Phase phase) : m_print(print), m_phase(phase) {
    const std::vector<Fingerprint>& heard = phaseFrames();
    if (print.pressFrame >= heard.size()) {
        return;
    }
    const int press = static_cast<int>(print.pressFrame);
    m_anchorStart = std::max(0, press - frames(kSearchBefore));
    const int end = std::min(static_cast<int>(heard.size()), press + frames(kSearchAfter) + 1);
    m_anchor.assign(heard.begin() + m_anchorStart, heard.begin() + end);
    m_pressIndex = press - m_anchorStart;
    const auto sounding = std::count_if(m_anchor.begin(), m_anchor.end(),
                                        [](const Fingerprint& f) { return !silent(f); });
    m_usable = sounding >= frames(kMinRun);
    m_high = std::ranges::any_of(heard, [](const Fingerprint& f) { return f.highStrong != 0; });
}

bool Matcher::silentLive(const Fingerprint& live) const {
    return m_high ? silent(live) : live.strong == 0;
}

std::optional<Matcher::Compared> Matcher::compare(const Fingerprint& kept,
                                                  const Fingerprint& live) const {
    std::optional<Compared> result;
    if (kept.strong != 0 && live.strong != 0) {
        result = Compared{std::popcount((kept.bits ^ live.bits) & kept.strong),
                          std::popcount(kept.strong)};
    }
    if (m_high && kept.highStrong != 0 && live.highStrong != 0) {
        const auto differing = static_cast<unsigned>((kept.high ^ live.high) & kept.highStrong);
        Compared& sum = result ? *result : result.emplace();
        sum.differing += std::popcount(differing);
        sum.counted += std::popcount(kept.highStrong);
    }
    return result;
}

bool Matcher::matches(const Compared& compared) {
    return compared.differing * kStrongBits <= kFrameBits * compared.counted;
}

void Matcher::reset() {
    m_alignments.clear();
    m_lead.clear();
    m_chosen.reset();
    m_quietUntil = -1;
    m_told.reset();
}

double Matcher::share(const Run& run) {
    return run.counted == 0 ? 1.0 : run.differing / static_cast<double>(run.counted);
}

bool Matcher::better(const Alignment& one, const Alignment& than) {
    if (std::abs(one.start - than.start) > kApart) {
        return one.best.first < than.best.first;
    }
    return share(one.best) < share(than.best);
}

bool Matcher::rivalGoing() const {
    return std::ranges::any_of(m_alignments, [this](const Alignment& other) {
        const Run& run = other.run;
        const Run& chosen = m_chosen->best;
        return std::abs(other.start - m_chosen->start) > kApart && run.solidFirst >= 0 &&
               run.first + kApart < chosen.first &&
               run.last - run.first + kApart >= chosen.last - chosen.first &&
               run.first <= m_pressIndex + frames(kZoneAfter) && other.start >= m_quietUntil;
    });
}

bool Matcher::hearing(double after, int length) const {
    const auto later = [&](const Alignment& alignment) { return pressTimeOf(alignment) > after; };
    return (m_chosen && later(*m_chosen)) ||
           std::ranges::any_of(m_alignments, [&](const Alignment& alignment) {
               const Run& run = alignment.run;
               return run.solidFirst >= 0 && alignment.start >= m_quietUntil &&
                      run.first <= m_pressIndex + frames(kZoneAfter) &&
                      run.last - run.first + 1 >= length && later(alignment);
           });
}

double Matcher::pressTimeOf(const Alignment& alignment) const {
    // The halfway frames lie half a step after the kept ones: the press half a step before them.
    const double offset = m_phase == Phase::Kept ? 0 : -kFrameStep / 2;
    return alignment.startTime + m_pressIndex * kFrameStep + offset + kLate;
}

bool Matcher::songBefore(Alignment& alignment) const {
    if (alignment.leadMatches < 0) {
        // m_lead ends with the newest live frame; the alignment's first lies `behind` before it.
        const std::int64_t behind = m_liveCount - 1 - alignment.start;
        const std::int64_t first = static_cast<std::int64_t>(m_lead.size()) - 1 - behind;
        int sounding = 0;
        int matching = 0;
        for (int k = 1; k <= m_anchorStart && k <= frames(kLeadIn) && first - k >= 0; ++k) {
            const Fingerprint& kept = phaseFrames()[static_cast<std::size_t>(m_anchorStart - k)];
            const Fingerprint& live = m_lead[static_cast<std::size_t>(first - k)];
            if (const std::optional<Compared> compared = compare(kept, live)) {
                ++sounding;
                matching += matches(*compared) ? 1 : 0;
            }
        }
        // With too little to compare (a short print, listening just begun) it is taken for the
        // song before, as it always was before the lead-in was looked at.
        alignment.leadMatches = sounding < frames(kLeadIn) / 2 || 2 * matching >= sounding ? 1 : 0;
    }
    return alignment.leadMatches == 1;
}

bool Matcher::holds(Alignment& alignment, const Run& run) const {
    if (run.first < 0) {
        return false;
    }
    const bool pastPress = run.last >= m_pressIndex + frames(kPastPress);
    // A pause in both right after a run into the jingle (it ends in silence) counts into its
    // length.
    const int pauseAfter = pastPress ? std::min(run.pausesPending, frames(kPauseAfter)) : 0;
    const int span = run.last - run.first + 1 + pauseAfter;
    const int start = run.solidFirst >= 0 ? run.solidFirst : run.first;
    if (start <= 1 && !pastPress && songBefore(alignment)) {
        return false;
    }
    const double ladder = run.matches >= frames(kLongRun) ? kLongThreshold
                          : span < frames(kShortRun)      ? kShortThreshold
                                                          : kThreshold;
    const bool pastClose = run.last >= m_pressIndex + frames(kCloseUntil);
    const double threshold = pastPress   ? ladder
                             : pastClose ? std::max(ladder, kCloseThreshold)
                                         : kCloseThreshold;
    const bool longEnough = run.exactMost >= frames(kExactRun) ||
                            (span >= frames(kMinRun) && 2 * run.matches >= frames(kMinRun));
    return longEnough && 4 * run.matches >= 3 * (span - run.pauses - pauseAfter) &&
           share(run) < threshold && run.first <= m_pressIndex + frames(kZoneAfter) &&
           run.last >= m_pressIndex - frames(kZoneBefore);
}

void Matcher::close(Alignment& alignment) const {
    alignment.run = Run{};
}

void Matcher::quiet(Run& run, bool both) {
    if (both) {
        // A pause inside the jingle, heard as one; the edges just before it with it.
        run.pausesPending += 1 + std::exchange(run.edges, 0);
        run.sincePause = 0;
    } else if (run.sincePause >= 0 && run.sincePause < kMaxMisses) {
        ++run.pausesPending;  // the edge just after a pause
        ++run.sincePause;
    } else {
        ++run.edges;  // a miss, unless a pause follows
        run.sincePause = -1;
    }
}

void Matcher::step(Alignment& alignment, int index, const Fingerprint& live) const {
    const Fingerprint& kept = m_anchor[static_cast<std::size_t>(index)];
    Run& run = alignment.run;
    const std::optional<Compared> compared = compare(kept, live);
    if (!compared) {
        if (run.first >= 0) {
            quiet(run, silent(kept) && silentLive(live));
            keepIfBest(alignment);
        }
        return;
    }
    run.sincePause = -1;
    if (run.edges > 0) {  // no pause followed: they missed, as silence against sound
        run.misses += run.edges;
        run.missedDiffering += kStrongBits * run.edges;
        run.missedCounted += kStrongBits * run.edges;
        run.edges = 0;
        if (run.misses > kMaxMisses) {
            close(alignment);
            return;
        }
    }
    const int differing = compared->differing;
    if (matches(*compared)) {
        if (run.first < 0) {
            run.first = index;
        }
        run.last = index;
        ++run.matches;
        run.streak = run.misses > 0 ? 1 : run.streak + 1;
        if (run.streak == kSolid && run.solidFirst < 0) {
            run.solidFirst = index - kSolid + 1;
        }
        run.exact = compared->differing * kStrongBits <= compared->counted ? run.exact + 1 : 0;
        run.exactMost = std::max(run.exactMost, run.exact);
        run.misses = 0;
        run.pauses += std::exchange(run.pausesPending, 0);
        run.differing += differing + std::exchange(run.missedDiffering, 0);
        run.counted += compared->counted + std::exchange(run.missedCounted, 0);
    } else if (run.first >= 0) {
        run.exact = 0;
        if (++run.misses > kMaxMisses) {
            close(alignment);
            return;
        }
        run.missedDiffering += differing;
        run.missedCounted += compared->counted;
    }
    keepIfBest(alignment);
}

void Matcher::keepIfBest(Alignment& alignment) const {
    const Run& run = alignment.run;
    if (holds(alignment, run) &&
        (alignment.best.first < 0 ||
         run.last - run.first >= alignment.best.last - alignment.best.first)) {
        alignment.best = run;
    }
}

std::optional<Heard> Matcher::add(const PrintFrame& live) {
    if (!usable()) {
        return std::nullopt;
    }
    if (m_liveCount > 0 && live.time - m_lastTime > kGapStep) {
        reset();
    }
    m_lastTime = live.time;
    const std::int64_t now = m_liveCount++;
    m_alignments.push_back({now, live.time, {}, {}});
    m_lead.push_back(live.print);
    if (m_lead.size() > m_anchor.size() + static_cast<std::size_t>(frames(kLeadIn))) {
        m_lead.pop_front();
    }
    const auto size = static_cast<std::int64_t>(m_anchor.size());
    for (Alignment& alignment : m_alignments) {
        step(alignment, static_cast<int>(now - alignment.start), live.print);
        if (alignment.best.first < 0 || alignment.start < m_quietUntil) {
            continue;
        }
        if (!m_chosen) {
            m_decideAt = now + kDecideFrames;
            m_waitUntil = now + kWaitFrames;
        }
        if (!m_chosen || better(alignment, *m_chosen)) {
            m_chosen = alignment;
        }
    }
    if (m_chosen && now + 1 >= m_decideAt && now < m_waitUntil && rivalGoing()) {
        m_decideAt = now + 1;
    }
    if (m_alignments.front().start + size - 1 == now) {
        if (m_told && m_told->start == m_alignments.front().start) {
            const Run& run = m_alignments.front().best;
            MarkPrint refined = m_print;
            for (std::vector<Fingerprint>* frames : {&refined.frames, &refined.halfway}) {
                for (std::size_t i = 0; i < frames->size(); ++i) {
                    const auto index = static_cast<int>(i) - m_anchorStart;
                    if (index < run.first || index > run.last) {
                        (*frames)[i].strong = 0;
                        (*frames)[i].highStrong = 0;
                    }
                }
            }
            if (refined != m_print) {
                m_refined = std::move(refined);
            }
            m_told.reset();
        }
        m_alignments.pop_front();
    }
    if (!m_chosen || now < m_decideAt) {
        return std::nullopt;
    }
    const Heard heard{pressTimeOf(*m_chosen), live.time + kFrameHalf,
                      1.0 - 2.0 * share(m_chosen->best)};
    m_quietUntil = m_chosen->start + size;
    m_told = m_chosen;
    m_toldRun = m_chosen->best.last - m_chosen->best.first + 1;
    m_chosen.reset();
    return heard;
}

std::optional<MarkPrint> Matcher::takeRefined() {
    return std::exchange(m_refined, std::nullopt);
}

}  // namespace hushwell
