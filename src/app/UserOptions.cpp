#include "app/UserOptions.h"

#include <QPointer>
#include <QStringList>
#include <algorithm>
#include <stdexcept>

#include "engine/UserInterface.h"
#include "mixer/VolumeOwner.h"
#include "ui/TrayIcon.h"

namespace hushwell {

namespace {

constexpr int kPlayingCheckMs = 5000;
// While the chosen program's own volume cannot be had: the volume's owner asks for it each second.
constexpr int kReachCheckMs = 1000;
constexpr const char* kNoProgramVolume =
    "The sound system in use has no volume per program (ALSA and the winmm mixer have none): "
    "the whole computer is lowered.";

QStringList toQt(const std::vector<std::string>& programs) {
    QStringList list;
    for (const std::string& program : programs) {
        list << QString::fromStdString(program);
    }
    return list;
}

}  // namespace

UserOptions::UserOptions(OptionsFile file, VolumeOwner& volume, UserInterface& ui)
    : m_file(std::move(file)), m_volume(volume), m_ui(ui) {
    m_playingCheck.setInterval(kPlayingCheckMs);
    connect(&m_playingCheck, &QTimer::timeout, this, &UserOptions::checkChosenPlays);
}

void UserOptions::load() {
    LoadedOptions loaded = m_file.load();
    m_options = std::move(loaded.options);
    m_problems = std::move(loaded.problems);
    m_volume.lowerOnly(m_options.lowerOnly);
}

void UserOptions::carryOut() {
    if (m_options.startWithDesktop) {
        if (const std::optional<std::string> error = m_autostart.repair()) {
            m_problems.push_back(*error);
        }
    }
    if (!m_problems.empty()) {
        std::string text;
        for (const std::string& problem : m_problems) {
            text += (text.empty() ? "" : "\n\n") + problem;
        }
        m_problems.clear();
        m_ui.showMessage(text);
    }
}

void UserOptions::offerIn(TrayIcon& tray) {
    m_tray = &tray;
    m_tray->setStartWithDesktop(startsWithDesktop());
    m_tray->setHideWhenMinimized(m_options.hideWhenMinimized);
    m_tray->setFollowStation(m_options.followStation);
    showPrograms({});
    connect(m_tray, &TrayIcon::startWithDesktopToggled, this, &UserOptions::setStartWithDesktop);
    connect(m_tray, &TrayIcon::hideWhenMinimizedToggled, this, [this](bool on) {
        m_options.hideWhenMinimized = on;
        save(Option::HideWhenMinimized);
    });
    connect(m_tray, &TrayIcon::followStationToggled, this, [this](bool on) {
        m_options.followStation = on;
        m_followStation(on);
        save(Option::FollowStation);
    });
    connect(m_tray, &TrayIcon::lowerChosen, this,
            [this](const QString& program) { chooseProgram(program.toStdString()); });
    connect(m_tray, &TrayIcon::programsWanted, this, [this] {
        m_volume.askPlayingPrograms(
            [self = QPointer(this)](const std::vector<std::string>& playing) {
                if (self) {
                    self->showPrograms(playing);
                }
            });
    });
    checkChosenPlays();
}

void UserOptions::onFollowStation(std::function<void(bool)> told) {
    m_followStation = std::move(told);
    m_followStation(m_options.followStation);
}

void UserOptions::save(Option which) {
    try {
        m_file.save(which, m_options);
    } catch (const std::exception& error) {
        m_ui.showMessage(error.what());
    }
}

void UserOptions::setStartWithDesktop(bool on) {
    const auto saveOption = [this](bool value) {
        Options changed = m_options;
        changed.startWithDesktop = value;
        m_file.save(Option::StartWithDesktop, changed);
        m_options.startWithDesktop = value;
    };
    if (const std::optional<std::string> error = hushwell::setStartWithDesktop(
            m_autostart, on, m_options.startWithDesktop, saveOption)) {
        m_ui.showMessage(*error);
    }
    m_tray->setStartWithDesktop(startsWithDesktop());
}

// The desktop's own settings may have switched the entry off: the option then shows off.
bool UserOptions::startsWithDesktop() const {
    return m_options.startWithDesktop && m_autostart.isEnabled();
}

void UserOptions::chooseProgram(const std::string& program) {
    if (program == m_options.lowerOnly) {
        return;
    }
    m_options.lowerOnly = program;
    m_volume.lowerOnly(program);
    m_tray->setChosenNotPlaying(false);
    save(Option::LowerOnly);
    checkChosenPlays();
}

void UserOptions::showPrograms(const std::vector<std::string>& playing) {
    const bool available = m_volume.hasProgramVolume();
    m_tray->setPrograms(toQt(playing), QString::fromStdString(m_options.lowerOnly), available,
                        kNoProgramVolume);
}

// While a program is chosen: whether it can be lowered alone now, and whether it plays. Without
// a volume per program (for now, or on this system) the whole computer is lowered, as the tooltip
// says; the check goes on, so that it says so no longer once the program's volume comes.
void UserOptions::checkChosenPlays() {
    if (m_options.lowerOnly.empty()) {
        m_tray->setChosenNotPlaying(false);
        m_tray->setLoweredInsteadOf({});
        m_playingCheck.stop();
        return;
    }
    const bool reachable = m_volume.hasProgramVolume();
    m_playingCheck.setInterval(reachable ? kPlayingCheckMs : kReachCheckMs);
    if (!m_playingCheck.isActive()) {
        m_playingCheck.start();
    }
    m_tray->setLoweredInsteadOf(reachable ? QString()
                                          : QString::fromStdString(m_options.lowerOnly));
    if (!reachable) {
        m_tray->setChosenNotPlaying(false);
        return;
    }
    m_volume.askPlayingPrograms([self = QPointer(this)](const std::vector<std::string>& playing) {
        if (self && self->m_tray != nullptr) {
            const std::string& chosen = self->m_options.lowerOnly;
            self->m_tray->setChosenNotPlaying(std::find(playing.begin(), playing.end(), chosen) ==
                                              playing.end());
        }
    });
}

}  // namespace hushwell
