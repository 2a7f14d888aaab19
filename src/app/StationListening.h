#pragma once

#include <QObject>
#include <QTimer>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "engine/Core.h"
#include "engine/PrintKeeping.h"
#include "listen/Listener.h"
#include "mixer/AudioCapture.h"

namespace hushwell {

class MainThreadTasks;

// The option "Follow the station" carried out: while it is on, what the computer plays is
// captured (the default output's monitor, or the chosen program's stream when only it is
// lowered) and listened to. A Set press keeps the fingerprints around it, stored with the mark's
// text in "Hushwell_marks.fp"; later hours, the marks with a print are listened for as the
// schedule asks, and what is heard goes to the schedule on the window's thread. A print goes with
// its mark: moved on with it, dropped by Clear Settings or an edit by hand. The settings file is
// never touched.
class StationListening final : public QObject {
    Q_OBJECT
public:
    // `program`: the program lowered now (empty: the whole computer), asked each second;
    // `windowShown`: whether a Set press may come (the window is shown, not minimized), asked each
    // second and at each press.
    StationListening(Core& core, const Clock& clock, UserInterface& ui, MainThreadTasks& tasks,
                     std::filesystem::path printFile, std::function<std::string()> program,
                     std::function<bool()> windowShown);
    ~StationListening() override;

    void setOn(bool on);

private:
    void markAction(MarkAction action, Level row, int index);
    void listenAsScheduled();
    void askCapture();
    void capture(const std::string& program);
    void received(const Listener::Events& events);
    void keep(const Listener::Kept& kept);
    void silent(const Listener::Silent& press);
    // The matches of one batch, those at one moment together as one sound.
    void heard(std::vector<Listener::HeardMark> marks);
    // Each mark's print as the schedule sees it: only while the mark's text is the one kept.
    void tellSchedule();
    void store();

    Core& m_core;
    const Clock& m_clock;
    UserInterface& m_ui;
    MainThreadTasks& m_tasks;
    std::filesystem::path m_printFile;
    std::function<std::string()> m_program;
    std::function<bool()> m_windowShown;
    PrintKeeping m_prints;
    bool m_fileKeptOff = false;  // a file in the way: told (and set aside) once the option is on
    MarkPrints m_written;        // what the file holds, as last read or written
    std::unique_ptr<AudioCapture> m_capture;
    std::string m_capturing;  // the program captured (empty: the whole computer)
    bool m_on = false;
    QTimer m_schedule;
    QTimer m_atMoment;  // single shot: the moment of an edge told before it
    // The capture's thread pushes blocks while the window's thread presses and listens for marks.
    std::mutex m_mutex;
    Listener m_listener;
};

}  // namespace hushwell
