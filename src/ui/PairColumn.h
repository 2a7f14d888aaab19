#pragma once

#include <QWidget>
#include <array>

#include "engine/Model.h"

namespace hushwell {

class ActiveBox;
class MarkBox;
class SetButton;

// One column of the pair grid: the Down and Up Set buttons, the Down and Up mark boxes and the
// Active box of the pair `index`, named "butsetDown3", "txtDown3", "txtUp3", "butsetUp3" and
// "chkActive3" for index 3. It shows the pair it is given and reports what the user does to it;
// the window places it and wires it to the core.
class PairColumn final : public QWidget {
    Q_OBJECT
public:
    PairColumn(int index, QWidget* parent);

    // The marks, their fill and the Active state. `theme` is the window's palette, which reaches
    // the column only after the window has seen it change.
    void showPair(const SettingPair& pair, const QPalette& theme);

    [[nodiscard]] MarkBox* markBox(Level row) const { return m_markBoxes[static_cast<int>(row)]; }
    [[nodiscard]] SetButton* setButton(Level row) const {
        return m_setButtons[static_cast<int>(row)];
    }
    [[nodiscard]] ActiveBox* activeBox() const { return m_activeBox; }

signals:
    void markEdited(Level row, const QString& text);  // the user's: showPair() reports nothing
    void stampRequested(Level row);                   // a Set button's left click, or its key
    void moveOnRequested(Level row);  // any other mouse button released over a Set button
    void toggleRequested();           // the Active box clicked or its key pressed

private:
    std::array<MarkBox*, 2> m_markBoxes{};     // by Level
    std::array<SetButton*, 2> m_setButtons{};  // by Level
    ActiveBox* m_activeBox = nullptr;
};

}  // namespace hushwell
