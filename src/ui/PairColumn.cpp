#include "ui/PairColumn.h"

#include <QSignalBlocker>

#include "engine/MarkLimits.h"
#include "ui/ActiveBox.h"
#include "ui/Layout.h"
#include "ui/MarkBox.h"
#include "ui/SetButton.h"

namespace hushwell {

using layout::twips;

PairColumn::PairColumn(int index, QWidget* parent) : QWidget(parent) {
    const QString n = QString::number(index);
    const QString pair = QString::number(index + 1);
    // Tops in twips from the column's top edge, which is its Down Set button's.
    const struct {
        Level row;
        const char* name;
        int markTop;
        int setTop;
        QString markSpoken;
        QString setSpoken;
    } rows[] = {{Level::Down, "Down", 360, 0, tr("Down mark of pair %1").arg(pair),
                 tr("Set the Down mark of pair %1 to the current time").arg(pair)},
                {Level::Up, "Up", 840, 1200, tr("Up mark of pair %1").arg(pair),
                 tr("Set the Up mark of pair %1 to the current time").arg(pair)}};
    resize(layout::px(495), layout::px(1815));
    for (const auto& r : rows) {
        auto* set = new SetButton(QStringLiteral("Set"), this);
        set->setObjectName(QStringLiteral("butset%1%2").arg(r.name, n));
        set->setGeometry(twips(0, r.setTop, 495, 255));
        set->setAccessibleName(r.setSpoken);
        auto* box = new MarkBox(QString(), this);
        box->setObjectName(QStringLiteral("txt%1%2").arg(r.name, n));
        box->setGeometry(twips(0, r.markTop, 495, 285));
        box->setAccessibleName(r.markSpoken);
        box->setMaxLength(static_cast<int>(kMaxMarkLength));
        m_setButtons[static_cast<int>(r.row)] = set;
        m_markBoxes[static_cast<int>(r.row)] = box;
        const Level row = r.row;
        connect(box, &QLineEdit::textChanged, this,
                [this, row](const QString& text) { emit markEdited(row, text); });
        // The left button's release is a click too: it stamps the time by both roads.
        connect(set, &SetButton::released, this, [this, row](Qt::MouseButton button) {
            if (button == Qt::LeftButton) {
                emit stampRequested(row);
            } else {
                emit moveOnRequested(row);
            }
        });
        connect(set, &QPushButton::clicked, this, [this, row] { emit stampRequested(row); });
    }
    m_activeBox = new ActiveBox(this);
    m_activeBox->setObjectName("chkActive" + n);
    m_activeBox->setGeometry(twips(120, 1560, 255, 255));
    m_activeBox->setAccessibleName(tr("Pair %1 active").arg(pair));
    connect(m_activeBox, &ActiveBox::toggledByUser, this, &PairColumn::toggleRequested);
}

// Light green while the pair holds the volume down since the schedule lowered it, the window
// background while it is on, the button face otherwise.
void PairColumn::showPair(const SettingPair& pair, const QPalette& theme) {
    const QColor fill = pair.heldDown ? QColor(192, 255, 192)
                                      : theme.color(pair.state == PairState::On ? QPalette::Base
                                                                                : QPalette::Button);
    for (Level row : {Level::Down, Level::Up}) {
        MarkBox* box = markBox(row);
        const QString text = QString::fromStdString(row == Level::Down ? pair.down : pair.up);
        const QSignalBlocker blocker(box);
        if (box->text() != text) {
            box->setText(text);
        }
        box->setColours(fill, theme.color(QPalette::Text));
    }
    const QSignalBlocker blocker(m_activeBox);
    m_activeBox->setCheckState(pair.state == PairState::On       ? Qt::Checked
                               : pair.state == PairState::Greyed ? Qt::PartiallyChecked
                                                                 : Qt::Unchecked);
}

}  // namespace hushwell
