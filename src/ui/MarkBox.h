#pragma once

#include <QLineEdit>

namespace hushwell {

// A one-line text box for a mark: no frame margin, so that "00:00" fits the designed width, a
// thin border of its own, and a fill that the program sets with a text colour legible on it. The
// user cannot put into it the characters that end or quote a field of the settings file (comma,
// double quote, line breaks); setText() is not checked.
class MarkBox final : public QLineEdit {
    Q_OBJECT
public:
    explicit MarkBox(const QString& text, QWidget* parent = nullptr);

    // `text` is the theme's text colour; where it is not legible on `fill`, black or white is.
    void setColours(const QColor& fill, const QColor& text);

protected:
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void placeTextLine();
};

}  // namespace hushwell
