#include "ui/MarkBox.h"

#include <QPainter>

#include "ui/Contrast.h"

namespace hushwell {

MarkBox::MarkBox(const QString& text, QWidget* parent) : QLineEdit(text, parent) {
    setFrame(false);
}

void MarkBox::setColours(const QColor& fill, const QColor& text) {
    const QColor readable = readableOn(fill, text);
    QPalette colours = palette();
    if (colours.color(QPalette::Base) != fill || colours.color(QPalette::Text) != readable) {
        colours.setColor(QPalette::Base, fill);
        colours.setColor(QPalette::Text, readable);
        setPalette(colours);
    }
}

void MarkBox::paintEvent(QPaintEvent* event) {
    QLineEdit::paintEvent(event);
    QPainter painter(this);
    // The border stands out from any fill: halfway between the fill and its text.
    const QColor fill = palette().color(QPalette::Base);
    const QColor text = palette().color(QPalette::Text);
    const QColor border((fill.red() + text.red()) / 2, (fill.green() + text.green()) / 2,
                        (fill.blue() + text.blue()) / 2);
    // One logical pixel wide along the very edge, at any scale.
    painter.setPen(QPen(hasFocus() ? palette().color(QPalette::Highlight) : border, 1.0,
                        Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    painter.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}

}  // namespace hushwell
