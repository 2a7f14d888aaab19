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
// After the first alignment holds, the neighbouring ones have this many frames to do better.
constexpr int kDecideFrames = 4;
// The alignment is good to a frame step either way; told that much late, the edge never comes
// before the press's moment.
constexpr double kLate = 0.1;

int frames(double seconds) {
    return static_cast<int>(std::lround(seconds / kFrameStep));
}

}  // namespace

Matcher::Matcher(const MarkPrint& print) : m_print(print) {
    if (print.pressFrame >= print.frames.size()) {
        return;
    }
    const int press = static_cast<int>(print.pressFrame);
    m_anchorStart = std::max(0, press - frames(kSearchBefore));
    const int end =
        std::min(static_cast<int>(print.frames.size()), press + frames(kSearchAfter) + 1);
    m_anchor.assign(print.frames.begin() + m_anchorStart, print.frames.begin() + end);
    m_pressIndex = press - m_anchorStart;
    const auto sounding = std::count_if(m_anchor.begin(), m_anchor.end(),
                                        [](const Fingerprint& f) { return !silent(f); });
    m_usable = sounding >= frames(kMinRun);
}

void Matcher::reset() {
    m_alignments.clear();
    m_chosen.reset();
    m_quietUntil = -1;
    m_told.reset();
}

double Matcher::share(const Run& run) {
    return run.counted == 0 ? 1.0 : run.differing / static_cast<double>(run.counted);
}

bool Matcher::holds(const Run& run) const {
    if (run.first < 0) {
        return false;
    }
    const int span = run.last - run.first + 1;
    if (run.first <= 1 && run.last < m_pressIndex + frames(kPastPress)) {
        return false;
    }
    return span >= frames(kMinRun) && 2 * run.matches >= frames(kMinRun) &&
           4 * run.matches >= 3 * (span - run.pauses) && share(run) < kThreshold &&
           run.first <= m_pressIndex + frames(kZoneAfter) &&
           run.last >= m_pressIndex - frames(kZoneBefore);
}

void Matcher::close(Alignment& alignment) const {
    alignment.run = Run{};
}

void Matcher::step(Alignment& alignment, int index, const Fingerprint& live) const {
    const Fingerprint& kept = m_anchor[static_cast<std::size_t>(index)];
    Run& run = alignment.run;
    const int differing = std::popcount((kept.bits ^ live.bits) & kept.strong);
    if (silent(kept) && silent(live) && run.first >= 0) {
        ++run.pauses;  // a pause inside the jingle, heard as one
        return;
    }
    if (!silent(kept) && !silent(live) && differing <= kFrameBits) {
        if (run.first < 0) {
            run.first = index;
        }
        run.last = index;
        ++run.matches;
        run.misses = 0;
        run.differing += differing + std::exchange(run.missedDiffering, 0);
        run.counted += std::popcount(kept.strong) + std::exchange(run.missedCounted, 0);
    } else if (run.first >= 0) {
        if (++run.misses > kMaxMisses) {
            close(alignment);
            return;
        }
        // A frame that misses counts whole; silence, as all its bits differing.
        run.missedDiffering += silent(kept) || silent(live) ? 16 : differing;
        run.missedCounted += 16;
    }
    if (holds(run) && (alignment.best.first < 0 ||
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
    const auto size = static_cast<std::int64_t>(m_anchor.size());
    for (Alignment& alignment : m_alignments) {
        step(alignment, static_cast<int>(now - alignment.start), live.print);
        if (alignment.best.first < 0 || alignment.start < m_quietUntil) {
            continue;
        }
        if (!m_chosen) {
            m_decideAt = now + kDecideFrames;
        }
        if (!m_chosen || share(alignment.best) < share(m_chosen->best)) {
            m_chosen = alignment;
        }
    }
    if (m_alignments.front().start + size - 1 == now) {
        if (m_told && m_told->start == m_alignments.front().start) {
            const Run& run = m_alignments.front().best;
            MarkPrint refined = m_print;
            for (std::size_t i = 0; i < refined.frames.size(); ++i) {
                const auto index = static_cast<int>(i) - m_anchorStart;
                if (index < run.first || index > run.last) {
                    refined.frames[i].strong = 0;
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
    const double pressTime = m_chosen->startTime + m_pressIndex * kFrameStep + kLate;
    const Heard heard{pressTime, live.time + kFrameHalf, 1.0 - 2.0 * share(m_chosen->best)};
    m_quietUntil = m_chosen->start + size;
    m_told = m_chosen;
    m_chosen.reset();
    return heard;
}

std::optional<MarkPrint> Matcher::takeRefined() {
    return std::exchange(m_refined, std::nullopt);
}

}  // namespace hushwell
