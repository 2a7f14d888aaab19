#include "listen/PrintHistory.h"

#include <cmath>

namespace hushwell {
namespace {

// Two frames further apart than this have a gap between them.
constexpr double kGapStep = 1.5 * kFrameStep;

}  // namespace

PrintHistory::PrintHistory(double seconds) : m_seconds(seconds) {}

void PrintHistory::add(const PrintFrame& frame) {
    if (!m_frames.empty() && frame.time < m_frames.back().time) {
        return;
    }
    m_frames.push_back(frame);
    while (m_frames.front().time < frame.time - m_seconds) {
        m_frames.pop_front();
    }
}

std::optional<double> PrintHistory::newest() const {
    if (m_frames.empty()) {
        return std::nullopt;
    }
    return m_frames.back().time;
}

bool PrintHistory::ready(double pressTime) const {
    return !m_frames.empty() && m_frames.back().time >= pressTime + kKeptAfter;
}

std::size_t PrintHistory::nearest(double pressTime) const {
    std::size_t press = m_frames.size();
    double nearest = kFrameStep;
    for (std::size_t i = 0; i < m_frames.size(); ++i) {
        const double distance = std::abs(m_frames[i].time - pressTime);
        if (distance <= nearest) {
            nearest = distance;
            press = i;
        }
    }
    return press;
}

std::optional<double> PrintHistory::pressFrameTime(double pressTime) const {
    const std::size_t press = nearest(pressTime);
    if (press == m_frames.size()) {
        return std::nullopt;
    }
    return m_frames[press].time;
}

std::optional<MarkPrint> PrintHistory::around(double pressTime) const {
    const std::size_t press = nearest(pressTime);
    if (press == m_frames.size()) {
        return std::nullopt;
    }
    std::size_t first = press;
    while (first > 0 && m_frames[first - 1].time >= pressTime - kKeptBefore &&
           m_frames[first].time - m_frames[first - 1].time <= kGapStep) {
        --first;
    }
    std::size_t last = press;
    while (last + 1 < m_frames.size() && m_frames[last + 1].time <= pressTime + kKeptAfter &&
           m_frames[last + 1].time - m_frames[last].time <= kGapStep) {
        ++last;
    }
    MarkPrint print;
    print.pressFrame = press - first;
    for (std::size_t i = first; i <= last; ++i) {
        print.frames.push_back(m_frames[i].print);
    }
    return print;
}

std::optional<double> PrintHistory::soundBetween(double from, double to) const {
    for (const PrintFrame& frame : m_frames) {
        if (frame.time >= from && frame.time <= to && !silent(frame.print)) {
            return frame.time;
        }
    }
    return std::nullopt;
}

}  // namespace hushwell
