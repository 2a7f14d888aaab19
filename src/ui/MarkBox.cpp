#include "ui/MarkBox.h"

#include <QPainter>

namespace hushwell {

MarkBox::MarkBox(const QString& text, QWidget* parent) : QLineEdit(text, parent) {
    setFrame(false);
}

void MarkBox::setBackground(const QColor& colour) {
    QPalette colours = palette();
    if (colours.color(QPalette::Base) != colour) {
        colours.setColor(QPalette::Base, colour);
        setPalette(colours);
    }
}

void MarkBox::paintEvent(QPaintEvent* event) {
    QLineEdit::paintEvent(event);
    QPainter painter(this);
    painter.setPen(palette().color(hasFocus() ? QPalette::Highlight : QPalette::Dark));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

}  // namespace hushwell
