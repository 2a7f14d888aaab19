#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <algorithm>

#include "ui/WindowFixture.h"

// QRect(x, y, width, height) in a failure's message.
inline void PrintTo(const QRect& rect, std::ostream* out) {
    *out << "QRect(" << rect.x() << ", " << rect.y() << ", " << rect.width() << ", "
         << rect.height() << ")";
}

namespace hushwell::testing {
namespace {

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

// Where each control stands, in pixels of the window at 96 dots per inch.
std::vector<Placed> layoutTable() {
    std::vector<Placed> table = {
        {"txtClock", "00:00", QRect(8, 8, 33, 19)},
        {"Label15", "mm:ss", QRect(9, 27, 33, 17)},
        {"Label14", "V O L U M E", QRect(8, 48, 9, 89)},
        {"Label1", "DOWN", QRect(24, 51, 41, 17)},
        {"Label2", "UP", QRect(40, 83, 25, 17)},
        {"Label5", "Active", QRect(40, 128, 33, 17)},
        {"Slider1", "", QRect(400, 8, 45, 153)},
        {"Slider2", "", QRect(456, 8, 45, 153)},
        {"Label3", " Down Volume", QRect(408, 163, 49, 33)},
        {"Label4", "   Up Volume", QRect(464, 163, 49, 33)},
        {"butSave", "Save Settings", QRect(72, 160, 81, 25)},
        {"butClear", "Clear Settings", QRect(192, 160, 81, 25)},
        {"butHelp", "Help", QRect(304, 160, 81, 25)},
    };
    // The pair grid: the left edges of its eight columns, and each row's control relative to them.
    constexpr int kColumnLeft[kPairCount] = {72, 112, 152, 192, 232, 272, 312, 352};
    const struct {
        const char* name;  // followed by the column's index plus `firstNumber`
        int firstNumber;
        const char* text;  // none: the number the user sees over the column, 1 to 8
        QRect fromColumnLeft;
    } grid[] = {{"Label", 6, nullptr, QRect(13, 8, 9, 17)},
                {"butsetDown", 0, "Set", QRect(0, 24, 33, 17)},
                {"txtDown", 0, "00:00", QRect(0, 48, 33, 19)},
                {"txtUp", 0, "00:00", QRect(0, 80, 33, 19)},
                {"butsetUp", 0, "Set", QRect(0, 104, 33, 17)},
                {"chkActive", 0, "", QRect(8, 128, 17, 17)}};
    for (const auto& row : grid) {
        for (int i = 0; i < kPairCount; ++i) {
            table.push_back({row.name + QString::number(i + row.firstNumber),
                             row.text != nullptr ? row.text : QString::number(i + 1),
                             row.fromColumnLeft.translated(kColumnLeft[i], 0)});
        }
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
        EXPECT_EQ(QRect(widget->mapTo(window.get(), QPoint(0, 0)), widget->size()), placed.geometry)
            << placed.name.toStdString();
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

TEST_F(LayoutTest, TabAndShiftTabVisitTheControlsInTheListedOrder) {
    start();
    const QStringList order = {
        "txtDown0",    "txtDown1",   "butsetDown0", "butsetDown1", "txtUp1",      "txtUp0",
        "butsetUp1",   "butsetUp0",  "Slider1",     "Slider2",     "butsetDown2", "txtDown2",
        "txtUp2",      "butsetUp2",  "butsetDown3", "txtDown3",    "txtUp3",      "butsetUp3",
        "butsetDown4", "txtDown4",   "txtUp4",      "butsetUp4",   "butsetDown5", "txtDown5",
        "butsetUp5",   "butSave",    "butClear",    "butHelp",     "chkActive0",  "chkActive1",
        "chkActive2",  "chkActive3", "chkActive4",  "chkActive5",  "butsetDown6", "butsetDown7",
        "txtDown6",    "txtDown7",   "txtUp5",      "txtUp6",      "txtUp7",      "butsetUp6",
        "butsetUp7",   "chkActive6", "chkActive7",  "txtClock"};
    QStringList backwards = order;
    std::reverse(backwards.begin(), backwards.end());
    const struct {
        const char* name;
        Qt::Key key;
        QStringList visits;  // from the first control, round to it
    } cases[] = {{"Tab", Qt::Key_Tab, order.mid(1) << order.first()},
                 {"Shift+Tab", Qt::Key_Backtab, backwards}};
    for (const auto& c : cases) {
        find<QWidget>("txtDown0")->setFocus();
        QStringList visited;
        for (qsizetype i = 0; i < order.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), c.key);
            visited << focusedName();
        }
        EXPECT_EQ(visited, c.visits) << c.name;
    }
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
