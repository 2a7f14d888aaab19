// Every control of the window, where the layout puts it, with its initial contents and the
// order in which Tab visits the controls.

#include <QLabel>
#include <QPushButton>
#include <QSlider>

#include "ui/ActiveBox.h"
#include "ui/Layout.h"
#include "ui/LevelSlider.h"
#include "ui/MainWindow.h"
#include "ui/MarkBox.h"
#include "ui/PairColumn.h"
#include "ui/SetButton.h"

namespace hushwell {
namespace {

using layout::column;
using layout::twips;

// The layout was drawn for a font smaller than today's desktop default. These sizes keep every
// caption and every "00:00" whole at the designed sizes.
constexpr int kFontPixels = 10;
constexpr int kNarrowFontPixels = 9;

void setFontPixels(QWidget* widget, int pixels) {
    QFont font = widget->font();
    font.setPixelSize(pixels);
    widget->setFont(font);
}

// `widget` under its object name, where the layout puts it, with the name a screen reader speaks
// (none: its caption).
template <typename Widget>
Widget* placed(Widget* widget, const QString& name, QRect geometry,
               const QString& accessible = {}) {
    widget->setObjectName(name);
    widget->setGeometry(geometry);
    widget->setAccessibleName(accessible);
    return widget;
}

QLabel* label(QWidget* parent, const char* name, const QString& text, QRect geometry) {
    auto* widget = placed(new QLabel(text, parent), name, geometry);
    widget->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return widget;
}

QPushButton* button(QWidget* parent, const char* name, const QString& text, QRect geometry) {
    return placed(new QPushButton(text, parent), name, geometry);
}

}  // namespace

void MainWindow::buildControls() {
    setFontPixels(this, kFontPixels);

    m_clockBox = placed(new MarkBox(QString::fromLatin1(kBlankMark), this), "txtClock",
                        twips(120, 120, 495, 285), tr("Current minute and second"));
    setFontPixels(label(this, "Label15", "mm:ss", twips(140, 400, 495, 255)), kNarrowFontPixels);
    auto* volume = label(this, "Label14", "V O L U M E", twips(120, 720, 130, 1335));
    volume->setWordWrap(true);
    label(this, "Label1", "DOWN", twips(360, 760, 615, 255));
    label(this, "Label2", "UP", twips(600, 1240, 375, 255));
    label(this, "Label5", "Active", twips(600, 1920, 495, 255));
    for (int i = 0; i < kPairCount; ++i) {
        label(this, QStringLiteral("Label%1").arg(6 + i).toLatin1().constData(),
              QString::number(i + 1), twips(column(i) + 200, 120, 135, 255));
        m_pairColumns[i] = new PairColumn(i, this);
        m_pairColumns[i]->move(layout::px(column(i)), layout::px(360));
    }
    buildSliders();
    label(this, "Label3", " Down Volume", twips(6120, 2440, 735, 495))->setWordWrap(true);
    label(this, "Label4", "   Up Volume", twips(6960, 2440, 735, 495))->setWordWrap(true);
    m_saveButton = button(this, "butSave", "Save Settings", twips(1080, 2400, 1215, 375));
    m_clearButton = button(this, "butClear", "Clear Settings", twips(2880, 2400, 1215, 375));
    m_helpButton = button(this, "butHelp", "Help", twips(4560, 2400, 1215, 375));
    setTabOrder();
}

void MainWindow::buildSliders() {
    const struct {
        Level level;
        const char* name;
        QString accessible;
        int left;
        int position;
    } sliders[] = {{Level::Down, "Slider1", tr("Down volume"), 6000, 80},
                   {Level::Up, "Slider2", tr("Up volume"), 6840, 0}};
    for (const auto& s : sliders) {
        auto* control = new LevelSlider(this);
        m_sliders[static_cast<int>(s.level)] = control;
        control->setObjectName(s.name);
        control->setAccessibleName(s.accessible);
        control->setGeometry(twips(s.left, 120, 675, 2295));
        // The control's value is the level, maximum - position, so that the groove fills up to
        // the thumb as the volume does and a screen reader speaks the percent.
        control->setRange(0, kMaxLevel);
        control->setSingleStep(1);
        control->setPageStep(5);
        control->setTickPosition(QSlider::TicksBothSides);
        control->setTickInterval(5);
        control->setValue(control->maximum() - s.position);
    }
}

void MainWindow::setTabOrder() {
    const auto mark = [this](Level row, int i) -> QWidget* {
        return m_pairColumns[i]->markBox(row);
    };
    const auto set = [this](Level row, int i) -> QWidget* {
        return m_pairColumns[i]->setButton(row);
    };
    const auto active = [this](int i) -> QWidget* { return m_pairColumns[i]->activeBox(); };
    const Level down = Level::Down;
    const Level up = Level::Up;
    std::vector<QWidget*> order = {
        mark(down, 0), mark(down, 1), set(down, 0), set(down, 1),        mark(up, 1),
        mark(up, 0),   set(up, 1),    set(up, 0),   slider(Level::Down), slider(Level::Up)};
    for (int i = 2; i <= 4; ++i) {
        order.insert(order.end(), {set(down, i), mark(down, i), mark(up, i), set(up, i)});
    }
    order.insert(order.end(), {set(down, 5), mark(down, 5), set(up, 5), m_saveButton, m_clearButton,
                               m_helpButton});
    for (int i = 0; i <= 5; ++i) {
        order.push_back(active(i));
    }
    order.insert(order.end(), {set(down, 6), set(down, 7), mark(down, 6), mark(down, 7),
                               mark(up, 5), mark(up, 6), mark(up, 7), set(up, 6), set(up, 7),
                               active(6), active(7), m_clockBox});
    for (std::size_t i = 1; i < order.size(); ++i) {
        QWidget::setTabOrder(order[i - 1], order[i]);
    }
}

}  // namespace hushwell
