#include "ui/MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>
#include <QToolTip>

#include "ui/ActiveBox.h"
#include "ui/AppIcon.h"
#include "ui/HelpText.h"
#include "ui/Layout.h"
#include "ui/MarkBox.h"
#include "ui/SetButton.h"

namespace hushwell {
namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

MainWindow::MainWindow(const Clock& clock, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      m_ticker(clock) {
    setObjectName("Form1");
    setWindowTitle(kProgramName);
    setWindowIcon(appIcon());
    setFixedSize(layout::px(layout::kClientWidth), layout::px(layout::kClientHeight));
    buildControls();
    for (int i = 0; i < kPairCount; ++i) {
        renderPair(i);
    }
}

void MainWindow::attach(Hushwell& engine) {
    m_engine = &engine;
    engine.setListener([this](ModelChange change, int index) { render(change, index); });
    connectInput();
    connect(&m_ticker, &SecondTicker::tick, this, [this] { m_engine->tick(); });
    // However the application quits (the end of the desktop session included), the Up level is
    // put back before it ends.
    connect(qApp, &QCoreApplication::aboutToQuit, this, &MainWindow::restoreUpLevel);
    m_ticker.start();
}

void MainWindow::connectInput() {
    for (int i = 0; i < kPairCount; ++i) {
        for (Row row : {Row::Down, Row::Up}) {
            MarkBox* box = row == Row::Down ? m_txtDown[i] : m_txtUp[i];
            SetButton* set = row == Row::Down ? m_butsetDown[i] : m_butsetUp[i];
            connect(box, &QLineEdit::textChanged, this, [this, row, i](const QString& text) {
                m_engine->editMark(row, i, text.toStdString());
            });
            connect(set, &SetButton::released, this,
                    [this, row, i](int code) { m_engine->setButtonReleased(row, i, code); });
            connect(set, &QPushButton::clicked, this,
                    [this, row, i] { m_engine->setButtonClicked(row, i); });
        }
        connect(m_chkActive[i], &ActiveBox::toggledByUser, this,
                [this, i] { m_engine->toggleActive(i); });
    }
    for (Level level : {Level::Down, Level::Up}) {
        // Positions the program sets are made with signals blocked, so this is the user.
        connect(slider(level), &QSlider::valueChanged, this, [this, level](int value) {
            m_engine->moveSlider(level, slider(level)->maximum() - value);
            showSliderTip(level);
        });
    }
    connect(m_butSave, &QPushButton::clicked, this, [this] { (void)m_engine->saveSettings(); });
    connect(m_butClear, &QPushButton::clicked, this, [this] { m_engine->clearSettings(); });
    connect(m_butHelp, &QPushButton::clicked, this, [this] { showMessage(helpMessage()); });
}

void MainWindow::render(ModelChange change, int index) {
    switch (change) {
        case ModelChange::Pair:
            renderPair(index);
            break;
        case ModelChange::Slider:
            renderSlider(static_cast<Level>(index));
            break;
        case ModelChange::Title:
            setWindowTitle(qs(m_engine->title()));
            break;
        case ModelChange::Clock:
            m_txtClock->setText(qs(m_engine->clockText()));
            break;
    }
}

void MainWindow::renderPair(int index) {
    const SettingPair pair = m_engine ? m_engine->pairs()[index] : SettingPair{};
    QColor background = palette().color(QPalette::Base);
    if (pair.colour == PairColour::ButtonFace) {
        background = palette().color(QPalette::Button);
    } else if (pair.colour == PairColour::LightGreen) {
        background = QColor(192, 255, 192);
    }
    const struct {
        MarkBox* box;
        const std::string& text;
    } boxes[] = {{m_txtDown[index], pair.down}, {m_txtUp[index], pair.up}};
    for (const auto& b : boxes) {
        const QSignalBlocker blocker(b.box);
        if (b.box->text() != qs(b.text)) {
            b.box->setText(qs(b.text));
        }
        b.box->setColours(background, palette().color(QPalette::Text));
    }
    const QSignalBlocker blocker(m_chkActive[index]);
    m_chkActive[index]->setCheckState(pair.active == kActive   ? Qt::Checked
                                      : pair.active == kGreyed ? Qt::PartiallyChecked
                                                               : Qt::Unchecked);
}

void MainWindow::renderSlider(Level level) {
    QSlider* control = slider(level);
    const QSignalBlocker blocker(control);
    control->setValue(control->maximum() - m_engine->slider(level).position());
}

// While the thumb is dragged, the slider's text shows beside it, to its left.
void MainWindow::showSliderTip(Level level) {
    QSlider* control = slider(level);
    if (!control->isSliderDown()) {
        return;
    }
    const int y = QStyle::sliderPositionFromValue(control->minimum(), control->maximum(),
                                                  control->value(), control->height(), true);
    QToolTip::showText(control->mapToGlobal(QPoint(-24, y - 8)), qs(m_engine->slider(level).text()),
                       control);
}

QSlider* MainWindow::slider(Level level) const {
    return level == Level::Down ? m_slider1 : m_slider2;
}

void MainWindow::showMessage(const std::string& text) {
    if (m_ending) {
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, kProgramName, qs(text), QMessageBox::Ok, this);
    // Messages quote the settings file: never let its text be read as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool MainWindow::askYesNo(const std::string& question) {
    if (m_ending) {
        return false;
    }
    QMessageBox box(QMessageBox::Question, kProgramName, qs(question),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setTextFormat(Qt::PlainText);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void MainWindow::showWindow() {
    show();
}

void MainWindow::focusDownSlider() {
    m_slider1->setFocus(Qt::OtherFocusReason);
}

void MainWindow::focusFirstControl() {
    m_txtDown[0]->setFocus(Qt::OtherFocusReason);
}

void MainWindow::processPendingEvents() {
    QApplication::processEvents();
}

void MainWindow::restoreUpLevel() {
    if (!m_restored && m_engine) {
        m_restored = true;
        m_engine->unload();
    }
}

void MainWindow::endWithoutAsking() {
    m_ending = true;
    m_closed = true;
    restoreUpLevel();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!m_closed && m_engine) {
        m_closed = true;
        m_engine->queryUnload();
        restoreUpLevel();
    }
    event->accept();
}

void MainWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange && m_engine) {
        m_engine->resize(isMinimized());
    }
    if (event->type() == QEvent::PaletteChange) {
        // The desktop's theme changed: the pairs take its colours.
        for (int i = 0; i < kPairCount; ++i) {
            renderPair(i);
        }
    }
    QWidget::changeEvent(event);
}

void MainWindow::showEvent(QShowEvent* event) {
    if (!m_centred) {
        m_centred = true;
        if (const QScreen* display = screen()) {
            move(display->availableGeometry().center() - rect().center());
        }
    }
    if (m_engine) {
        m_engine->resize(isMinimized());
    }
    QWidget::showEvent(event);
}

}  // namespace hushwell
