#include "listen/Listener.h"

#include <cmath>

namespace hushwell {

Listener::Events Listener::push(std::span<const float> samples, double rate, double time) {
    Events events;
    if (!fingerprinting()) {
        m_fingerprinter.reset();
        m_history.clear();
        m_ring.push(samples, rate, time);
        return events;
    }
    if (!m_fingerprinter) {
        startFingerprints(rate);
    } else if (m_fingerprinter->rate() != rate) {
        m_fingerprinter.emplace(rate);
    }
    m_ring.push(samples, rate, time);
    for (const PrintFrame& frame : m_fingerprinter->push(samples, time)) {
        m_history.add(frame);
        for (auto& [key, matcher] : m_matchers) {
            if (const std::optional<Heard> heard = matcher.add(frame)) {
                events.heard.push_back({key, *heard});
            }
            (void)matcher.takeRefined();  // of an occurrence given to another mark, or none
        }
        for (auto sharpening = m_sharpening.begin(); sharpening != m_sharpening.end();) {
            MarkMatcher& matcher = sharpening->second.matcher;
            (void)matcher.add(frame);
            std::optional<MarkPrint> refined = matcher.takeRefined();
            if (refined && MarkMatcher(*refined).usable()) {
                events.refined.push_back({sharpening->first, std::move(*refined)});
            }
            if (refined || frame.time > sharpening->second.until) {
                sharpening = m_sharpening.erase(sharpening);
            } else {
                ++sharpening;
            }
        }
    }
    for (auto press = m_presses.begin(); press != m_presses.end();) {
        Press& at = press->second;
        if (m_history.ready(at.time)) {
            const std::optional<double> sound = m_history.soundBetween(
                at.time - Matcher::kZoneBefore, at.time + Matcher::kZoneAfter);
            if (!sound && at.movedBy == 0) {
                if (const std::optional<double> after =
                        m_history.soundBetween(at.time, at.time + kKeptAfter)) {
                    at.movedBy = *after - at.time;
                    at.time = *after;
                    continue;
                }
            }
            if (!sound && at.movedBy == 0) {
                events.silent.push_back({press->first});
            } else if (std::optional<MarkPrint> print = m_history.around(at.time)) {
                print->halfway = halfwayFrames(m_history.pressFrameTime(at.time).value(),
                                               print->pressFrame, print->frames.size());
                events.kept.push_back({press->first, std::move(*print), at.movedBy});
            } else {
                events.silent.push_back({press->first, Silent::Why::BeforeAnySound});
            }
            press = m_presses.erase(press);
        } else if (time > at.time + kPressWait) {
            events.silent.push_back({press->first, Silent::Why::NothingPlayed});
            press = m_presses.erase(press);
        } else {
            ++press;
        }
    }
    return events;
}

void Listener::startFingerprints(double rate) {
    m_fingerprinter.emplace(rate);
    m_history.clear();
    if (m_ring.rate() != rate) {
        return;
    }
    m_ring.replay(
        [this](std::span<const float> samples, double time) {
            for (const PrintFrame& frame : m_fingerprinter->push(samples, time)) {
                m_history.add(frame);
            }
        },
        kPressReplay);
}

std::vector<Fingerprint> Listener::halfwayFrames(double pressFrameTime, std::size_t pressFrame,
                                                 std::size_t count) {
    const double rate = m_ring.rate();
    if (!m_fingerprinter || rate != m_fingerprinter->rate()) {
        return {};
    }
    const double firstTime = pressFrameTime - static_cast<double>(pressFrame) * kFrameStep;
    std::vector<PrintFrame> made;
    // First from the oldest sample kept, to see where the frames fall; then again from a start
    // that many samples later that they fall halfway between the print's.
    std::size_t skip = 0;
    for (int pass = 0; pass < 2; ++pass) {
        Fingerprinter fingerprinter(rate);
        made.clear();
        std::size_t toSkip = skip;
        m_ring.replay([&](std::span<const float> samples, double time) {
            const std::size_t dropped = std::min(toSkip, samples.size());
            toSkip -= dropped;
            std::vector<PrintFrame> frames = fingerprinter.push(
                samples.subspan(dropped), time + static_cast<double>(dropped) / rate);
            made.insert(made.end(), frames.begin(), frames.end());
        });
        if (made.empty()) {
            return {};
        }
        const double behind = std::fmod(firstTime + kFrameStep / 2 - made.front().time, kFrameStep);
        skip = static_cast<std::size_t>(
            std::lround((behind < 0 ? behind + kFrameStep : behind) * rate));
    }
    std::vector<Fingerprint> halfway(count);
    for (const PrintFrame& frame : made) {
        const double steps = (frame.time - firstTime) / kFrameStep - 0.5;
        const double index = std::round(steps);
        if (index >= 0 && index < static_cast<double>(count) && std::abs(steps - index) < 0.25) {
            halfway[static_cast<std::size_t>(index)] = frame.print;
        }
    }
    return halfway;
}

void Listener::press(MarkKey key, double time) {
    m_presses[key] = {time};
}

void Listener::listenFor(MarkKey key, const MarkPrint& print) {
    m_matchers.erase(key);
    MarkMatcher matcher(print);
    if (matcher.usable()) {
        m_matchers.emplace(key, std::move(matcher));
    }
}

void Listener::stopListening(MarkKey key) {
    m_matchers.erase(key);
}

void Listener::given(MarkKey key, double pressTime) {
    const auto matcher = m_matchers.find(key);
    if (matcher == m_matchers.end()) {
        return;
    }
    // The sharpened print comes once the frames to kSearchAfter past the press have passed.
    m_sharpening.insert_or_assign(
        key, Sharpening{std::move(matcher->second), pressTime + Matcher::kSearchAfter + 1.0});
    m_matchers.erase(matcher);
}

std::vector<Listener::Silent> Listener::expire(double now) {
    std::vector<Silent> expired;
    for (auto press = m_presses.begin(); press != m_presses.end();) {
        if (now > press->second.time + kPressWait) {
            expired.push_back({press->first, Silent::Why::NothingPlayed});
            press = m_presses.erase(press);
        } else {
            ++press;
        }
    }
    return expired;
}

void Listener::clear() {
    m_ring.clear();
    m_presses.clear();
    m_matchers.clear();
    m_sharpening.clear();
}

}  // namespace hushwell
