#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "ui/HelpText.h"
#include "ui/WindowFixture.h"

namespace hushwell::testing {
namespace {

class DialogsTest : public WindowTest {
protected:
    void SetUp() override { start(); }
    void click(const char* name) { QTest::mouseClick(find<QWidget>(name), Qt::LeftButton); }
};

TEST_F(DialogsTest, HelpShowsTheInstructionsAndChangesNothing) {
    click("butHelp");
    click("butHelp");
    ASSERT_EQ(boxes.size(), 2u);
    const QString help = QString::fromStdString(helpMessage());
    for (const SeenBox& box : boxes) {
        EXPECT_EQ(box.text, help);
        EXPECT_EQ(box.title, "Hushwell");
        EXPECT_EQ(box.icon, QMessageBox::NoIcon);
        EXPECT_EQ(box.buttons, QMessageBox::Ok);
        EXPECT_EQ(box.format, Qt::PlainText);
    }
    EXPECT_FALSE(core->model.settingsChanged());
}

TEST_F(DialogsTest, TextFromTheSettingsFileIsShownAsItStands) {
    TempDir other;
    const std::string markup = "<b>bold</b><img src=/dev/zero>";
    writeFile(other.path() / kSettingsFileName,
              "20,100\r\n,,,,,,,\r\n,,,,,,,\r\n" + markup + "\r\n");
    FileSettingsStore otherStore(SettingsLocation::at(other.path() / kSettingsFileName));
    MainWindow secondWindow(clock);
    Core second(volume, clock, secondWindow, otherStore);
    secondWindow.attach(second);
    boxes.clear();
    EXPECT_EQ(second.startUp(), StartUpOutcome::Failed);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].format, Qt::PlainText);
    // The message quotes the field's first 24 characters.
    EXPECT_TRUE(
        boxes[0].text.contains(QString::fromStdString("\"" + markup.substr(0, 24) + "...\"")))
        << boxes[0].text.toStdString();
}

TEST(HelpText, HasItsSpacingAndLength) {
    const std::string help = helpMessage();
    const std::size_t closing = help.find("A good source of online radio programming is ");
    ASSERT_NE(closing, std::string::npos);
    EXPECT_EQ(closing, 590u);
    EXPECT_NE(help.find("minute:second Down and Up"), std::string::npos);
    EXPECT_NE(help.find("back up.  The order is not important.  A pair"), std::string::npos);
    EXPECT_NE(help.find("to the right.  8 setting pairs"), std::string::npos);
    EXPECT_NE(help.find("current settings.  A good source"), std::string::npos);
    EXPECT_EQ(help.substr(closing + 45),
              std::string(kRadioDirectory) + " and for Talk Radio " + kTalkRadioDirectory);
}

TEST_F(DialogsTest, ClearAnsweredNoChangesNothing) {
    find<QLineEdit>("txtDown1")->setText("10:00");
    answers = {QMessageBox::No};
    click("butClear");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Are you sure you want to clear all settings?");
    EXPECT_EQ(boxes[0].icon, QMessageBox::Question);
    EXPECT_EQ(boxes[0].buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(boxes[0].format, Qt::PlainText);
    EXPECT_EQ(find<QLineEdit>("txtDown1")->text(), "10:00");
}

TEST_F(DialogsTest, ClearAnsweredYesResetsMarksAndBoxes) {
    find<QLineEdit>("txtDown1")->setText("10:00");
    find<QLineEdit>("txtUp6")->setText("");
    answers = {QMessageBox::Yes};
    click("butClear");
    for (int i = 0; i < kPairCount; ++i) {
        EXPECT_EQ(find<QLineEdit>(QString("txtDown%1").arg(i))->text(), "00:00");
        EXPECT_EQ(find<QLineEdit>(QString("txtUp%1").arg(i))->text(), "00:00");
        EXPECT_EQ(find<QAbstractButton>(QString("chkActive%1").arg(i))->isChecked(), false);
    }
}

TEST_F(DialogsTest, ClosingWithUnsavedEditsAsksAndYesSaves) {
    find<QLineEdit>("txtDown0")->setText("12:00");
    answers = {QMessageBox::Yes};
    window->close();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Save settings before ending?");
    EXPECT_EQ(boxes[0].icon, QMessageBox::Question);
    EXPECT_EQ(readFile(settingsFile()).substr(0, 19), "20,100\r\n12:00,00:00");
    EXPECT_EQ(volume.sets, std::vector<std::int32_t>{100 * 655});
}

TEST_F(DialogsTest, ClosingAnsweredNoWritesNothingButRaisesTheVolume) {
    find<QLineEdit>("txtDown0")->setText("12:00");
    answers = {QMessageBox::No};
    window->close();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(settingsFile()));
    EXPECT_EQ(volume.sets, std::vector<std::int32_t>{100 * 655});
}

TEST_F(DialogsTest, ClosingWithoutEditsAsksNothing) {
    window->close();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(volume.sets, std::vector<std::int32_t>{100 * 655});
}

// A signal ends the run with nobody asked: after it, neither a message nor the question on
// closing shows, and closing the window puts back nothing more.
TEST_F(DialogsTest, AfterTheRunEndedNothingIsAskedOrShown) {
    find<QLineEdit>("txtDown0")->setText("12:00");  // unsaved
    core->shutDown.restoreUpLevel();                // as a signal does
    click("butHelp");
    window->close();
    EXPECT_TRUE(boxes.empty());
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(volume.sets, std::vector<std::int32_t>{100 * 655});
    EXPECT_EQ(volume.finishCalls, 1);
    EXPECT_FALSE(std::filesystem::exists(settingsFile()));
}

TEST_F(DialogsTest, QuittingTheApplicationPutsTheUpLevelBackOnce) {
    find<QLineEdit>("txtDown0")->setText("12:00");  // unsaved: quitting closes the window first
    answers = {QMessageBox::No};
    QTimer::singleShot(0, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Save settings before ending?");
    EXPECT_EQ(volume.sets, std::vector<std::int32_t>{100 * 655});
    EXPECT_FALSE(window->isVisible());
}

TEST_F(DialogsTest, SaveSettingsWritesWhatTheWindowShows) {
    click("butSave");
    EXPECT_TRUE(boxes.empty());
    const std::string marks = "00:00,00:00,00:00,00:00,00:00,00:00,00:00,00:00\r\n";
    EXPECT_EQ(readFile(settingsFile()),
              "20,100\r\n" + marks + marks + " 1 , 1 , 1 , 1 , 1 , 1 , 1 , 1 \r\n");
}

}  // namespace
}  // namespace hushwell::testing
