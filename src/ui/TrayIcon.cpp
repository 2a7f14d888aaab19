#include "ui/TrayIcon.h"

#include <QActionGroup>
#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QTimer>

#include "ui/MainWindow.h"
#include "ui/StatusNotifierItem.h"
#include "ui/WindowStatus.h"

namespace hushwell {

namespace {

// A program's name as a menu shows it as it is: '&' would be taken for an access key, and a tab
// would start a shortcut column.
QString menuText(const QString& name) {
    QString text;
    text.reserve(name.size());
    for (const QChar c : name) {
        if (c == u'&') {
            text += QStringLiteral("&&");
        } else {
            text += c.category() == QChar::Other_Control ? QChar(u' ') : c;
        }
    }
    return text;
}

// A box that is not ticked is drawn by the style with an outline darker than the window colour:
// in a dark theme that is darker than the dark menu it sits on, and the box cannot be seen. There
// the menu takes its window colour from its text, so that the outline comes out light.
void fitToTheme(QMenu& menu) {
    QPalette palette = QApplication::palette(&menu);
    if (palette.color(QPalette::Window).lightness() <
        palette.color(QPalette::WindowText).lightness()) {
        palette.setColor(QPalette::Window, palette.color(QPalette::WindowText));
    }
    menu.setPalette(palette);
}

}  // namespace

TrayIcon::TrayIcon(MainWindow& window, const Core& core)
    : m_window(window), m_core(core), m_menu(std::make_unique<QMenu>()) {
    buildMenu();
    connect(&m_window, &MainWindow::ticked, this, &TrayIcon::update);
    m_hideLater.setSingleShot(true);
    m_hideLater.setInterval(0);
    connect(&m_hideLater, &QTimer::timeout, this, [this] {
        if (m_window.isMinimized()) {
            m_window.hide();
        }
    });
    m_window.installEventFilter(this);
#ifdef HUSHWELL_HAVE_STATUS_NOTIFIER
    m_item = new StatusNotifierItem(kProgramName, *m_menu, this);
    if (!m_item->onBus()) {
        delete m_item;
        m_item = nullptr;
    } else {
        connect(m_item, &StatusNotifierItem::registeredChanged, this, &TrayIcon::choosePanel);
        connect(m_item, &StatusNotifierItem::activated, this, &TrayIcon::toggleWindow);
        connect(m_item, &StatusNotifierItem::menuWanted, this,
                [this](const QPoint& at) { m_menu->popup(at); });
    }
    // A watcher already on the bus is waited for: it answers at once, and Qt's icon would come
    // up beside it for the whole run.
    const bool waitForWatcher = m_item != nullptr && m_item->watcherPresent();
#else
    const bool waitForWatcher = false;
#endif
    setIcon(levelIcon(m_shown));
    renderToolTip();
    if (!waitForWatcher) {
        choosePanel();
    }
}

TrayIcon::~TrayIcon() {
    m_window.removeEventFilter(this);
    if (m_qtIcon) {
        m_qtIcon->hide();
        m_qtIcon->setContextMenu(nullptr);
    }
}

void TrayIcon::choosePanel() {
    if (m_item != nullptr && m_item->registered()) {
        if (m_qtIcon) {
            m_qtIcon->hide();
        }
        return;
    }
    // Qt's icon is an X tray's (or Windows' notification area's) only: elsewhere it would
    // become a StatusNotifierItem of Qt's own, beside this program's.
    if (m_item != nullptr && QGuiApplication::platformName() != QLatin1String("xcb")) {
        return;
    }
    if (!m_qtIcon) {
        m_qtIcon = std::make_unique<QSystemTrayIcon>();
        m_qtIcon->setIcon(levelIcon(m_shown));
        m_qtIcon->setToolTip(toolTip());
        m_qtIcon->setContextMenu(m_menu.get());
        connect(m_qtIcon.get(), &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    if (reason == QSystemTrayIcon::Trigger) {
                        toggleWindow();
                    }
                });
    }
    m_qtIcon->show();
}

bool TrayIcon::inPanel() const {
    if (m_item != nullptr && m_item->registered()) {
        return true;
    }
    return m_qtIcon && m_qtIcon->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayIcon::setIcon(const QIcon& icon) {
#ifdef HUSHWELL_HAVE_STATUS_NOTIFIER
    if (m_item != nullptr) {
        m_item->setIcon(icon);
    }
#endif
    if (m_qtIcon) {
        m_qtIcon->setIcon(icon);
    }
}

QString TrayIcon::toolTip() const {
    return m_toolTip.isEmpty() ? QString(kProgramName) : kProgramName + QString("\n") + m_toolTip;
}

void TrayIcon::buildMenu() {
    m_menu->addAction("&Show Hushwell", &m_window, &MainWindow::bringToFront);

    m_lowerMenu = m_menu->addMenu("&Lower");
    m_lowerMenu->setToolTipsVisible(true);
    m_lowerGroup = new QActionGroup(m_lowerMenu);
    m_lowerGroup->setExclusive(true);
    m_wholeComputer = m_lowerMenu->addAction("The &whole computer");
    m_wholeComputer->setCheckable(true);
    m_wholeComputer->setChecked(true);
    m_lowerGroup->addAction(m_wholeComputer);
    connect(m_lowerMenu, &QMenu::aboutToShow, this, &TrayIcon::programsWanted);
    // Also when the desktop's theme changed since.
    for (QMenu* menu : {m_menu.get(), m_lowerMenu}) {
        fitToTheme(*menu);
        connect(menu, &QMenu::aboutToShow, this, [menu] { fitToTheme(*menu); });
    }
    connect(m_lowerGroup, &QActionGroup::triggered, this, [this](QAction* action) {
        emit lowerChosen(action == m_wholeComputer ? QString() : action->data().toString());
    });

    m_startWithDesktop = m_menu->addAction("Start with the &desktop");
    m_startWithDesktop->setCheckable(true);
    connect(m_startWithDesktop, &QAction::toggled, this, &TrayIcon::startWithDesktopToggled);
    m_hideWhenMinimized = m_menu->addAction("&Hide when minimized");
    m_hideWhenMinimized->setCheckable(true);
    connect(m_hideWhenMinimized, &QAction::toggled, this, &TrayIcon::hideWhenMinimizedToggled);
    m_followStation = m_menu->addAction("&Follow the station");
    m_followStation->setCheckable(true);
    m_followStation->setToolTip(kFollowStationHelp);
    m_followStation->setStatusTip(kFollowStationHelp);
    m_menu->setToolTipsVisible(true);
    connect(m_followStation, &QAction::toggled, this, &TrayIcon::followStationToggled);

    m_menu->addSeparator();
    m_menu->addAction("&Quit", this, &TrayIcon::quit);
}

void TrayIcon::setStartWithDesktop(bool on) {
    const QSignalBlocker blocker(m_startWithDesktop);
    m_startWithDesktop->setChecked(on);
}

void TrayIcon::setFollowStation(bool on) {
    const QSignalBlocker blocker(m_followStation);
    m_followStation->setChecked(on);
}

void TrayIcon::setHideWhenMinimized(bool on) {
    const QSignalBlocker blocker(m_hideWhenMinimized);
    m_hideWhenMinimized->setChecked(on);
}

void TrayIcon::setPrograms(const QStringList& playing, const QString& chosen, bool available,
                           const QString& reasonWhenNot) {
    // A program's entry stays while the program is listed, and with it the id by which a panel
    // that read the menu before clicks it.
    for (QAction* action : m_lowerMenu->actions()) {
        const QString program = action->data().toString();
        const bool listed =
            available && action->isCheckable() && (playing.contains(program) || program == chosen);
        if (action != m_wholeComputer && !listed) {
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
    qsizetype at = 1;
    for (const QString& program : playing) {
        addProgram(program, program == chosen, at++);
    }
    // The choice stays in view, and can be changed back, while its program is not playing.
    if (!chosen.isEmpty() && !playing.contains(chosen)) {
        addProgram(chosen, true, at);
    }
    if (playing.isEmpty() && chosen.isEmpty()) {
        m_lowerMenu->addAction("Programs appear here while they play")->setEnabled(false);
    }
    renderToolTip();
}

// The program's entry, kept or new, at place `at` of the menu; a kept entry in its place is not
// moved, so that the menu is not told to the panel as changed.
void TrayIcon::addProgram(const QString& program, bool checked, qsizetype at) {
    const QList<QAction*> entries = m_lowerMenu->actions();
    QAction* action = nullptr;
    for (QAction* entry : entries) {
        if (entry != m_wholeComputer && entry->isCheckable() && entry->data() == program) {
            action = entry;
        }
    }
    if (action == nullptr) {
        action = new QAction("Only " + menuText(program), m_lowerMenu);
        action->setData(program);
        action->setCheckable(true);
        m_lowerGroup->addAction(action);
    }
    if (entries.value(at) != action) {
        m_lowerMenu->insertAction(entries.value(at), action);
    }
    action->setChecked(checked);
}

void TrayIcon::setChosenNotPlaying(bool notPlaying) {
    m_chosenNotPlaying = notPlaying;
    renderToolTip();
}

void TrayIcon::setLoweredInsteadOf(const QString& program) {
    m_insteadOf = program;
    renderToolTip();
}

// Each tick: the level in force as the window's title tells it, and what comes next.
void TrayIcon::update(const QString& now) {
    const Level level = m_core.model.lastSent().value_or(Level::Up);
    if (level != m_shown) {
        m_shown = level;
        setIcon(levelIcon(level));
    }
    // Following the station, the outlook is the level in force (which what was heard may have
    // switched before its mark) and what is listened for.
    m_next =
        QString::fromStdString(m_core.following.outlook(now.toStdString(), level == Level::Down));
    renderToolTip();
}

// The one place the tooltip's lines are put together: what the schedule does next, then what
// keeps it from doing it.
void TrayIcon::renderToolTip() {
    QStringList lines;
    if (!m_next.isEmpty()) {
        lines << m_next;
    }
    if (m_core.following.on()) {
        for (const std::string& line : {m_core.following.lastSwitch(), m_core.following.notice()}) {
            if (!line.empty()) {
                lines << QString::fromStdString(line);
            }
        }
    }
    if (const QString awaited = awaitedText(m_core.model.awaited()); !awaited.isEmpty()) {
        lines << awaited;
    }
    // Outside a break nothing is lowered, the whole computer no more than the program.
    if (!m_insteadOf.isEmpty() && m_core.model.lastSent() == Level::Down) {
        lines << m_insteadOf + " cannot be lowered alone now: the whole computer is lowered";
    }
    if (m_chosenNotPlaying) {
        lines << (m_chosen.isEmpty() ? QString("The chosen program") : m_chosen) +
                     " is not playing: nothing is lowered";
    }
    const QString text = lines.join('\n');
    if (text == m_toolTip) {
        return;
    }
    m_toolTip = text;
#ifdef HUSHWELL_HAVE_STATUS_NOTIFIER
    if (m_item != nullptr) {
        m_item->setToolTip(text);
    }
#endif
    if (m_qtIcon) {
        m_qtIcon->setToolTip(toolTip());
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
        m_hideWhenMinimized->isChecked() && m_window.isMinimized() && inPanel()) {
        m_hideLater.start();
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace hushwell
