#include <gtest/gtest.h>

#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include "ui/SecondTicker.h"
#include "ui/WindowFixture.h"
#include "ui/WindowStatus.h"

namespace hushwell::testing {
namespace {

// The background a mark box is drawn with.
QColor background(const QLineEdit* box) {
    return box->palette().color(QPalette::Base);
}

class InputTest : public WindowTest {
protected:
    void SetUp() override {
        start();
        clock.time = {14, 7, 3, 0};
    }
    QLineEdit* mark(const char* row, int i) { return find<QLineEdit>(row + QString::number(i)); }
    QWidget* widget(const QString& name) { return find<QWidget>(name); }
};

TEST_F(InputTest, RightReleaseOnADownSetButtonMovesTheMarkOn) {
    mark("txtDown", 3)->setText("12:30");
    mark("txtDown", 4)->setText("15:00");
    QTest::mouseClick(widget("butsetDown3"), Qt::RightButton);
    EXPECT_EQ(mark("txtDown", 4)->text(), "12:30");
    EXPECT_EQ(mark("txtDown", 3)->text(), "");
    EXPECT_EQ(mark("txtDown", 5)->text(), "00:00");
    EXPECT_EQ(mark("txtUp", 3)->text(), "00:00");
    EXPECT_EQ(core->model.pairs()[4].down, "12:30");
}

TEST_F(InputTest, MiddleReleaseActsLikeTheRightButton) {
    mark("txtUp", 7)->setText("44:00");
    QTest::mouseClick(widget("butsetUp7"), Qt::MiddleButton);
    EXPECT_EQ(mark("txtUp", 7)->text(), "");
    EXPECT_EQ(mark("txtUp", 6)->text(), "00:00");
}

TEST_F(InputTest, AReleaseOutsideTheButtonDoesNothing) {
    QWidget* button = widget("butsetDown1");
    QTest::mousePress(button, Qt::RightButton);
    QTest::mouseRelease(button, Qt::RightButton, {}, QPoint(-5, -5));
    EXPECT_EQ(mark("txtDown", 1)->text(), "00:00");
}

TEST_F(InputTest, LeftClicksAndTheSpaceBarStampTheTime) {
    const struct {
        const char* button;
        const char* box;
        bool keyboard;
    } cases[] = {{"butsetUp2", "txtUp2", false},
                 {"butsetDown2", "txtDown2", false},
                 {"butsetUp5", "txtUp5", true},
                 {"butsetDown6", "txtDown6", true}};
    for (const auto& c : cases) {
        ASSERT_TRUE(core->editor.save());
        if (c.keyboard) {
            widget(c.button)->setFocus();
            QTest::keyClick(widget(c.button), Qt::Key_Space);
        } else {
            QTest::mouseClick(widget(c.button), Qt::LeftButton);
        }
        EXPECT_EQ(find<QLineEdit>(c.box)->text(), "07:03") << c.button;
        EXPECT_TRUE(core->model.settingsChanged()) << c.button;
    }
}

TEST_F(InputTest, TypingAMarkReachesTheCore) {
    QLineEdit* box = mark("txtUp", 1);
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, "21:30");
    EXPECT_EQ(core->model.pairs()[1].up, "21:30");
    EXPECT_EQ(box->text(), "21:30");
    EXPECT_TRUE(core->model.settingsChanged());
}

// A mark box refuses the characters that end or quote a field of the settings file, typed or in a
// paste (the whole paste: what is left of "05,30" would be a mark nobody wrote); the rest of
// editing is as before.
TEST_F(InputTest, AMarkBoxRefusesTheSettingsFilesSeparators) {
    const struct {
        const char* row;
        int pair;
        const char* input;
        bool paste;
        const char* text;  // what the box then holds: typed into an empty box, pasted over "00:00"
    } cases[] = {
        {"txtDown", 1, "05,30", false, "0530"},   {"txtUp", 2, "\"05:30\"", false, "05:30"},
        {"txtDown", 7, "1,,,\"", false, "1"},     {"txtUp", 0, "12:30 ;.'x", false, "12:30 ;.'x"},
        {"txtDown", 3, "05,30", true, "00:00"},   {"txtUp", 4, "\"05:30", true, "00:00"},
        {"txtDown", 5, "05:30\n", true, "00:00"}, {"txtUp", 6, "05\r\n30", true, "00:00"},
        {"txtDown", 0, "05\r30", true, "00:00"},  {"txtUp", 1, " 07:15\t", true, " 07:15\t"},
    };
    for (const auto& c : cases) {
        QLineEdit* box = mark(c.row, c.pair);
        box->setFocus();
        box->setText(c.paste ? "00:00" : "");
        box->selectAll();
        if (c.paste) {
            QGuiApplication::clipboard()->setText(QString::fromUtf8(c.input));
            QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
        } else {
            QTest::keyClicks(box, c.input);
        }
        EXPECT_EQ(box->text().toStdString(), c.text) << c.input;
        const SettingPair& pair = core->model.pairs()[c.pair];
        EXPECT_EQ(QString(c.row) == "txtDown" ? pair.down : pair.up, c.text) << c.input;
    }
}

// Deleting, undoing and retyping in a box that holds a comma from a hand-made file still work.
TEST_F(InputTest, AMarkFromTheFileWithASeparatorCanStillBeEdited) {
    QLineEdit* box = mark("txtDown", 2);
    box->setText("05,30");
    box->setFocus();
    box->end(false);
    QTest::keyClick(box, Qt::Key_Backspace);
    QTest::keyClicks(box, "1");
    EXPECT_EQ(box->text(), "05,31");
    box->home(false);
    QTest::keyClick(box, Qt::Key_Right);
    QTest::keyClick(box, Qt::Key_Right);
    QTest::keyClick(box, Qt::Key_Delete);
    EXPECT_EQ(box->text(), "0531");
    QTest::keyClicks(box, ":");
    EXPECT_EQ(box->text(), "05:31");
    EXPECT_EQ(core->model.pairs()[2].down, "05:31");
}

TEST_F(InputTest, ClickingAnActiveBoxRecoloursItsPair) {
    auto* box = find<QCheckBox>("chkActive5");
    const QColor windowColour = window->palette().color(QPalette::Base);
    const QColor face = window->palette().color(QPalette::Button);
    QTest::mouseClick(box, Qt::LeftButton);
    EXPECT_EQ(box->checkState(), Qt::Unchecked);
    EXPECT_EQ(background(mark("txtDown", 5)), face);
    EXPECT_EQ(background(mark("txtUp", 5)), face);
    EXPECT_TRUE(core->model.settingsChanged());
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Space);
    EXPECT_EQ(box->checkState(), Qt::Checked);
    EXPECT_EQ(background(mark("txtDown", 5)), windowColour);
}

// A clock that moves on one millisecond at each reading, as a real one runs between two reads.
class RunningClock final : public Clock {
public:
    explicit RunningClock(const TimeOfDay& start)
        : m_ms(((start.hour * 60 + start.minute) * 60 + start.second) * 1000 + start.millisecond) {}
    TimeOfDay now() const override {
        const int ms = m_ms++;
        return {ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000};
    }

private:
    mutable int m_ms;
};

// The second the ticker fired for is the second the pairs are compared with and the clock shows,
// even when the clock crosses into the next second while the tick runs: 20:00, the one second
// pair 0 holds the volume down, is evaluated, and then 20:01.
TEST_F(InputTest, TheTickEvaluatesTheSecondItFiredFor) {
    writeFile(settingsFile(), "20,100\r\n19:59,,,,,,,\r\n20:01,,,,,,,\r\n1,0,0,0,0,0,0,0\r\n");
    RunningClock running({14, 20, 0, 998});
    FakeVolume lowered;
    MainWindow runningWindow(running);
    Core second(lowered, running, runningWindow, store);
    runningWindow.attach(second);  // the ticker arms from 20:00.998
    ASSERT_EQ(second.startUp(), StartUpOutcome::SettingsRead);
    const auto* clockBox = runningWindow.findChild<QLineEdit*>("txtClock");
    std::vector<std::string> shown;
    const QMetaObject::Connection watch =
        QObject::connect(clockBox, &QLineEdit::textChanged,
                         [&shown](const QString& text) { shown.push_back(text.toStdString()); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return clockBox->text() == "20:01"; }, 3000));
    QTest::qWait(20);  // a reading more in 20:01 evaluates nothing new
    QObject::disconnect(watch);
    EXPECT_EQ(shown, (std::vector<std::string>{"20:00", "20:01"}));
    EXPECT_EQ(lowered.sets, (std::vector<std::int32_t>{20 * 655, 100 * 655}));
}

TEST_F(InputTest, TheTickShowsTheClockWhileTheWindowCanBeSeen) {
    mark("txtDown", 2)->setText("10:00");
    mark("txtUp", 2)->setText("20:00");
    find<QSlider>("Slider1")->setValue(30);  // user moves: Down level 30, Up level 90
    find<QSlider>("Slider2")->setValue(90);
    clock.time = {9, 15, 0, 0};
    window->showMinimized();
    tick();
    EXPECT_EQ(find<QLineEdit>("txtClock")->text(), "00:00") << "minimized, it keeps its text";
    EXPECT_EQ(window->windowTitle(), "DOWN") << "and the schedule goes on";
    EXPECT_EQ(background(mark("txtDown", 2)), QColor(192, 255, 192));
    window->showNormal();
    clock.time = {9, 15, 1, 0};
    tick();
    EXPECT_EQ(find<QLineEdit>("txtClock")->text(), "15:01");
}

// Window background for a pair that is on, button face for one that is off or greyed, light green
// for the pair that lowered the volume; the check box shows the state.
TEST_F(InputTest, EachPairShowsItsStateAndTheScheduleInItsColours) {
    writeFile(settingsFile(),
              "20,100\r\n00:00,00:00,00:00,10:00,,,,\r\n"
              "00:00,00:00,00:00,20:00,,,,\r\n1,0,2,1,1,1,1,1\r\n");
    MainWindow secondWindow(clock);
    Core second(volume, clock, secondWindow, store);
    secondWindow.attach(second);
    ASSERT_EQ(second.startUp(), StartUpOutcome::SettingsRead);
    clock.time = {9, 15, 0, 0};
    emit secondWindow.findChild<SecondTicker*>()->tick(clock.time);
    const QPalette colours = secondWindow.palette();
    const struct {
        int pair;
        QColor fill;
        Qt::CheckState check;
    } cases[] = {{0, colours.color(QPalette::Base), Qt::Checked},
                 {1, colours.color(QPalette::Button), Qt::Unchecked},
                 {2, colours.color(QPalette::Button), Qt::PartiallyChecked},
                 {3, QColor(192, 255, 192), Qt::Checked}};
    for (const auto& c : cases) {
        const QString n = QString::number(c.pair);
        EXPECT_EQ(background(secondWindow.findChild<QLineEdit*>("txtDown" + n)), c.fill) << c.pair;
        EXPECT_EQ(background(secondWindow.findChild<QLineEdit*>("txtUp" + n)), c.fill) << c.pair;
        EXPECT_EQ(secondWindow.findChild<QCheckBox*>("chkActive" + n)->checkState(), c.check)
            << c.pair;
    }
}

TEST_F(InputTest, AKeyboardMoveOfASliderSetsTheLevelAndTheTitle) {
    const struct {
        const char* slider;
        Qt::Key key;
        int level;
        const char* title;
    } cases[] = {{"Slider1", Qt::Key_Up, 21, "DOWN"},    {"Slider1", Qt::Key_PageDown, 16, "DOWN"},
                 {"Slider2", Qt::Key_Down, 99, "UP"},    {"Slider2", Qt::Key_PageUp, 100, "UP"},
                 {"Slider1", Qt::Key_Home, 100, "DOWN"}, {"Slider1", Qt::Key_End, 0, "DOWN"},
                 {"Slider2", Qt::Key_End, 0, "UP"},      {"Slider2", Qt::Key_Home, 100, "UP"}};
    for (const auto& c : cases) {
        auto* slider = find<QSlider>(c.slider);
        slider->setFocus();
        QTest::keyClick(slider, c.key);
        const Level level = QString(c.slider) == "Slider1" ? Level::Down : Level::Up;
        EXPECT_EQ(core->model.level(level), c.level) << c.slider << c.key;
        EXPECT_EQ(slider->value(), c.level) << "the thumb stands at the level";
        EXPECT_EQ(volume.sets.back(), c.level * 655) << c.slider;
        EXPECT_EQ(window->windowTitle(), c.title);
    }
}

TEST_F(InputTest, BroughtToTheFrontAMinimizedWindowIsRestored) {
    window->showMinimized();
    ASSERT_TRUE(window->isMinimized());
    window->bringToFront();
    EXPECT_FALSE(window->isMinimized());
    EXPECT_TRUE(window->isVisible());
}

TEST_F(InputTest, APositionSetByTheProgramIsNotAMove) {
    TempDir other;
    writeFile(settingsFile(), "35,90\r\n,,,,,,,\r\n,,,,,,,\r\n1,1,1,1,1,1,1,1\r\n");
    MainWindow secondWindow(clock);
    Core second(volume, clock, secondWindow, store);
    secondWindow.attach(second);
    ASSERT_EQ(second.startUp(), StartUpOutcome::SettingsRead);
    auto* slider = secondWindow.findChild<QSlider*>("Slider1");
    EXPECT_EQ(slider->value(), 35);
    EXPECT_EQ(secondWindow.windowTitle(), "Hushwell");
    EXPECT_FALSE(second.model.settingsChanged());
    EXPECT_TRUE(volume.sets.empty());
}

TEST(WindowStatusTest, TheTitleTellsWhatIsAwaitedElseTheLevelSentAndOnlyTheServerStopsEdits) {
    const struct {
        Awaited awaited;
        std::optional<Level> sent;
        const char* title;
        bool takesEdits;
    } cases[] = {{Awaited::Nothing, {}, "Hushwell", true},
                 {Awaited::Nothing, Level::Down, "DOWN", true},
                 {Awaited::Nothing, Level::Up, "UP", true},
                 {Awaited::SoundServer, {}, "Waiting for the sound server...", false},
                 {Awaited::Output, Level::Down, "Waiting for an audio output...", true}};
    for (const auto& c : cases) {
        Model model;
        model.setAwaited(c.awaited);
        if (c.sent) {
            model.setLastSent(*c.sent);
        }
        const WindowStatus status = windowStatus(model);
        EXPECT_EQ(status.title, c.title);
        EXPECT_EQ(status.takesEdits, c.takesEdits) << c.title;
    }
}

TEST_F(InputTest, WhileStartUpWaitsForTheServerTheTitleSaysSoAndNothingIsEdited) {
    MainWindow waiting(clock);
    Core second(volume, clock, waiting, store);
    waiting.attach(second);
    volume.opens = false;
    ASSERT_EQ(second.startUp(true), StartUpOutcome::WaitingForMixer);
    EXPECT_EQ(waiting.windowTitle(), "Waiting for the sound server...");
    EXPECT_FALSE(waiting.isEnabled());
    volume.opens = true;
    (void)second.startUp(true);
    EXPECT_EQ(waiting.windowTitle(), "Hushwell");
    EXPECT_TRUE(waiting.isEnabled());
}

}  // namespace
}  // namespace hushwell::testing
