#include "ui/MarkBox.h"

#include <QEvent>
#include <QPainter>
#include <QValidator>
#include <algorithm>

#include "engine/MarkLimits.h"
#include "ui/Contrast.h"

namespace hushwell {
namespace {

// Refuses a text that holds one of the characters the settings file reads as a separator or a
// quote. QLineEdit puts every change through it, typed, pasted, dropped or from an input method,
// and undoes a refused one whole: a paste of "05,30" leaves the box as it was rather than making
// it "0530", a mark nobody wrote. Only a change from a text it accepted is undone, so a box that
// the program filled with such a text (from a file edited by hand) can still be edited freely.
class MarkValidator final : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int& /*position*/) const override {
        for (const char c : kCharactersNoMarkHolds) {
            if (input.contains(QLatin1Char(c))) {
                return Invalid;
            }
        }
        return Acceptable;
    }
};

}  // namespace

MarkBox::MarkBox(const QString& text, QWidget* parent) : QLineEdit(text, parent) {
    setFrame(false);
    // QLineEdit centres its line by the height of the text's bounding rectangle, which with some
    // fonts is several lines tall (the maths font Wine falls back to without Tahoma: 43 pixels for
    // a 10-pixel font), and the text then lands above the box. Placed from the top by the font's
    // line height, it stands where centring puts it with an ordinary font.
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    placeTextLine();
    setValidator(new MarkValidator(this));
}

void MarkBox::placeTextLine() {
    // A top-aligned QLineEdit starts its line one pixel below the top margin.
    constexpr int kLineEditVerticalMargin = 1;
    const int centred = (height() - fontMetrics().height() + 1) / 2;
    const int top = std::max(0, centred - kLineEditVerticalMargin);
    if (textMargins().top() != top) {
        setTextMargins(0, top, 0, 0);
    }
}

void MarkBox::changeEvent(QEvent* event) {
    QLineEdit::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        placeTextLine();
    }
}

void MarkBox::resizeEvent(QResizeEvent* event) {
    QLineEdit::resizeEvent(event);
    placeTextLine();
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
