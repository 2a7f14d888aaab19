#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QSystemTrayIcon>
#include <QTimer>
#include <memory>

#include "engine/Core.h"
#include "ui/AppIcon.h"

class QAction;
class QActionGroup;
class QMenu;

namespace hushwell {

// What "Follow the station" does, as its menu entry's help.
constexpr const char* kFollowStationHelp =
    "Switch when the station's break jingle is heard, not only at the marks' clock times: Set "
    "remembers fingerprints of what was playing (never the audio itself). Where the Down level is "
    "0 or the sound is muted, the end of a break cannot be heard, so the Up mark's clock time "
    "applies.";

class MainWindow;
class StatusNotifierItem;

// The program's icon in the desktop's tray: UP or DOWN as the window's title tells, what the
// schedule does next as its tooltip (both renewed by each of the window's ticks), a click that
// shows or hides the window, and a menu. The menu's choices that are options of the program are
// reported as signals; whoever keeps the options sets their states back.
//
// On Linux the icon goes to whichever panel is there, and follows the panels that come, go and
// restart: to a StatusNotifierItem watcher on the session bus while one has taken it, otherwise
// to an X tray (Qt's own icon, which docks in a tray that comes late or restarts).
class TrayIcon final : public QObject {
    Q_OBJECT
public:
    TrayIcon(MainWindow& window, const Core& core);
    ~TrayIcon() override;

    // The checkable states, as the options hold them; setting one emits nothing.
    void setStartWithDesktop(bool on);
    void setHideWhenMinimized(bool on);
    void setFollowStation(bool on);
    // The Lower submenu: the whole computer, then the programs `playing`, the one `chosen`
    // (empty: the whole computer) checked. Without a volume per program (`available` false) the
    // choice of a program is greyed, `reasonWhenNot` its tooltip.
    void setPrograms(const QStringList& playing, const QString& chosen, bool available,
                     const QString& reasonWhenNot);
    // Whether the chosen program is not playing, so that nothing at all is lowered.
    void setChosenNotPlaying(bool notPlaying);
    // The chosen program whose own volume cannot be had now (Windows' audio service busy at
    // log-in), so that the whole computer is lowered instead; empty: none.
    void setLoweredInsteadOf(const QString& program);

    // The tooltip as an X tray or Windows shows it: the program's name, then what comes next.
    [[nodiscard]] QString toolTip() const;
    // Whether a panel shows the icon now.
    [[nodiscard]] bool inPanel() const;
    [[nodiscard]] bool showsDown() const { return m_shown == Level::Down; }
    [[nodiscard]] QMenu* menu() const { return m_menu.get(); }

signals:
    void lowerChosen(const QString& program);  // empty: the whole computer
    void startWithDesktopToggled(bool on);
    void hideWhenMinimizedToggled(bool on);
    void followStationToggled(bool on);
    void programsWanted();  // the Lower submenu is about to show

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildMenu();
    // Puts the icon where a panel shows it: the StatusNotifierItem while a watcher holds it,
    // otherwise Qt's own icon.
    void choosePanel();
    void setIcon(const QIcon& icon);
    void update(const QString& now);
    void renderToolTip();
    void toggleWindow();
    void quit();
    void addProgram(const QString& program, bool checked, qsizetype at);

    MainWindow& m_window;
    const Core& m_core;
    // Made only when wanted: made while a StatusNotifierItem watcher is on the bus, Qt would
    // make it an item of its own on that watcher for the whole run.
    std::unique_ptr<QSystemTrayIcon> m_qtIcon;
    StatusNotifierItem* m_item = nullptr;  // a child; none without a session bus
    QString m_toolTip;
    // Hidden from within its state change, the window manager would keep its own idea of it.
    QTimer m_hideLater;
    std::unique_ptr<QMenu> m_menu;
    QMenu* m_lowerMenu = nullptr;
    QActionGroup* m_lowerGroup = nullptr;
    QAction* m_wholeComputer = nullptr;
    QAction* m_startWithDesktop = nullptr;
    QAction* m_hideWhenMinimized = nullptr;
    QAction* m_followStation = nullptr;
    Level m_shown = Level::Up;
    QString m_next;
    QString m_chosen;
    bool m_chosenNotPlaying = false;
    QString m_insteadOf;
};

}  // namespace hushwell
