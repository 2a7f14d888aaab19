#include "ui/LevelSlider.h"

#include <QKeyEvent>
#include <QStyle>
#include <QToolTip>

namespace hushwell {

LevelSlider::LevelSlider(QWidget* parent) : QSlider(Qt::Vertical, parent) {
    connect(this, &QSlider::valueChanged, this, [this](int value) {
        if (isSliderDown()) {
            const int y =
                QStyle::sliderPositionFromValue(minimum(), maximum(), value, height(), true);
            QToolTip::showText(mapToGlobal(QPoint(-24, y - 8)), QString::number(value), this);
        }
    });
}

void LevelSlider::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Home || event->key() == Qt::Key_End) {
        triggerAction(event->key() == Qt::Key_Home ? SliderToMaximum : SliderToMinimum);
        event->accept();
        return;
    }
    QSlider::keyPressEvent(event);
}

}  // namespace hushwell
