#include <QAction>
#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <cstdlib>
#include <string>

#include "listen/PrintFile.h"
#include "support/TrayPanel.h"
#include "ui/Contrast.h"
#include "ui/StatusNotifierAdaptors.h"
#include "ui/StatusNotifierItem.h"
#include "ui/TrayIcon.h"
#include "ui/WindowFixture.h"

namespace hushwell::testing {

extern TrayPanel* g_panel;

// A StatusNotifierItem watcher, as a panel brings one, on the tests' private session bus: what
// registered with it, how often the items told of a new tooltip, and the calls a panel makes.
class TestWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
public:
    TestWatcher() { start(); }
    ~TestWatcher() override { QDBusConnection::disconnectFromBus(m_name); }
    // A new watcher process: a new connection that takes the name again.
    void restart() {
        QDBusConnection::disconnectFromBus(m_name);
        items.clear();
        start();
    }
    // A call to the item's `method` (or Get of a property); its answer.
    QDBusMessage call(const QString& method, const QVariantList& arguments,
                      const QString& interface = "org.kde.StatusNotifierItem",
                      const QString& path = "/StatusNotifierItem") {
        QDBusMessage message =
            QDBusMessage::createMethodCall(items.value(0), path, interface, method);
        message.setArguments(arguments);
        QDBusPendingCall answer = QDBusConnection(m_name).asyncCall(message);
        EXPECT_TRUE(QTest::qWaitFor([&answer] { return answer.isFinished(); }));
        return answer.reply();
    }

    QStringList items;
    int newToolTips = 0;

public slots:
    void RegisterStatusNotifierItem(const QString& service, const QDBusMessage& message) {
        items << (service.startsWith('/') ? message.service() : service);
    }
    void newToolTip() { ++newToolTips; }

private:
    void start() {
        m_name = QString("watcher-%1").arg(++m_started);
        QDBusConnection bus =
            QDBusConnection::connectToBus(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), m_name);
        bus.registerObject("/StatusNotifierWatcher", this, QDBusConnection::ExportAllSlots);
        EXPECT_TRUE(bus.registerService("org.kde.StatusNotifierWatcher"));
        bus.connect({}, "/StatusNotifierItem", "org.kde.StatusNotifierItem", "NewToolTip", this,
                    SLOT(newToolTip()));
    }
    QString m_name;
    int m_started = 0;
};

namespace {

// The window and the core of the window tests, with the tray icon on a real X tray.
class TrayTest : public WindowTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(QSystemTrayIcon::isSystemTrayAvailable());
        tray = std::make_unique<TrayIcon>(*window, *core);
        start();
    }
    void TearDown() override {
        tray.reset();
        if (!g_panel->ready()) {
            g_panel->start();
        }
    }

    // The X window Qt docks in the tray for the icon.
    [[nodiscard]] static QWidget* iconWidget() {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (QString(widget->metaObject()->className()) == "QSystemTrayIconSys") {
                return widget;
            }
        }
        return nullptr;
    }
    [[nodiscard]] static bool iconDocked() {
        const QWidget* icon = iconWidget();
        return icon != nullptr && TrayPanel::docked(icon->winId());
    }
    // A press and release of `button` on the docked icon, through the X server.
    // Clicks further apart than a double click, which Qt reports as one of its own.
    static void clickIcon(int button) {
        ASSERT_TRUE(QTest::qWaitFor(iconDocked));
        QTest::qWait(QApplication::doubleClickInterval() + 100);
        const std::string command = "xdotool mousemove --window " +
                                    std::to_string(iconWidget()->winId()) + " 4 4 click " +
                                    std::to_string(button);
        ASSERT_EQ(std::system(command.c_str()), 0);
    }
    [[nodiscard]] QAction* action(const QString& text) const {
        for (QAction* candidate : tray->menu()->actions()) {
            if (candidate->text().remove('&') == text) {
                return candidate;
            }
        }
        ADD_FAILURE() << "no menu entry " << text.toStdString();
        return nullptr;
    }
    void tickAt(int minute, int second) {
        clock.set(minute, second);
        tick();
    }

    std::unique_ptr<TrayIcon> tray;
};

TEST_F(TrayTest, TheIconIsDockedInTheTray) {
    EXPECT_TRUE(QTest::qWaitFor(iconDocked));
}

TEST_F(TrayTest, TheIconDocksInAnXTrayThatComesLate) {
    tray.reset();
    g_panel->stop();
    tray = std::make_unique<TrayIcon>(*window, *core);
    g_panel->start();
    EXPECT_TRUE(QTest::qWaitFor(iconDocked, 10000));
}

TEST_F(TrayTest, TheIconGoesToAStatusNotifierWatcherThatComesLateOrRestarts) {
    ASSERT_TRUE(QTest::qWaitFor(iconDocked));
    auto watcher = std::make_unique<TestWatcher>();
    ASSERT_TRUE(QTest::qWaitFor([&] { return watcher->items.size() == 1; }, 10000));
    EXPECT_TRUE(QTest::qWaitFor([] { return !iconDocked(); })) << "one icon, not two";
    watcher->restart();
    ASSERT_TRUE(QTest::qWaitFor([&] { return watcher->items.size() == 1; }, 10000));

    watcher->call("Activate", {0, 0});
    EXPECT_TRUE(QTest::qWaitFor([this] { return !window->isVisible(); }));
    watcher->call("ContextMenu", {20, 40});
    EXPECT_TRUE(QTest::qWaitFor([this] { return tray->menu()->isVisible(); }));
    tray->menu()->hide();

    // The menu as GNOME's panel reads it: its layout names the entries by ids, in order.
    const QString menu = "com.canonical.dbusmenu";
    const auto inMenu = [&](const QString& method, const QVariantList& arguments) {
        return watcher->call(method, arguments, menu, "/MenuBar");
    };
    EXPECT_EQ(inMenu("GetLayout", {0, -1, QStringList()}).signature(), "u(ia{sv}av)");
    EXPECT_EQ(
        inMenu("GetProperty", {5, "label"}).arguments().value(0).value<QDBusVariant>().variant(),
        "_Hide when minimized");
    const QSignalSpy hide(tray.get(), &TrayIcon::hideWhenMinimizedToggled);
    const QSignalSpy wanted(tray.get(), &TrayIcon::programsWanted);
    inMenu("Event", {5, "clicked", QVariant::fromValue(QDBusVariant(0)), 0u});
    inMenu("AboutToShow", {2});
    EXPECT_TRUE(QTest::qWaitFor([&] { return hide.count() == 1; }));
    EXPECT_EQ(wanted.count(), 1);

    // The tooltip: told when its text changes and only then, and without the icon's pixmaps.
    tickAt(15, 48);
    tickAt(15, 48);
    const QDBusMessage got = watcher->call("Get", {"org.kde.StatusNotifierItem", "ToolTip"},
                                           "org.freedesktop.DBus.Properties");
    EXPECT_EQ(watcher->newToolTips, 1);
    ASSERT_EQ(got.arguments().size(), 1);
    const auto tip = qdbus_cast<StatusNotifierItem::ToolTip>(
        got.arguments()[0].value<QDBusVariant>().variant().value<QDBusArgument>());
    EXPECT_EQ(tip.title, "Hushwell");
    EXPECT_EQ(tip.description, "No pair active");
    EXPECT_TRUE(tip.icon.isEmpty());

    watcher.reset();  // the panel gone: the X tray's icon is back
    EXPECT_TRUE(QTest::qWaitFor(iconDocked, 10000));
}

TEST_F(TrayTest, TheToolTipAndTheIconFollowTheTicks) {
    core->model.setMark(Level::Down, 1, "20:00");
    core->model.setMark(Level::Up, 1, "21:30");
    EXPECT_EQ(tray->toolTip(), "Hushwell");  // before the first tick

    tickAt(15, 48);
    EXPECT_EQ(tray->toolTip(), "Hushwell\nUp - next break at :20:00, in 4:12");
    EXPECT_FALSE(tray->showsDown());
    tickAt(20, 0);
    EXPECT_EQ(tray->toolTip(), "Hushwell\nUp - next break at :20:00, in 0:00");
    EXPECT_FALSE(tray->showsDown());
    tickAt(20, 1);
    EXPECT_EQ(tray->toolTip(), "Hushwell\nDown until :21:30, 1:29 left");
    EXPECT_TRUE(tray->showsDown());
    tickAt(20, 25);
    EXPECT_EQ(tray->toolTip(), "Hushwell\nDown until :21:30, 1:05 left");
    tickAt(21, 30);
    EXPECT_EQ(tray->toolTip(), "Hushwell\nUp - next break at :20:00, in 58:30");
    EXPECT_FALSE(tray->showsDown());

    tray->setPrograms({"mpv"}, "vlc", true, {});
    tray->setChosenNotPlaying(true);
    EXPECT_EQ(
        tray->toolTip(),
        "Hushwell\nUp - next break at :20:00, in 58:30\nvlc is not playing: nothing is lowered");
    tray->setChosenNotPlaying(false);
    EXPECT_EQ(tray->toolTip(), "Hushwell\nUp - next break at :20:00, in 58:30");
    // The whole computer in place of the program: said only while it is lowered.
    tray->setLoweredInsteadOf("vlc");
    EXPECT_EQ(tray->toolTip(), "Hushwell\nUp - next break at :20:00, in 58:30");
    tickAt(20, 1);
    EXPECT_EQ(tray->toolTip(),
              "Hushwell\nDown until :21:30, 1:29 left\nvlc cannot be "
              "lowered alone now: the whole computer is lowered");
    tickAt(21, 30);
    EXPECT_EQ(tray->toolTip(), "Hushwell\nUp - next break at :20:00, in 58:30");
    tray->setLoweredInsteadOf({});
    // Following the station, it says what is listened for and what made the last switch.
    core->following.setOn(true);
    core->following.setPrinted({1, Level::Down}, "20:00");
    tickAt(19, 50);
    EXPECT_EQ(tray->toolTip(), "Hushwell\nUp - next break at :20:00, listening");
    (void)core->following.heard({1, Level::Down}, 19 * 60 + 55.4);
    tickAt(19, 56);
    EXPECT_TRUE(tray->showsDown());
    EXPECT_EQ(tray->toolTip(),
              "Hushwell\nDown until :21:30, 1:34 left\nDown at :19:55, heard 5 s early");
    core->following.setNotice("20:07 was set in silence: no print kept");
    tickAt(19, 57);
    EXPECT_EQ(tray->toolTip(),
              "Hushwell\nDown until :21:30, 1:33 left\nDown at :19:55, heard 5 s early\n20:07 "
              "was set in silence: no print kept");
}

// Told apart without hue: by lightness, and by shape (a disc against a square).
TEST_F(TrayTest, TheUpAndDownIconsDifferInLightnessAndShape) {
    EXPECT_GE(contrastRatio(levelTile(Level::Up), levelTile(Level::Down)), 3.0);
    EXPECT_EQ(levelIconImage(64, Level::Up).pixelColor(6, 6).alpha(), 0);
    EXPECT_EQ(levelIconImage(64, Level::Down).pixelColor(6, 6).alpha(), 255);
}

// The boxes of entries not ticked stand out from the menu in a dark theme too.
TEST_F(TrayTest, UntickedBoxesShowInADarkTheme) {
    const QPalette before = QApplication::palette();
    QPalette dark(QColor(0x35, 0x35, 0x35), QColor(0x35, 0x35, 0x35));
    dark.setColor(QPalette::Base, QColor(0x2a, 0x2a, 0x2a));
    QApplication::setPalette(dark);
    tray = std::make_unique<TrayIcon>(*window, *core);
    QMenu* menu = tray->menu();
    menu->resize(menu->sizeHint());
    const QImage shot = menu->grab().toImage();
    QApplication::setPalette(before);
    const QRect entry = menu->actionGeometry(action("Hide when minimized"));
    const QColor background = shot.pixelColor(entry.right() - 2, entry.center().y());
    double most = 1;
    for (int x = entry.left(); x < entry.left() + entry.height(); ++x) {
        most = std::max(most, contrastRatio(shot.pixelColor(x, entry.center().y()), background));
    }
    EXPECT_GE(most, 3.0);
}

// While the volume waits for an output the tooltip and the title say so, until one is there.
TEST_F(TrayTest, TheToolTipSaysWhileAnOutputIsAwaited) {
    tickAt(15, 48);
    const QString next = tray->toolTip();
    core->model.volumeReported({VolumeEvent::Kind::NoOutput, 0});
    tickAt(15, 48);
    EXPECT_EQ(tray->toolTip(), next + "\nWaiting for an audio output...");
    EXPECT_EQ(window->windowTitle(), "Waiting for an audio output...");
    core->model.volumeReported({VolumeEvent::Kind::OutputChanged, 0});
    tickAt(15, 48);
    EXPECT_EQ(tray->toolTip(), next);
}

TEST_F(TrayTest, AClickHidesTheWindowAndTheNextShowsItRestored) {
    clickIcon(1);
    EXPECT_TRUE(QTest::qWaitFor([this] { return !window->isVisible(); }));
    clickIcon(1);
    EXPECT_TRUE(QTest::qWaitFor([this] { return window->isVisible(); }));

    window->showMinimized();
    ASSERT_TRUE(QTest::qWaitFor([this] { return window->isMinimized(); }));
    clickIcon(1);
    EXPECT_TRUE(QTest::qWaitFor([this] { return window->isVisible() && !window->isMinimized(); }));
}

TEST_F(TrayTest, QuitFromTheMenuAsksTheQuestionAndPutsTheUpLevelBack) {
    core->editor.setLevel(Level::Down, 21);  // an unsaved edit: closing asks
    answers = {QMessageBox::No};
    clickIcon(3);
    ASSERT_TRUE(QTest::qWaitFor([this] { return tray->menu()->isVisible(); }));
    const QRect entry = tray->menu()->actionGeometry(action("Quit"));
    const QPoint at = tray->menu()->mapToGlobal(entry.center());
    ASSERT_EQ(std::system(("xdotool mousemove " + std::to_string(at.x()) + " " +
                           std::to_string(at.y()) + " click 1")
                              .c_str()),
              0);

    ASSERT_TRUE(QTest::qWaitFor([this] { return !boxes.empty(); }));
    EXPECT_EQ(boxes.back().text, "Save settings before ending?");
    EXPECT_TRUE(QTest::qWaitFor([this] { return !window->isVisible(); }));
    ASSERT_FALSE(volume.sets.empty());
    EXPECT_EQ(volume.sets.back(), 100 * 655);
    EXPECT_TRUE(core->shutDown.ending());
}

TEST_F(TrayTest, HiddenWhenMinimizedOnlyWhileTheOptionIsOn) {
    const QSignalSpy toggled(tray.get(), &TrayIcon::hideWhenMinimizedToggled);
    EXPECT_FALSE(action("Hide when minimized")->isChecked());  // off by default
    window->showMinimized();
    ASSERT_TRUE(QTest::qWaitFor([this] { return window->isMinimized(); }));
    QTest::qWait(100);
    EXPECT_TRUE(window->isVisible());

    window->bringToFront();
    tray->setHideWhenMinimized(true);
    EXPECT_EQ(toggled.count(), 0);  // the options' own state coming back is no choice
    window->showMinimized();
    EXPECT_TRUE(QTest::qWaitFor([this] { return !window->isVisible(); }));
    action("Show Hushwell")->trigger();
    EXPECT_TRUE(QTest::qWaitFor([this] { return window->isVisible() && !window->isMinimized(); }));
}

// Hidden with no panel to bring it back from, the window would be lost.
TEST_F(TrayTest, AMinimizedWindowStaysWhileNoPanelShowsTheIcon) {
    g_panel->stop();
    ASSERT_TRUE(QTest::qWaitFor([this] { return !tray->inPanel(); }));
    tray->setHideWhenMinimized(true);
    window->showMinimized();
    ASSERT_TRUE(QTest::qWaitFor([this] { return window->isMinimized(); }));
    QTest::qWait(100);
    EXPECT_TRUE(window->isVisible());
}

TEST_F(TrayTest, TheMenuReportsTheChoices) {
    const QSignalSpy start(tray.get(), &TrayIcon::startWithDesktopToggled);
    const QSignalSpy hide(tray.get(), &TrayIcon::hideWhenMinimizedToggled);
    const QSignalSpy lower(tray.get(), &TrayIcon::lowerChosen);
    const QSignalSpy wanted(tray.get(), &TrayIcon::programsWanted);
    const QSignalSpy follow(tray.get(), &TrayIcon::followStationToggled);

    action("Follow the station")->trigger();
    ASSERT_EQ(follow.count(), 1);
    EXPECT_TRUE(follow.at(0).at(0).toBool());
    EXPECT_TRUE(action("Follow the station")->toolTip().contains("the Up mark's clock time"));
    action("Start with the desktop")->trigger();
    action("Hide when minimized")->trigger();
    ASSERT_EQ(start.count(), 1);
    EXPECT_TRUE(start.at(0).at(0).toBool());
    ASSERT_EQ(hide.count(), 1);
    EXPECT_TRUE(hide.at(0).at(0).toBool());

    QMenu* lowerMenu = action("Lower")->menu();
    ASSERT_NE(lowerMenu, nullptr);
    emit lowerMenu->aboutToShow();
    EXPECT_EQ(wanted.count(), 1);

    tray->setPrograms({}, {}, true, {});
    ASSERT_EQ(lowerMenu->actions().size(), 2);
    EXPECT_EQ(lowerMenu->actions().at(1)->text(), "Programs appear here while they play");
    EXPECT_FALSE(lowerMenu->actions().at(1)->isEnabled());

    tray->setPrograms({"firefox", "mpv", "rock&roll", "a\tb"}, "mpv", true, {});
    QStringList entries;
    QStringList checked;
    for (QAction* entry : lowerMenu->actions()) {
        entries << entry->text();
        if (entry->isChecked()) {
            checked << entry->text();
        }
    }
    EXPECT_EQ(entries, QStringList({"The &whole computer", "Only firefox", "Only mpv",
                                    "Only rock&&roll", "Only a b"}));
    EXPECT_EQ(checked, QStringList({"Only mpv"}));
    lowerMenu->actions().at(3)->trigger();
    lowerMenu->actions().at(0)->trigger();
    ASSERT_EQ(lower.count(), 2);
    EXPECT_EQ(lower.at(0).at(0).toString(), "rock&roll");
    EXPECT_EQ(lower.at(1).at(0).toString(), "");

    // A program kept in the options where there is no volume per program: the whole computer
    // is what goes down, and what the menu shows checked.
    tray->setPrograms({}, "vlc", false, "ALSA has no volume per program");
    ASSERT_EQ(lowerMenu->actions().size(), 2);
    const QAction* greyed = lowerMenu->actions().at(1);
    EXPECT_FALSE(greyed->isEnabled());
    EXPECT_EQ(greyed->toolTip(), "ALSA has no volume per program");
    EXPECT_TRUE(lowerMenu->actions().at(0)->isChecked());
}

// The tray menu as a panel drives it over the bus: by the ids of the layout it read last, while
// the Lower submenu lists the programs anew each time it is about to show, as the program does.
class TrayMenuTest : public TrayTest {
protected:
    void SetUp() override {
        TrayTest::SetUp();
        watcher = std::make_unique<TestWatcher>();
        ASSERT_TRUE(QTest::qWaitFor([this] { return watcher->items.size() == 1; }, 10000));
        QObject::connect(tray.get(), &TrayIcon::programsWanted, tray.get(),
                         [this] { tray->setPrograms(playing, {}, true, {}); });
        tray->setPrograms(playing, {}, true, {});
    }
    QDBusMessage inMenu(const QString& method, const QVariantList& arguments) {
        return watcher->call(method, arguments, "com.canonical.dbusmenu", "/MenuBar");
    }
    // The layout's revision, and the ids of the entries by their labels.
    std::pair<uint, QHash<QString, int>> layout() {
        const QDBusMessage reply = inMenu("GetLayout", {0, -1, QStringList()});
        QHash<QString, int> ids;
        const std::function<void(const MenuLayout&)> add = [&](const MenuLayout& item) {
            ids.insert(item.properties.value("label").toString(), item.id);
            for (const QDBusVariant& child : item.children) {
                add(qdbus_cast<MenuLayout>(child.variant().value<QDBusArgument>()));
            }
        };
        add(qdbus_cast<MenuLayout>(reply.arguments().value(1).value<QDBusArgument>()));
        return {reply.arguments().value(0).toUInt(), ids};
    }

    QStringList playing{"firefox", "mpv"};
    std::unique_ptr<TestWatcher> watcher;
    const QVariant none = QVariant::fromValue(QDBusVariant(0));
};

TEST_F(TrayMenuTest, ThePanelsCallsByTheIdsItReadReachTheirEntriesAndOtherIdsAreTold) {
    auto [revision, held] = layout();
    const QSignalSpy chosen(tray.get(), &TrayIcon::lowerChosen);
    EXPECT_EQ(inMenu("AboutToShow", {held["_Lower"]}).arguments().value(0), false);  // the same
    const QList<MenuEvent> events{{held["Only firefox"], "clicked", QDBusVariant(0), 0},
                                  {999, "clicked", QDBusVariant(0), 0}};
    const struct {
        const char* method;
        QVariantList arguments;
        const char* signature;  // of the answer; "s": an error's text
        QList<int> idErrors;
    } rows[] = {{"Event", {held["Only mpv"], "clicked", none, 0U}, "", {}},
                {"Event", {999, "clicked", none, 0U}, "s", {}},
                {"AboutToShow", {999}, "s", {}},
                {"EventGroup", {QVariant::fromValue(events)}, "ai", {999}},
                {"AboutToShowGroup",
                 {QVariant::fromValue(QList<int>{held["_Lower"], 999})},
                 "aiai",
                 {999}}};
    for (const auto& row : rows) {
        SCOPED_TRACE((row.method + QString(" ") + row.arguments.value(0).toString()).toStdString());
        const QDBusMessage answer = inMenu(row.method, row.arguments);
        EXPECT_EQ(answer.signature(), row.signature);
        if (answer.type() == QDBusMessage::ErrorMessage) {
            EXPECT_EQ(answer.errorMessage(), "No menu entry has the id 999.");
        } else if (!row.idErrors.isEmpty()) {
            EXPECT_EQ(qdbus_cast<QList<int>>(answer.arguments().constLast()), row.idErrors);
        }
    }
    ASSERT_TRUE(QTest::qWaitFor([&chosen] { return chosen.count() == 2; }));
    EXPECT_EQ(chosen.at(0).at(0).toString(), "mpv");
    EXPECT_EQ(chosen.at(1).at(0).toString(), "firefox");

    // Other programs: a new revision, read before the submenu shows; the id of mpv stays.
    playing = {"mpv", "vlc"};
    const QList<int> lower{held["_Lower"]};
    const QDBusMessage shown = inMenu("AboutToShowGroup", {QVariant::fromValue(lower)});
    EXPECT_EQ(qdbus_cast<QList<int>>(shown.arguments().value(0)), lower);
    auto [after, ids] = layout();
    EXPECT_GT(after, revision);
    EXPECT_EQ(ids.value("Only mpv"), held.value("Only mpv"));
    EXPECT_EQ(ids.contains("Only vlc") && !ids.contains("Only firefox"), true);
}

}  // namespace
}  // namespace hushwell::testing

#include "TrayTest.moc"
