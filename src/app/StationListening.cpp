#include "app/StationListening.h"

#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <stdexcept>

#include "app/MainThreadTasks.h"
#include "app/MixerLog.h"
#include "listen/MarkMatcher.h"
#if defined(HUSHWELL_HAVE_PULSE)
#include "mixer/pulse/PulseCapture.h"
#elif defined(HUSHWELL_HAVE_ENDPOINT_VOLUME)
#include "mixer/windows/LoopbackCapture.h"
#endif

namespace hushwell {

namespace {

constexpr int kScheduleCheckMs = 1000;
// Matches of one batch this close together are one sound.
constexpr double kOneMoment = 1;

double seconds(std::chrono::steady_clock::time_point time) {
    return std::chrono::duration<double>(time.time_since_epoch()).count();
}

std::unique_ptr<AudioCapture> platformCapture() {
#if defined(HUSHWELL_HAVE_PULSE)
    return pulseCapture();
#elif defined(HUSHWELL_HAVE_ENDPOINT_VOLUME)
    return std::make_unique<LoopbackCapture>(LoopbackCapture::Options{.log = logMixerCall});
#else
    return nullptr;
#endif
}

}  // namespace

StationListening::StationListening(Core& core, const Clock& clock, UserInterface& ui,
                                   MainThreadTasks& tasks, std::filesystem::path printFile,
                                   std::function<std::string()> program,
                                   std::function<bool()> windowShown)
    : m_core(core),
      m_clock(clock),
      m_ui(ui),
      m_tasks(tasks),
      m_printFile(std::move(printFile)),
      m_program(std::move(program)),
      m_windowShown(std::move(windowShown)),
      m_prints(core.model) {
    // Read whether or not the option is on, so that the prints follow the marks all the same; a
    // file that cannot be used is left as it is until the option is on, and then set aside.
    LoadedPrints loaded = loadPrintFile(m_printFile, Damaged::Leave);
    m_written = loaded.prints;
    m_prints.load(std::move(loaded.prints));
    m_fileKeptOff = loaded.keepOff;
    core.editor.onMarkAction(
        [this](MarkAction action, Level row, int index) { markAction(action, row, index); });
    m_schedule.setInterval(kScheduleCheckMs);
    connect(&m_schedule, &QTimer::timeout, this, &StationListening::listenAsScheduled);
    m_atMoment.setSingleShot(true);
    connect(&m_atMoment, &QTimer::timeout, this,
            [this] { (void)m_core.tick.runAndTellTime(m_clock.now()); });
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
        m_prints.stoppedAll();
        const std::lock_guard lock(m_mutex);
        m_listener.clear();
        return;
    }
    if (m_fileKeptOff) {
        // Now told, and a damaged file set aside; a later version's stays in the way.
        LoadedPrints loaded = loadPrintFile(m_printFile);
        m_fileKeptOff = loaded.keepOff;
        if (!loaded.keepOff) {
            m_written = loaded.prints;
            m_prints.load(std::move(loaded.prints));
            (void)m_prints.dropStale();
        }
        if (!loaded.problem.empty()) {
            m_ui.showMessage(loaded.keepOff ? loaded.problem
                                            : loaded.problem +
                                                  " Fingerprints are kept again at the next Set.");
        }
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
    // A program lowered alone is heard as lowered where its volume cannot be undone (at 0 %).
    m_core.following.setHeardBeforeTheVolume(m_capture && m_capture->hearsBeforeTheVolume() &&
                                             program.empty());
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
        if (!events.kept.empty() || !events.heard.empty() || !events.refined.empty() ||
            !events.silent.empty()) {
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
    const PrintKeeping::Listening change =
        m_prints.listen(m_core.following.listenedFor(m_clock.now()));
    std::vector<Listener::Silent> expired;
    {
        const std::lock_guard lock(m_mutex);
        expired = m_listener.expire(seconds(std::chrono::steady_clock::now()));
        for (const MarkKey& key : change.stop) {
            m_listener.stopListening(key);
        }
        for (const auto& [key, print] : change.start) {
            m_listener.listenFor(key, print);
        }
    }
    for (const Listener::Silent& press : expired) {
        silent(press);
    }
    askCapture();
}

// The capture hands its audio on promptly only while fingerprints are made: a mark listened for
// is switched within a second of its sound, and a press's stretch is not cut off by a stream that
// ends. Otherwise it may come in pieces of seconds, which wakes this program and the server less;
// and with the window hidden (no press can come) it records nothing at all.
void StationListening::askCapture() {
    bool prompt = false;
    bool active = false;
    {
        const std::lock_guard lock(m_mutex);
        prompt = m_listener.fingerprinting();
        active = m_listener.wantsAudio(m_windowShown());
    }
    // Not under the lock: the capture's thread holds its own while it takes the lock.
    if (m_capture) {
        m_capture->setPrompt(prompt);
        m_capture->setActive(active);
    }
}

void StationListening::received(const Listener::Events& events) {
    if (!m_on) {
        return;
    }
    for (const Listener::Kept& kept : events.kept) {
        keep(kept);
    }
    for (const Listener::Silent& press : events.silent) {
        silent(press);
    }
    bool refined = false;
    for (const Listener::Kept& print : events.refined) {
        refined = m_prints.refined(print.key, print.print) || refined;
    }
    if (refined) {
        tellSchedule();
        store();
    }
    if (!events.heard.empty()) {
        heard(events.heard);
    }
}

void StationListening::keep(const Listener::Kept& kept) {
    const std::optional<MarkKey> stored = m_prints.kept(kept.key, kept.print, kept.movedBy);
    if (stored && kept.movedBy > 0) {
        logMixerCall(m_prints.prints().at(*stored).markText + " was set in silence: its print " +
                     "begins " + std::to_string(std::lround(kept.movedBy)) +
                     " s later, at the sound that followed");
    }
    if (stored) {
        m_core.following.setNotice("");
        tellSchedule();
        store();
    }
}

void StationListening::silent(const Listener::Silent& press) {
    using Why = Listener::Silent::Why;
    if (const std::optional<std::string> text = m_prints.silent(press.key)) {
        const std::string notice =
            *text +
            (press.why == Why::InSilence       ? " was set in silence"
             : press.why == Why::NothingPlayed ? " was set while nothing played"
                                               : " was set before its sound was heard") +
            ": no print kept";
        logMixerCall(notice);
        m_core.following.setNotice(notice);
    }
}

// Each moment that matched a press is told as a second of the hour: the clock's now, less how
// long ago it was on the capture's clock. Of the marks it matched, the schedule takes one, which
// is no longer listened for; the others still are. The schedule is evaluated at once, not at the
// next tick.
void StationListening::heard(std::vector<Listener::HeardMark> marks) {
    std::sort(marks.begin(), marks.end(),
              [](const auto& a, const auto& b) { return a.heard.pressTime < b.heard.pressTime; });
    const double captured = seconds(std::chrono::steady_clock::now());
    const TimeOfDay now = m_clock.now();
    for (auto first = marks.begin(); first != marks.end();) {
        std::vector<MarkKey> keys;
        auto last = first;
        for (; last != marks.end() && last->heard.pressTime - first->heard.pressTime < kOneMoment;
             ++last) {
            keys.push_back(last->key);
        }
        const double second = PrintKeeping::secondOfHour(now, captured, first->heard.pressTime);
        if (const std::optional<MarkKey> given = m_core.following.heard(keys, second)) {
            m_prints.stopped(*given);
            const auto heard = std::find_if(
                first, last, [&](const Listener::HeardMark& mark) { return mark.key == *given; });
            const std::lock_guard lock(m_mutex);
            m_listener.given(*given, heard->heard.pressTime);
        }
        first = last;
    }
    (void)m_core.tick.runAndTellTime(now);
    // Told before its moment, an edge switches at that moment, not at the next tick up to a
    // second later.
    if (const std::optional<double> ahead = m_core.following.untilHeard(now)) {
        const auto wait =
            std::chrono::milliseconds(static_cast<long>(std::ceil(*ahead * 1000)) + 1);
        m_atMoment.start(wait);
    }
}

void StationListening::markAction(MarkAction action, Level row, int index) {
    const MarkKey key{index, row};
    m_prints.markAction(action, key);
    if (action == MarkAction::Stamped || action == MarkAction::Cleared) {
        m_core.following.setNotice("");  // a press in silence is told until the next press
    }
    if (action == MarkAction::Stamped && m_on) {
        m_prints.pressed(key);
        {
            const std::lock_guard lock(m_mutex);
            m_listener.press(key, seconds(std::chrono::steady_clock::now()));
        }
        askCapture();
    }
    tellSchedule();
    store();
}

void StationListening::tellSchedule() {
    for (int pair = 0; pair < kPairCount; ++pair) {
        for (const Level edge : {Level::Down, Level::Up}) {
            const MarkKey key{pair, edge};
            const auto found = m_prints.prints().find(key);
            // A print too short to be heard is no print: the tooltip says "listening" for none.
            const bool heard =
                found != m_prints.prints().end() && MarkMatcher(found->second.print).usable();
            m_core.following.setPrinted(
                key, heard ? std::optional(found->second.markText) : std::nullopt,
                m_prints.movedBy(key));
        }
    }
}

// The file keeps the prints of the marks as saved; it is written when they change. Prints whose
// mark's text changed since (edited while the program was not running) go too. A file in the way
// (a later version's, or a damaged one not yet set aside) is not written over.
void StationListening::store() {
    (void)m_prints.dropStale();
    if (m_prints.filed() == m_written || m_fileKeptOff) {
        return;
    }
    try {
        savePrintFile(m_printFile, m_prints.filed());
        m_written = m_prints.filed();
    } catch (const std::exception& error) {
        m_ui.showMessage(error.what());
    }
}

}  // namespace hushwell
