#include "ui/SetButton.h"

#include <QMouseEvent>

namespace hushwell {

void SetButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        QPushButton::mousePressEvent(event);
    } else {
        event->accept();  // keeps the release coming to this button
    }
}

void SetButton::mouseReleaseEvent(QMouseEvent* event) {
    if (rect().contains(event->position().toPoint())) {
        emit released(event->button());
    }
    if (event->button() == Qt::LeftButton) {
        QPushButton::mouseReleaseEvent(event);
    }
}

}  // namespace hushwell
