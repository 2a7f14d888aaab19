#pragma once

#include <QPushButton>

namespace hushwell {

// A "Set" button that reports the release of every mouse button over it, besides the usual click
// of the left button or the keyboard.
class SetButton final : public QPushButton {
    Q_OBJECT
public:
    using QPushButton::QPushButton;

signals:
    void released(Qt::MouseButton button);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};

}  // namespace hushwell
