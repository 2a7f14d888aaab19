#include "ui/SetButton.h"

#include <QMouseEvent>

namespace hushwell {
namespace {

int buttonCode(Qt::MouseButton button) {
    switch (button) {
        case Qt::LeftButton:
            return 1;
        case Qt::RightButton:
            return 2;
        case Qt::MiddleButton:
            return 4;
        default:
            return 0;
    }
}

}  // namespace

void SetButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        QPushButton::mousePressEvent(event);
    } else {
        event->accept();  // keeps the release coming to this button
    }
}

void SetButton::mouseReleaseEvent(QMouseEvent* event) {
    const int code = buttonCode(event->button());
    if (code != 0 && rect().contains(event->position().toPoint())) {
        emit released(code);
    }
    if (event->button() == Qt::LeftButton) {
        QPushButton::mouseReleaseEvent(event);
    }
}

}  // namespace hushwell
