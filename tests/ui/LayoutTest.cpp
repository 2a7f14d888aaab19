#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include "ui/Layout.h"
#include "ui/WindowFixture.h"

namespace hushwell::testing {
namespace {

using layout::column;
using layout::twips;

struct Placed {
    QString name;
    QString text;  // caption or initial text
    QRect geometry;
};

QString textOf(QWidget* widget) {
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        return label->text();
    }
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        return edit->text();
    }
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        return button->text();
    }
    return {};
}

std::vector<Placed> layoutTable() {
    std::vector<Placed> table = {
        {"txtClock", "00:00", twips(120, 120, 495, 285)},
        {"Label15", "mm:ss", twips(140, 400, 495, 255)},
        {"Label14", "V O L U M E", twips(120, 720, 130, 1335)},
        {"Label1", "DOWN", twips(360, 760, 615, 255)},
        {"Label2", "UP", twips(600, 1240, 375, 255)},
        {"Label5", "Active", twips(600, 1920, 495, 255)},
        {"Slider1", "", twips(6000, 120, 675, 2295)},
        {"Slider2", "", twips(6840, 120, 675, 2295)},
        {"Label3", " Down Volume", twips(6120, 2440, 735, 495)},
        {"Label4", "   Up Volume", twips(6960, 2440, 735, 495)},
        {"butSave", "Save Settings", twips(1080, 2400, 1215, 375)},
        {"butClear", "Clear Settings", twips(2880, 2400, 1215, 375)},
        {"butHelp", "Help", twips(4560, 2400, 1215, 375)},
    };
    for (int i = 0; i < kPairCount; ++i) {
        const QString n = QString::number(i);
        const int x = column(i);
        table.push_back(
            {QString("Label%1").arg(6 + i), QString::number(i + 1), twips(x + 200, 120, 135, 255)});
        table.push_back({"butsetDown" + n, "Set", twips(x, 360, 495, 255)});
        table.push_back({"txtDown" + n, "00:00", twips(x, 720, 495, 285)});
        table.push_back({"txtUp" + n, "00:00", twips(x, 1200, 495, 285)});
        table.push_back({"butsetUp" + n, "Set", twips(x, 1560, 495, 255)});
        table.push_back({"chkActive" + n, "", twips(x + 120, 1920, 255, 255)});
    }
    return table;
}

class LayoutTest : public WindowTest {};

TEST_F(LayoutTest, EveryControlStandsWhereTheLayoutPutsIt) {
    start();
    EXPECT_EQ(window->objectName(), "Form1");
    EXPECT_EQ(window->size(), QSize(516, 195));
    for (const Placed& placed : layoutTable()) {
        auto* widget = find<QWidget>(placed.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->geometry(), placed.geometry) << placed.name.toStdString();
        EXPECT_EQ(textOf(widget), placed.text) << placed.name.toStdString();
        EXPECT_TRUE(widget->isVisible() && widget->isEnabled()) << placed.name.toStdString();
    }
}

TEST_F(LayoutTest, StartsAsLaidOutWithoutASettingsFile) {
    start();
    EXPECT_EQ(window->windowTitle(), "Hushwell");
    EXPECT_FALSE(window->windowIcon().isNull());
    for (int i = 0; i < kPairCount; ++i) {
        EXPECT_EQ(find<QCheckBox>(QString("chkActive%1").arg(i))->checkState(), Qt::Checked);
    }
    // The controls show levels: 20 for the Down slider at position 80, 100 for the Up slider.
    EXPECT_EQ(find<QSlider>("Slider1")->value(), 20);
    EXPECT_EQ(find<QSlider>("Slider2")->value(), 100);
    EXPECT_EQ(find<QSlider>("Slider1")->orientation(), Qt::Vertical);
    EXPECT_EQ(find<QSlider>("Slider1")->tickPosition(), QSlider::TicksBothSides);
    EXPECT_EQ(find<QSlider>("Slider1")->tickInterval(), 5);
    EXPECT_EQ(find<QSlider>("Slider1")->pageStep(), 5);
    EXPECT_EQ(focusedName(), "Slider1");
}

TEST_F(LayoutTest, TextsAreNotClipped) {
    start();
    for (const Placed& placed : layoutTable()) {
        auto* widget = find<QWidget>(placed.name);
        if (placed.text.isEmpty() || qobject_cast<QLabel*>(widget) == nullptr) {
            continue;
        }
        auto* label = qobject_cast<QLabel*>(widget);
        const QRect needed = label->fontMetrics().boundingRect(
            label->rect(), Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, label->text());
        EXPECT_LE(needed.height(), label->height()) << placed.name.toStdString();
        EXPECT_LE(needed.width(), label->width()) << placed.name.toStdString();
    }
    for (const char* name : {"txtDown0", "txtUp7", "txtClock"}) {
        const auto* box = find<QLineEdit>(name);
        // A line edit without a frame keeps a margin of 2 pixels on each side for its text.
        EXPECT_LE(box->fontMetrics().horizontalAdvance("00:00") + 2 * 2, box->width()) << name;
    }
}

TEST_F(LayoutTest, TabVisitsTheControlsInTheListedOrder) {
    start();
    QStringList expected = {"txtDown0", "txtDown1",  "butsetDown0", "butsetDown1", "txtUp1",
                            "txtUp0",   "butsetUp1", "butsetUp0",   "Slider1",     "Slider2"};
    for (int i = 2; i <= 4; ++i) {
        const QString n = QString::number(i);
        expected << "butsetDown" + n << "txtDown" + n << "txtUp" + n << "butsetUp" + n;
    }
    expected << "butsetDown5"
             << "txtDown5"
             << "butsetUp5"
             << "butSave"
             << "butClear"
             << "butHelp";
    for (int i = 0; i <= 5; ++i) {
        expected << QString("chkActive%1").arg(i);
    }
    expected << "butsetDown6"
             << "butsetDown7"
             << "txtDown6"
             << "txtDown7"
             << "txtUp5"
             << "txtUp6"
             << "txtUp7"
             << "butsetUp6"
             << "butsetUp7"
             << "chkActive6"
             << "chkActive7"
             << "txtClock"
             << "txtDown0";
    find<QWidget>("txtDown0")->setFocus();
    QStringList visited;
    for (qsizetype i = 0; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << focusedName();
    }
    expected.removeFirst();
    expected << "txtDown1";
    EXPECT_EQ(visited, expected);
}

TEST_F(LayoutTest, AMixerThatWillNotOpenStartsTheFocusOnTheFirstMark) {
    volume.opens = false;
    start();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Couldn't open the mixer.");
    EXPECT_EQ(boxes[0].title, "Hushwell");
    EXPECT_EQ(boxes[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(boxes[0].buttons, QMessageBox::Ok);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(focusedName(), "txtDown0");
}

TEST_F(LayoutTest, EveryControlHasAnAccessibleName) {
    start();
    for (const Placed& placed : layoutTable()) {
        auto* widget = find<QWidget>(placed.name);
        if (qobject_cast<QLabel*>(widget) != nullptr) {
            continue;
        }
        // Buttons with a caption of their own are spoken by it.
        const bool captioned =
            qobject_cast<QPushButton*>(widget) != nullptr && placed.text != "Set";
        if (!captioned) {
            EXPECT_FALSE(widget->accessibleName().isEmpty()) << placed.name.toStdString();
        }
    }
    EXPECT_EQ(find<QLineEdit>("txtDown2")->accessibleName(), "Down mark of pair 3");
    EXPECT_EQ(find<QWidget>("butsetDown2")->accessibleName(),
              "Set the Down mark of pair 3 to the current time");
    EXPECT_EQ(find<QSlider>("Slider1")->accessibleName(), "Down volume");
}

}  // namespace
}  // namespace hushwell::testing
