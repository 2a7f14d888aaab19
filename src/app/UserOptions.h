#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "desktop/Autostart.h"
#include "settings/OptionsFile.h"

namespace hushwell {

class TrayIcon;
class UserInterface;
class VolumeOwner;

// The user's options (Hushwell_options.ini): read at start and carried out (the program to
// lower, start with the desktop), offered in the tray's menu, and saved each time the user
// changes one there. A problem with the file or the autostart entry is told in a message, and
// the option keeps its default or its earlier state.
class UserOptions final : public QObject {
    Q_OBJECT
public:
    UserOptions(OptionsFile file, VolumeOwner& volume, UserInterface& ui);

    // Before start-up: reads the file and gives the volume the program to lower.
    void load();
    // After start-up: tells what was wrong with the file, and writes the autostart entry again
    // when it is missing or starts another copy.
    void carryOut();
    // Shows the options in the tray's menu, and carries out each change made there.
    void offerIn(TrayIcon& tray);

    [[nodiscard]] const Options& options() const { return m_options; }
    [[nodiscard]] const OptionsFile& file() const { return m_file; }
    // Told the option "Follow the station" as loaded, and each time the tray's menu changes it.
    void onFollowStation(std::function<void(bool)> told);

private:
    void save(Option which);
    void setStartWithDesktop(bool on);
    [[nodiscard]] bool startsWithDesktop() const;
    void chooseProgram(const std::string& program);
    void showPrograms(const std::vector<std::string>& playing);
    void checkChosenPlays();

    OptionsFile m_file;
    VolumeOwner& m_volume;
    UserInterface& m_ui;
    Autostart m_autostart;
    Options m_options;
    std::vector<std::string> m_problems;
    TrayIcon* m_tray = nullptr;
    std::function<void(bool)> m_followStation = [](bool) {};
    // While a program is chosen, whether it plays is asked now and then, for the tooltip.
    QTimer m_playingCheck;
};

}  // namespace hushwell
