// Every control of the window, where the layout puts it, with its initial contents and the
// order in which Tab visits the controls.

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include "ui/ActiveBox.h"
#include "ui/Layout.h"
#include "ui/LevelSlider.h"
#include "ui/MainWindow.h"
#include "ui/MarkBox.h"
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

MarkBox* textBox(QWidget* parent, const QString& name, const QString& accessible, QRect geometry) {
    auto* box = placed(new MarkBox(QStringLiteral("00:00"), parent), name, geometry, accessible);
    box->setMaxLength(32767);
    return box;
}

QPushButton* button(QWidget* parent, const char* name, const QString& text, QRect geometry) {
    return placed(new QPushButton(text, parent), name, geometry);
}

}  // namespace

void MainWindow::buildControls() {
    setFontPixels(this, kFontPixels);

    m_txtClock =
        textBox(this, "txtClock", tr("Current minute and second"), twips(120, 120, 495, 285));
    setFontPixels(label(this, "Label15", "mm:ss", twips(140, 400, 495, 255)), kNarrowFontPixels);
    auto* volume = label(this, "Label14", "V O L U M E", twips(120, 720, 130, 1335));
    volume->setWordWrap(true);
    label(this, "Label1", "DOWN", twips(360, 760, 615, 255));
    label(this, "Label2", "UP", twips(600, 1240, 375, 255));
    label(this, "Label5", "Active", twips(600, 1920, 495, 255));
    buildPairGrid();
    buildSliders();
    label(this, "Label3", " Down Volume", twips(6120, 2440, 735, 495))->setWordWrap(true);
    label(this, "Label4", "   Up Volume", twips(6960, 2440, 735, 495))->setWordWrap(true);
    m_butSave = button(this, "butSave", "Save Settings", twips(1080, 2400, 1215, 375));
    m_butClear = button(this, "butClear", "Clear Settings", twips(2880, 2400, 1215, 375));
    m_butHelp = button(this, "butHelp", "Help", twips(4560, 2400, 1215, 375));
    setTabOrder();
}

void MainWindow::buildPairGrid() {
    for (int i = 0; i < kPairCount; ++i) {
        const int x = column(i);
        const QString n = QString::number(i);
        const QString pair = QString::number(i + 1);
        label(this, QStringLiteral("Label%1").arg(6 + i).toLatin1().constData(), pair,
              twips(x + 200, 120, 135, 255));

        m_butsetDown[i] = placed(new SetButton(QStringLiteral("Set"), this), "butsetDown" + n,
                                 twips(x, 360, 495, 255),
                                 tr("Set the Down mark of pair %1 to the current time").arg(pair));
        m_txtDown[i] = textBox(this, "txtDown" + n, tr("Down mark of pair %1").arg(pair),
                               twips(x, 720, 495, 285));
        m_txtUp[i] = textBox(this, "txtUp" + n, tr("Up mark of pair %1").arg(pair),
                             twips(x, 1200, 495, 285));
        m_butsetUp[i] = placed(new SetButton(QStringLiteral("Set"), this), "butsetUp" + n,
                               twips(x, 1560, 495, 255),
                               tr("Set the Up mark of pair %1 to the current time").arg(pair));
        m_chkActive[i] = placed(new ActiveBox(this), "chkActive" + n,
                                twips(x + 120, 1920, 255, 255), tr("Pair %1 active").arg(pair));
        m_chkActive[i]->setCheckState(Qt::Checked);
    }
}

void MainWindow::buildSliders() {
    const struct {
        QSlider*& slider;
        const char* name;
        QString accessible;
        int left;
        int position;
    } sliders[] = {{m_slider1, "Slider1", tr("Down volume"), 6000, 80},
                   {m_slider2, "Slider2", tr("Up volume"), 6840, 0}};
    for (const auto& s : sliders) {
        s.slider = new LevelSlider(this);
        s.slider->setObjectName(s.name);
        s.slider->setAccessibleName(s.accessible);
        s.slider->setGeometry(twips(s.left, 120, 675, 2295));
        // The control's value is the level, maximum - position, so that the groove fills up to
        // the thumb as the volume does and a screen reader speaks the percent.
        s.slider->setRange(0, 100);
        s.slider->setSingleStep(1);
        s.slider->setPageStep(5);
        s.slider->setTickPosition(QSlider::TicksBothSides);
        s.slider->setTickInterval(5);
        s.slider->setValue(s.slider->maximum() - s.position);
    }
}

void MainWindow::setTabOrder() {
    std::vector<QWidget*> order = {m_txtDown[0], m_txtDown[1], m_butsetDown[0], m_butsetDown[1],
                                   m_txtUp[1],   m_txtUp[0],   m_butsetUp[1],   m_butsetUp[0],
                                   m_slider1,    m_slider2};
    for (int i = 2; i <= 4; ++i) {
        order.insert(order.end(), {m_butsetDown[i], m_txtDown[i], m_txtUp[i], m_butsetUp[i]});
    }
    order.insert(order.end(),
                 {m_butsetDown[5], m_txtDown[5], m_butsetUp[5], m_butSave, m_butClear, m_butHelp});
    for (int i = 0; i <= 5; ++i) {
        order.push_back(m_chkActive[i]);
    }
    order.insert(order.end(), {m_butsetDown[6], m_butsetDown[7], m_txtDown[6], m_txtDown[7],
                               m_txtUp[5], m_txtUp[6], m_txtUp[7], m_butsetUp[6], m_butsetUp[7],
                               m_chkActive[6], m_chkActive[7], m_txtClock});
    for (std::size_t i = 1; i < order.size(); ++i) {
        QWidget::setTabOrder(order[i - 1], order[i]);
    }
}

}  // namespace hushwell
