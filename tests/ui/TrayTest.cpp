#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <cstdlib>
#include <string>

#include "support/TrayPanel.h"
#include "ui/TrayIcon.h"
#include "ui/WindowFixture.h"

namespace hushwell::testing {
namespace {

// The window and the core of the window tests, with the tray icon on a real X tray.
class TrayTest : public WindowTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(QSystemTrayIcon::isSystemTrayAvailable());
        tray = TrayIcon::createIfAvailable(*window, *core);
        ASSERT_NE(tray, nullptr);
        start();
    }
    void TearDown() override { tray.reset(); }

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
            if (candidate->text() == text) {
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

TEST_F(TrayTest, TheToolTipAndTheIconFollowTheTicks) {
    core->model.setMark(Row::Down, 1, "20:00");
    core->model.setMark(Row::Up, 1, "21:30");
    EXPECT_EQ(tray->toolTip(), "Hushwell");  // before the first tick

    tickAt(15, 48);
    EXPECT_EQ(tray->toolTip(), "Up - next break 20:00, in 4:12");
    EXPECT_FALSE(tray->showsDown());
    tickAt(20, 0);
    EXPECT_EQ(tray->toolTip(), "Up - next break 20:00, in 0:00");
    EXPECT_FALSE(tray->showsDown());
    tickAt(20, 1);
    EXPECT_EQ(tray->toolTip(), "Down until 21:30, 1:29 left");
    EXPECT_TRUE(tray->showsDown());
    tickAt(20, 25);
    EXPECT_EQ(tray->toolTip(), "Down until 21:30, 1:05 left");
    tickAt(21, 30);
    EXPECT_EQ(tray->toolTip(), "Up - next break 20:00, in 58:30");
    EXPECT_FALSE(tray->showsDown());

    tray->setPrograms({"mpv"}, "vlc", true, {});
    tray->setChosenNotPlaying(true);
    EXPECT_EQ(tray->toolTip(),
              "Up - next break 20:00, in 58:30\nvlc is not playing: nothing is lowered");
    tray->setChosenNotPlaying(false);
    EXPECT_EQ(tray->toolTip(), "Up - next break 20:00, in 58:30");
}

// While the volume waits for an output the tooltip and the title say so, until one is there.
TEST_F(TrayTest, TheToolTipSaysWhileAnOutputIsAwaited) {
    tickAt(15, 48);
    const QString next = tray->toolTip();
    core->model.volumeReported({VolumeEvent::Kind::NoOutput, 0});
    tickAt(15, 48);
    EXPECT_EQ(tray->toolTip(), "Waiting for an audio output...\n" + next);
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

TEST_F(TrayTest, TheMenuReportsTheChoices) {
    const QSignalSpy start(tray.get(), &TrayIcon::startWithDesktopToggled);
    const QSignalSpy hide(tray.get(), &TrayIcon::hideWhenMinimizedToggled);
    const QSignalSpy lower(tray.get(), &TrayIcon::lowerChosen);
    const QSignalSpy wanted(tray.get(), &TrayIcon::programsWanted);

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

    tray->setPrograms({"firefox", "mpv"}, "mpv", true, {});
    QStringList entries;
    QStringList checked;
    for (QAction* entry : lowerMenu->actions()) {
        entries << entry->text();
        if (entry->isChecked()) {
            checked << entry->text();
        }
    }
    EXPECT_EQ(entries, QStringList({"The whole computer", "Only firefox", "Only mpv"}));
    EXPECT_EQ(checked, QStringList({"Only mpv"}));
    lowerMenu->actions().at(1)->trigger();
    lowerMenu->actions().at(0)->trigger();
    ASSERT_EQ(lower.count(), 2);
    EXPECT_EQ(lower.at(0).at(0).toString(), "firefox");
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

}  // namespace
}  // namespace hushwell::testing
