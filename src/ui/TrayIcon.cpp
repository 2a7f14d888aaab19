#include "ui/TrayIcon.h"

#include <QActionGroup>
#include <QCoreApplication>
#include <QEvent>
#include <QMenu>
#include <QTimer>

#include "engine/NextChange.h"
#include "ui/MainWindow.h"

namespace hushwell {

std::unique_ptr<TrayIcon> TrayIcon::createIfAvailable(MainWindow& window, const Core& core) {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        return nullptr;
    }
    return std::make_unique<TrayIcon>(window, core);
}

void TrayIcon::createWhenAvailable(MainWindow& window, const Core& core, QObject* context,
                                   std::function<void(std::unique_ptr<TrayIcon>)> made,
                                   std::chrono::seconds patience) {
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        made(std::make_unique<TrayIcon>(window, core));
        return;
    }
    constexpr std::chrono::seconds kLookEvery{2};
    auto* look = new QTimer(context);
    look->setInterval(kLookEvery);
    const auto giveUpAt = std::chrono::steady_clock::now() + patience;
    connect(look, &QTimer::timeout, context,
            [look, &window, &core, made = std::move(made), giveUpAt] {
                if (QSystemTrayIcon::isSystemTrayAvailable()) {
                    look->deleteLater();
                    look->stop();
                    made(std::make_unique<TrayIcon>(window, core));
                } else if (std::chrono::steady_clock::now() >= giveUpAt) {
                    look->stop();
                    look->deleteLater();
                }
            });
    look->start();
}

TrayIcon::TrayIcon(MainWindow& window, const Core& core)
    : m_window(window), m_core(core), m_menu(std::make_unique<QMenu>()) {
    buildMenu();
    m_icon.setIcon(levelIcon(m_shown));
    m_icon.setToolTip(kProgramName);
    m_icon.setContextMenu(m_menu.get());
    connect(&m_icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger) {
                    toggleWindow();
                }
            });
    connect(&m_window, &MainWindow::ticked, this, &TrayIcon::update);
    m_hideLater.setSingleShot(true);
    m_hideLater.setInterval(0);
    connect(&m_hideLater, &QTimer::timeout, this, [this] {
        if (m_window.isMinimized()) {
            m_window.hide();
        }
    });
    m_window.installEventFilter(this);
    m_icon.show();
}

TrayIcon::~TrayIcon() {
    m_window.removeEventFilter(this);
    m_icon.hide();
    m_icon.setContextMenu(nullptr);
}

void TrayIcon::buildMenu() {
    m_menu->addAction("Show Hushwell", &m_window, &MainWindow::bringToFront);

    m_lowerMenu = m_menu->addMenu("Lower");
    m_lowerMenu->setToolTipsVisible(true);
    m_lowerGroup = new QActionGroup(m_lowerMenu);
    m_lowerGroup->setExclusive(true);
    m_wholeComputer = m_lowerMenu->addAction("The whole computer");
    m_wholeComputer->setCheckable(true);
    m_wholeComputer->setChecked(true);
    m_lowerGroup->addAction(m_wholeComputer);
    connect(m_lowerMenu, &QMenu::aboutToShow, this, &TrayIcon::programsWanted);
    connect(m_lowerGroup, &QActionGroup::triggered, this, [this](QAction* action) {
        emit lowerChosen(action == m_wholeComputer ? QString() : action->data().toString());
    });

    m_startWithDesktop = m_menu->addAction("Start with the desktop");
    m_startWithDesktop->setCheckable(true);
    connect(m_startWithDesktop, &QAction::toggled, this, &TrayIcon::startWithDesktopToggled);
    m_hideWhenMinimized = m_menu->addAction("Hide when minimized");
    m_hideWhenMinimized->setCheckable(true);
    connect(m_hideWhenMinimized, &QAction::toggled, this, &TrayIcon::hideWhenMinimizedToggled);

    m_menu->addSeparator();
    m_menu->addAction("Quit", this, &TrayIcon::quit);
}

void TrayIcon::setStartWithDesktop(bool on) {
    const QSignalBlocker blocker(m_startWithDesktop);
    m_startWithDesktop->setChecked(on);
}

void TrayIcon::setHideWhenMinimized(bool on) {
    const QSignalBlocker blocker(m_hideWhenMinimized);
    m_hideWhenMinimized->setChecked(on);
}

void TrayIcon::setPrograms(const QStringList& playing, const QString& chosen, bool available,
                           const QString& reasonWhenNot) {
    for (QAction* action : m_lowerGroup->actions()) {
        if (action != m_wholeComputer) {
            m_lowerGroup->removeAction(action);
            m_lowerMenu->removeAction(action);
            delete action;
        }
    }
    m_chosen = chosen;
    m_wholeComputer->setChecked(chosen.isEmpty() || !available);
    if (!available) {
        QAction* greyed = m_lowerMenu->addAction("Only one program");
        greyed->setEnabled(false);
        greyed->setToolTip(reasonWhenNot);
        m_lowerGroup->addAction(greyed);
        renderToolTip();
        return;
    }
    for (const QString& program : playing) {
        addProgram(program, program == chosen);
    }
    // The choice stays in view, and can be changed back, while its program is not playing.
    if (!chosen.isEmpty() && !playing.contains(chosen)) {
        addProgram(chosen, true);
    }
    renderToolTip();
}

void TrayIcon::addProgram(const QString& program, bool checked) {
    QAction* action = m_lowerMenu->addAction("Only " + program);
    action->setData(program);
    action->setCheckable(true);
    action->setChecked(checked);
    m_lowerGroup->addAction(action);
}

void TrayIcon::setChosenNotPlaying(bool notPlaying) {
    m_chosenNotPlaying = notPlaying;
    renderToolTip();
}

// Each tick: the level in force as the window's title tells it, and what comes next.
void TrayIcon::update(const QString& now) {
    const std::optional<Level> sent = m_core.model.lastSent();
    const IconLevel level = sent == Level::Down ? IconLevel::Down : IconLevel::Up;
    if (level != m_shown) {
        m_shown = level;
        m_icon.setIcon(levelIcon(level));
    }
    const std::optional<NextChange> next = nextChange(m_core.model.pairs(), now.toStdString());
    m_next = next ? QString::fromStdString(nextChangeText(*next)) : QString();
    renderToolTip();
}

void TrayIcon::renderToolTip() {
    QString text = m_next.isEmpty() ? QString(kProgramName) : m_next;
    if (const QString awaited = awaitedText(m_core.model.awaited()); !awaited.isEmpty()) {
        text = m_next.isEmpty() ? awaited : awaited + "\n" + m_next;
    }
    if (m_chosenNotPlaying) {
        text += "\n" + (m_chosen.isEmpty() ? QString("The chosen program") : m_chosen) +
                " is not playing: nothing is lowered";
    }
    if (text != m_icon.toolTip()) {
        m_icon.setToolTip(text);
    }
}

void TrayIcon::toggleWindow() {
    if (m_window.isVisible() && !m_window.isMinimized()) {
        m_window.hide();
    } else {
        m_window.bringToFront();
    }
}

// Closing the window is how the program ends: the question on closing, then the Up level. A
// window hidden in the tray is not the last window closed, so the loop is left here.
void TrayIcon::quit() {
    if (m_window.close()) {
        QCoreApplication::quit();
    }
}

bool TrayIcon::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &m_window && event->type() == QEvent::WindowStateChange &&
        m_hideWhenMinimized->isChecked() && m_window.isMinimized()) {
        m_hideLater.start();
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace hushwell
