#pragma once

#include <QSlider>

namespace hushwell {

// A vertical level slider whose value is the level: the groove fills up to the thumb as the volume
// does and Up or Page Up raise it. Home and End go where the thumb's position counts from, as on a
// vertical trackbar: Home to the top (the highest level), End to the bottom. While the thumb is
// dragged, the level shows beside it, to its left.
class LevelSlider final : public QSlider {
    Q_OBJECT
public:
    explicit LevelSlider(QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace hushwell
