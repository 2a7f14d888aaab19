#include "listen/Listener.h"

namespace hushwell {

Listener::Events Listener::push(std::span<const float> samples, double rate, double time) {
    Events events;
    if (!m_fingerprinter || m_fingerprinter->rate() != rate) {
        m_fingerprinter.emplace(rate);
    }
    for (const PrintFrame& frame : m_fingerprinter->push(samples, time)) {
        m_history.add(frame);
        for (auto& [key, matcher] : m_matchers) {
            if (const std::optional<Heard> heard = matcher.add(frame)) {
                events.heard.push_back({key, *heard});
            }
        }
    }
    for (auto press = m_presses.begin(); press != m_presses.end();) {
        const double pressTime = press->second;
        if (m_history.ready(pressTime)) {
            if (std::optional<MarkPrint> print = m_history.around(pressTime)) {
                events.kept.push_back({press->first, std::move(*print)});
            }
            press = m_presses.erase(press);
        } else if (time > pressTime + kPressWait) {
            press = m_presses.erase(press);
        } else {
            ++press;
        }
    }
    return events;
}

void Listener::press(MarkKey key, double time) {
    m_presses[key] = time;
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
    m_presses.clear();
    m_matchers.clear();
}

}  // namespace hushwell
