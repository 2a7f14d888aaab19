#include "listen/Listener.h"

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
            if (std::optional<MarkPrint> refined = matcher.takeRefined()) {
                events.refined.push_back({key, std::move(*refined)});
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
                events.kept.push_back({press->first, std::move(*print), at.movedBy});
            }
            press = m_presses.erase(press);
        } else if (time > at.time + kPressWait) {
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
    m_ring.replay([this](std::span<const float> samples, double time) {
        for (const PrintFrame& frame : m_fingerprinter->push(samples, time)) {
            m_history.add(frame);
        }
    });
}

void Listener::press(MarkKey key, double time) {
    m_presses[key] = {time};
}

void Listener::listenFor(MarkKey key, const MarkPrint& print) {
    m_matchers.erase(key);
    Matcher matcher(print);
    if (matcher.usable()) {
        m_matchers.emplace(key, std::move(matcher));
    }
}

void Listener::stopListening(MarkKey key) {
    m_matchers.erase(key);
}

void Listener::clear() {
    m_ring.clear();
    m_presses.clear();
    m_matchers.clear();
}

}  // namespace hushwell
