#include "listen/Matcher.h"

#include <bit>
#include <cmath>

namespace hushwell {
namespace {

constexpr double kGapStep = 1.5 * kFrameStep;
// From a frame's time (its middle) to the end of its audio: when it can be had at the earliest.
constexpr double kFrameHalf = static_cast<double>(kPrintFrameSize) / 2.0 / kPrintRate;

std::size_t frames(double seconds) {
    return static_cast<std::size_t>(std::lround(seconds / kFrameStep));
}

}  // namespace

Matcher::Matcher(const MarkPrint& print) {
    const std::size_t before = frames(kAnchorBefore);
    const std::size_t after = frames(kAnchorAfter);
    if (print.pressFrame < before || print.pressFrame + after >= print.frames.size()) {
        return;
    }
    m_anchor.assign(
        print.frames.begin() + static_cast<std::ptrdiff_t>(print.pressFrame - before),
        print.frames.begin() + static_cast<std::ptrdiff_t>(print.pressFrame + after + 1));
    m_pressIndex = before;
}

void Matcher::reset() {
    m_live.clear();
    m_best.reset();
    m_bestShare = 1;
    m_told = false;
}

std::optional<Heard> Matcher::add(const PrintFrame& live) {
    if (!usable()) {
        return std::nullopt;
    }
    if (!m_live.empty() && live.time - m_live.back().time > kGapStep) {
        reset();
    }
    m_live.push_back(live);
    if (m_live.size() > m_anchor.size()) {
        m_live.pop_front();
    }
    if (m_live.size() < m_anchor.size()) {
        return std::nullopt;
    }
    int differing = 0;
    int counted = 0;
    for (std::size_t i = 0; i < m_anchor.size(); ++i) {
        differing += std::popcount((m_anchor[i].bits ^ m_live[i].print.bits) & m_anchor[i].strong);
        counted += std::popcount(m_anchor[i].strong);
    }
    const double share = counted == 0 ? 1.0 : differing / static_cast<double>(counted);
    if (share >= kThreshold) {
        std::optional<Heard> told;
        if (!m_told && m_best) {
            told = m_best;
            told->heardAt = live.time + kFrameHalf;
        }
        m_best.reset();
        m_bestShare = 1;
        m_told = false;
        return told;
    }
    if (m_told) {
        return std::nullopt;
    }
    if (share < m_bestShare) {
        m_bestShare = share;
        m_best = Heard{m_live[m_pressIndex].time, live.time + kFrameHalf, 1.0 - 2.0 * share};
        return std::nullopt;
    }
    m_told = true;
    if (m_best) {
        m_best->heardAt = live.time + kFrameHalf;
    }
    return m_best;
}

}  // namespace hushwell
