#pragma once

#include <QPushButton>

namespace hushwell {

// A "Set" button that reports the release of every mouse button over it, with the button's code
// (1 left, 2 right, 4 middle), besides the usual click of the left button or the keyboard.
class SetButton final : public QPushButton {
    Q_OBJECT
public:
    using QPushButton::QPushButton;

signals:
    void released(int buttonCode);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};

}  // namespace hushwell
