#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QSystemTrayIcon>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>

#include "engine/Core.h"
#include "ui/AppIcon.h"

class QAction;
class QActionGroup;
class QMenu;

namespace hushwell {

class MainWindow;

// The program's icon in the desktop's tray: UP or DOWN as the window's title tells, what the
// schedule does next as its tooltip (both renewed by each of the window's ticks), a click that
// shows or hides the window, and a menu. The menu's choices that are options of the program are
// reported as signals; whoever keeps the options sets their states back.
class TrayIcon final : public QObject {
    Q_OBJECT
public:
    // None where the desktop has no tray: the window is then all there is, as without one.
    [[nodiscard]] static std::unique_ptr<TrayIcon> createIfAvailable(MainWindow& window,
                                                                     const Core& core);
    // Gives `made` the tray icon as soon as the desktop has a tray: at once, or when one comes
    // within `patience` (a program started with the desktop may start before the panel that
    // holds the tray). `made` is not called once `context` is gone.
    static void createWhenAvailable(MainWindow& window, const Core& core, QObject* context,
                                    std::function<void(std::unique_ptr<TrayIcon>)> made,
                                    std::chrono::seconds patience = std::chrono::minutes(2));
    TrayIcon(MainWindow& window, const Core& core);
    ~TrayIcon() override;

    // The checkable states, as the options hold them; setting one emits nothing.
    void setStartWithDesktop(bool on);
    void setHideWhenMinimized(bool on);
    // The Lower submenu: the whole computer, then the programs `playing`, the one `chosen`
    // (empty: the whole computer) checked. Without a volume per program (`available` false) the
    // choice of a program is greyed, `reasonWhenNot` its tooltip.
    void setPrograms(const QStringList& playing, const QString& chosen, bool available,
                     const QString& reasonWhenNot);
    // Whether the chosen program is not playing, so that nothing at all is lowered.
    void setChosenNotPlaying(bool notPlaying);

    [[nodiscard]] QString toolTip() const { return m_icon.toolTip(); }
    [[nodiscard]] bool showsDown() const { return m_shown == IconLevel::Down; }
    [[nodiscard]] QMenu* menu() const { return m_menu.get(); }

signals:
    void lowerChosen(const QString& program);  // empty: the whole computer
    void startWithDesktopToggled(bool on);
    void hideWhenMinimizedToggled(bool on);
    void programsWanted();  // the Lower submenu is about to show

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildMenu();
    void update(const QString& now);
    void renderToolTip();
    void toggleWindow();
    void quit();
    void addProgram(const QString& program, bool checked);

    MainWindow& m_window;
    const Core& m_core;
    QSystemTrayIcon m_icon;
    // Hidden from within its state change, the window manager would keep its own idea of it.
    QTimer m_hideLater;
    std::unique_ptr<QMenu> m_menu;
    QMenu* m_lowerMenu = nullptr;
    QActionGroup* m_lowerGroup = nullptr;
    QAction* m_wholeComputer = nullptr;
    QAction* m_startWithDesktop = nullptr;
    QAction* m_hideWhenMinimized = nullptr;
    IconLevel m_shown = IconLevel::Up;
    QString m_next;
    QString m_chosen;
    bool m_chosenNotPlaying = false;
};

}  // namespace hushwell
