#pragma once

#include <QLineEdit>

namespace hushwell {

// A one-line text box for a mark: no frame margin, so that "00:00" fits the designed width, a
// thin border of its own, and a background colour that the program sets.
class MarkBox final : public QLineEdit {
    Q_OBJECT
public:
    explicit MarkBox(const QString& text, QWidget* parent = nullptr);

    void setBackground(const QColor& colour);

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace hushwell
