#include "app/StationListening.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "app/MainThreadTasks.h"
#include "app/MixerLog.h"
#if defined(HUSHWELL_HAVE_PULSE)
#include "mixer/PulseCapture.h"
#elif defined(HUSHWELL_HAVE_ENDPOINT_VOLUME)
#include "mixer/LoopbackCapture.h"
#endif

namespace hushwell {

namespace {

constexpr int kScheduleCheckMs = 1000;
constexpr double kHour = 3600;

double seconds(std::chrono::steady_clock::time_point time) {
    return std::chrono::duration<double>(time.time_since_epoch()).count();
}

std::unique_ptr<AudioCapture> platformCapture() {
#if defined(HUSHWELL_HAVE_PULSE)
    return pulseCapture();
#elif defined(HUSHWELL_HAVE_ENDPOINT_VOLUME)
    return loopbackCapture(logMixerCall);
#else
    return nullptr;
#endif
}

MarkKey keyOf(Level row, int index) {
    return {index, row == Level::Down ? MarkEdge::Down : MarkEdge::Up};
}

}  // namespace

StationListening::StationListening(Core& core, const Clock& clock, UserInterface& ui,
                                   MainThreadTasks& tasks, std::filesystem::path printFile,
                                   std::function<std::string()> program)
    : m_core(core),
      m_clock(clock),
      m_ui(ui),
      m_tasks(tasks),
      m_printFile(std::move(printFile)),
      m_program(std::move(program)) {
    // Read whether or not the option is on, so that a mark's edit drops its print all the same.
    LoadedPrints loaded = loadPrintFile(m_printFile);
    m_prints = std::move(loaded.prints);
    m_fileProblem = std::move(loaded.problem);
    core.editor.onMarkAction(
        [this](MarkAction action, Level row, int index) { markAction(action, row, index); });
    m_schedule.setInterval(kScheduleCheckMs);
    connect(&m_schedule, &QTimer::timeout, this, &StationListening::listenAsScheduled);
}

StationListening::~StationListening() {
    if (m_capture) {
        m_capture->stop();
    }
}

void StationListening::setOn(bool on) {
    m_on = on;
    m_core.following.setOn(on);
    if (!on) {
        m_schedule.stop();
        if (m_capture) {
            m_capture->stop();
        }
        m_capturing.clear();
        m_listening.clear();
        const std::lock_guard lock(m_mutex);
        m_listener.clear();
        return;
    }
    if (!m_fileProblem.empty()) {
        m_ui.showMessage(m_fileProblem + " Fingerprints are kept again at the next Set.");
        m_fileProblem.clear();
    }
    tellSchedule();
    if (!m_capture) {
        m_capture = platformCapture();
    }
    capture(m_program());
    m_schedule.start();
    listenAsScheduled();
}

void StationListening::capture(const std::string& program) {
    m_capturing = program;
    if (!m_capture) {
        return;
    }
    m_capture->start(program, [this](std::span<const float> samples, double rate,
                                     std::chrono::steady_clock::time_point start) {
        Listener::Events events;
        {
            const std::lock_guard lock(m_mutex);
            events = m_listener.push(samples, rate, seconds(start));
        }
        if (!events.kept.empty() || !events.heard.empty()) {
            m_tasks.post([this, events = std::move(events)] { received(events); });
        }
    });
}

// Each second: the capture follows the program lowered, and the marks the schedule wants heard
// are listened for, the others not.
void StationListening::listenAsScheduled() {
    if (!m_on) {
        return;
    }
    if (const std::string program = m_program(); program != m_capturing) {
        capture(program);
    }
    const std::vector<MarkKey> wanted = m_core.following.listenedFor(m_clock.now());
    const std::lock_guard lock(m_mutex);
    for (auto key = m_listening.begin(); key != m_listening.end();) {
        if (std::find(wanted.begin(), wanted.end(), *key) == wanted.end()) {
            m_listener.stopListening(*key);
            key = m_listening.erase(key);
        } else {
            ++key;
        }
    }
    for (const MarkKey& key : wanted) {
        const MarkPrint* print = printFor(m_prints, key, markText(key));
        if (print != nullptr && m_listening.insert(key).second) {
            m_listener.listenFor(key, *print);
        }
    }
}

void StationListening::received(const Listener::Events& events) {
    if (!m_on) {
        return;
    }
    for (const Listener::Kept& kept : events.kept) {
        keep(kept);
    }
    for (const Listener::HeardMark& mark : events.heard) {
        heard(mark);
    }
}

void StationListening::keep(const Listener::Kept& kept) {
    m_prints[kept.key] = {markText(kept.key), kept.print};
    tellSchedule();
    store(true);
}

// The moment that matched the press is told as a second of the hour: the clock's now, less how
// long ago it was on the capture's clock. The schedule is evaluated at once, not at the next tick.
void StationListening::heard(const Listener::HeardMark& mark) {
    const double ago = seconds(std::chrono::steady_clock::now()) - mark.heard.pressTime;
    const TimeOfDay now = m_clock.now();
    const double secondOfHour = now.minute * 60 + now.second + now.millisecond / 1000.0 - ago;
    m_core.following.heard(mark.key, secondOfHour < 0 ? secondOfHour + kHour : secondOfHour);
    {
        const std::lock_guard lock(m_mutex);
        m_listener.stopListening(mark.key);
    }
    (void)m_core.tick.runAndTellTime(now);
}

void StationListening::markAction(MarkAction action, Level row, int index) {
    const MarkKey key = keyOf(row, index);
    const MarkPrints before = m_prints;
    switch (action) {
        case MarkAction::Stamped:
            if (m_on) {
                const std::lock_guard lock(m_mutex);
                m_listener.press(key, seconds(std::chrono::steady_clock::now()));
            }
            break;
        case MarkAction::MovedOn:
            if (index + 1 < kPairCount) {
                const MarkKey next = keyOf(row, index + 1);
                if (const auto found = m_prints.find(key); found != m_prints.end()) {
                    m_prints[next] = found->second;
                } else {
                    m_prints.erase(next);
                }
            }
            break;
        case MarkAction::EditedByHand:
            break;
        case MarkAction::Cleared:
            m_prints.clear();
            break;
    }
    m_prints.erase(key);
    tellSchedule();
    store(m_prints != before);
}

void StationListening::tellSchedule() {
    for (int pair = 0; pair < kPairCount; ++pair) {
        for (const MarkEdge edge : {MarkEdge::Down, MarkEdge::Up}) {
            const MarkKey key{pair, edge};
            const auto found = m_prints.find(key);
            m_core.following.setPrinted(key, found == m_prints.end()
                                                 ? std::nullopt
                                                 : std::optional(found->second.markText));
        }
    }
}

// Prints whose mark's text changed since (edited while the program was not running) go too. A
// file left as it was (a damaged one included) is not written.
void StationListening::store(bool changed) {
    for (auto print = m_prints.begin(); print != m_prints.end();) {
        if (print->second.markText != markText(print->first)) {
            print = m_prints.erase(print);
            changed = true;
        } else {
            ++print;
        }
    }
    if (!changed) {
        return;
    }
    try {
        savePrintFile(m_printFile, m_prints);
    } catch (const std::exception& error) {
        m_ui.showMessage(error.what());
    }
}

std::string StationListening::markText(MarkKey key) const {
    return m_core.model.mark(key.edge == MarkEdge::Down ? Level::Down : Level::Up, key.pair);
}

}  // namespace hushwell
