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
      m_ticker(clock, this) {
    setObjectName("Form1");
    setWindowTitle(kProgramName);
    setWindowIcon(appIcon());
    setFixedSize(layout::px(layout::kClientWidth), layout::px(layout::kClientHeight));
    buildControls();
}

void MainWindow::attach(Core& core) {
    m_core = &core;
    core.model.setListener([this](Model::Change change, int index) { render(change, index); });
    for (int i = 0; i < kPairCount; ++i) {
        renderPair(i);
    }
    connectInput();
    connect(&m_ticker, &SecondTicker::tick, this, [this] { showTime(m_core->tick.run()); });
    // However the application quits (the end of the desktop session included), the Up level is
    // put back before it ends.
    connect(qApp, &QCoreApplication::aboutToQuit, this,
            [this] { m_core->shutDown.restoreUpLevel(); });
    m_ticker.start();
}

void MainWindow::connectInput() {
    Editor& editor = m_core->editor;
    for (int i = 0; i < kPairCount; ++i) {
        for (Row row : {Row::Down, Row::Up}) {
            MarkBox* box = row == Row::Down ? m_txtDown[i] : m_txtUp[i];
            SetButton* set = row == Row::Down ? m_butsetDown[i] : m_butsetUp[i];
            connect(box, &QLineEdit::textChanged, this, [&editor, row, i](const QString& text) {
                editor.editMark(row, i, text.toStdString());
            });
            // The left button stamps the time, any other moves the mark on; the left button's
            // click and the keyboard's stamp it too.
            connect(set, &SetButton::released, this, [&editor, row, i](Qt::MouseButton button) {
                if (button == Qt::LeftButton) {
                    editor.stampMark(row, i);
                } else {
                    editor.moveMarkOn(row, i);
                }
            });
            connect(set, &QPushButton::clicked, this,
                    [&editor, row, i] { editor.stampMark(row, i); });
        }
        connect(m_chkActive[i], &ActiveBox::toggledByUser, this,
                [&editor, i] { editor.togglePair(i); });
    }
    for (Level level : {Level::Down, Level::Up}) {
        // Positions the program sets are made with signals blocked, so this is the user.
        connect(slider(level), &QSlider::valueChanged, this, [this, &editor, level](int value) {
            editor.setLevel(level, value);
            showSliderTip(level);
        });
    }
    connect(m_butSave, &QPushButton::clicked, this, [&editor] { (void)editor.save(); });
    connect(m_butClear, &QPushButton::clicked, this, [&editor] { editor.clearSchedule(); });
    connect(m_butHelp, &QPushButton::clicked, this, [this] { showMessage(helpMessage()); });
}

void MainWindow::render(Model::Change change, int index) {
    switch (change) {
        case Model::Change::Pair:
            renderPair(index);
            break;
        case Model::Change::Level:
            renderSlider(static_cast<Level>(index));
            break;
        case Model::Change::Sent:
            renderTitle();
            break;
    }
}

// A pair's boxes: light green while it holds the volume down since the schedule lowered it, the
// window background while it is on, the button face otherwise.
void MainWindow::renderPair(int index) {
    const SettingPair pair = m_core ? m_core->model.pairs()[index] : SettingPair{};
    QColor fill = palette().color(pair.state == PairState::On ? QPalette::Base : QPalette::Button);
    if (pair.heldDown) {
        fill = QColor(192, 255, 192);
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
        b.box->setColours(fill, palette().color(QPalette::Text));
    }
    const QSignalBlocker blocker(m_chkActive[index]);
    m_chkActive[index]->setCheckState(pair.state == PairState::On       ? Qt::Checked
                                      : pair.state == PairState::Greyed ? Qt::PartiallyChecked
                                                                        : Qt::Unchecked);
}

// The slider's value is the level; the thumb the user is dragging already stands there.
void MainWindow::renderSlider(Level level) {
    QSlider* control = slider(level);
    const QSignalBlocker blocker(control);
    control->setValue(m_core->model.level(level));
}

// The level last sent to the mixer; the program's name until one was.
void MainWindow::renderTitle() {
    const std::optional<Level> sent = m_core->model.lastSent();
    setWindowTitle(!sent ? kProgramName : *sent == Level::Down ? "DOWN" : "UP");
}

// The clock runs while the window can be seen; minimized, it keeps its last text.
void MainWindow::showTime(const std::string& now) {
    if (isVisible() && !isMinimized()) {
        m_txtClock->setText(qs(now));
    }
}

// While the thumb is dragged, the level shows beside it, to its left.
void MainWindow::showSliderTip(Level level) {
    QSlider* control = slider(level);
    if (!control->isSliderDown()) {
        return;
    }
    const int y = QStyle::sliderPositionFromValue(control->minimum(), control->maximum(),
                                                  control->value(), control->height(), true);
    QToolTip::showText(control->mapToGlobal(QPoint(-24, y - 8)),
                       QString::number(m_core->model.level(level)), control);
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
    m_slider1->setFocus(Qt::OtherFocusReason);
}

void MainWindow::bringToFront() {
    if (isMinimized()) {
        showNormal();
    }
    show();
    raise();
    activateWindow();
    if (QWidget* box = QApplication::activeModalWidget()) {
        box->raise();
        box->activateWindow();
    }
}

void MainWindow::endWithoutAsking() {
    m_ending = true;
    m_closed = true;
    m_core->shutDown.restoreUpLevel();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!m_closed && m_core) {
        m_closed = true;
        m_core->editor.queryClose();
        // What the question held back runs before the window goes.
        QApplication::processEvents();
        m_core->shutDown.restoreUpLevel();
    }
    event->accept();
}

void MainWindow::changeEvent(QEvent* event) {
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
    // Shown before start-up could set a focus (the mixer would not open): the first control of
    // the Tab order takes it.
    if (focusWidget() == nullptr) {
        m_txtDown[0]->setFocus(Qt::OtherFocusReason);
    }
    QWidget::showEvent(event);
}

}  // namespace hushwell
