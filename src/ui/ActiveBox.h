#pragma once

#include <QCheckBox>

namespace hushwell {

// An Active check box whose state only the program sets: a click or the space bar asks for the
// next state through toggledByUser() and leaves the box as it is until the model answers.
class ActiveBox final : public QCheckBox {
    Q_OBJECT
public:
    explicit ActiveBox(QWidget* parent = nullptr);

signals:
    void toggledByUser();

protected:
    void nextCheckState() override { emit toggledByUser(); }
};

}  // namespace hushwell
