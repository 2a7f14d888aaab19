#include "ui/LevelSlider.h"

#include <QKeyEvent>

namespace hushwell {

LevelSlider::LevelSlider(QWidget* parent) : QSlider(Qt::Vertical, parent) {}

void LevelSlider::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Home || event->key() == Qt::Key_End) {
        triggerAction(event->key() == Qt::Key_Home ? SliderToMaximum : SliderToMinimum);
        event->accept();
        return;
    }
    QSlider::keyPressEvent(event);
}

}  // namespace hushwell
