#include "listen/MarkMatcher.h"

#include <utility>

namespace hushwell {

MarkMatcher::MarkMatcher(const MarkPrint& print)
    : m_phases{Matcher(print), Matcher(print, Matcher::Phase::Halfway)},
      m_halfway(m_phases[1].usable()) {}

bool MarkMatcher::waits() {
    if (!m_halfway || ++m_waited > kWaitFrames) {
        return false;
    }
    const Matcher& other = m_phases[1 - m_heldPhase];
    const int run = m_phases[m_heldPhase].toldRun();
    return (m_heldPhase == 1 && other.hearing()) ||
           other.hearing(m_held->pressTime + kApart, run - kApartFrames);
}

Heard MarkMatcher::release(double time) {
    Heard heard = *std::exchange(m_held, std::nullopt);
    heard.heardAt += time - m_heldAt;
    m_told = heard.pressTime;
    m_toldPhase = m_heldPhase;
    return heard;
}

bool MarkMatcher::usable() const {
    return m_phases[0].usable() || m_halfway;
}

std::optional<Heard> MarkMatcher::add(const PrintFrame& live) {
    std::optional<Heard> result;
    for (int phase = 0; phase < (m_halfway ? 2 : 1); ++phase) {
        const std::optional<Heard> heard = m_phases[phase].add(live);
        if (!heard || told(*heard) || (m_held && m_heldPhase == phase)) {
            continue;
        }
        if (!m_held) {
            m_held = heard;
            m_heldPhase = phase;
            m_heldAt = live.time;
            m_waited = 0;
            continue;
        }
        // Both phases heard it: where the two moments are apart, the later one is the jingle's
        // (the other a period early), else the kept frames'.
        if (heard->pressTime > m_held->pressTime + kApart ||
            (phase == 0 && heard->pressTime + kApart >= m_held->pressTime)) {
            m_held = heard;
            m_heldPhase = phase;
        }
        result = release(live.time);
    }
    if (m_held && !result && !waits()) {
        result = release(live.time);
    }
    for (int phase = 0; phase < 2; ++phase) {
        if (std::optional<MarkPrint> refined = m_phases[phase].takeRefined();
            refined && phase == m_toldPhase) {
            m_refined = std::move(refined);
        }
    }
    return result;
}

std::optional<MarkPrint> MarkMatcher::takeRefined() {
    return std::exchange(m_refined, std::nullopt);
}

}  // namespace hushwell
