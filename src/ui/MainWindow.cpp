#include "ui/MainWindow.h"

#include <QApplication>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>

#include "ui/AppIcon.h"
#include "ui/HelpText.h"
#include "ui/Layout.h"
#include "ui/MarkBox.h"
#include "ui/PairColumn.h"
#include "ui/WindowStatus.h"

namespace hushwell {

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
    renderPairs();
}

void MainWindow::attach(Core& core) {
    m_core = &core;
    core.model.setListener([this](Model::Change change, int index) { render(change, index); });
    renderPairs();
    connectInput();
    connect(&m_ticker, &SecondTicker::tick, this, [this](const TimeOfDay& now) {
        const std::string text = m_core->tick.runAndTellTime(now);
        showTime(text);
        emit ticked(QString::fromStdString(text));
    });
    // However the application quits (the end of the desktop session included), the Up level is
    // put back before it ends.
    connect(qApp, &QCoreApplication::aboutToQuit, this,
            [this] { m_core->shutDown.restoreUpLevel(); });
    m_ticker.start();
}

void MainWindow::connectInput() {
    Editor& editor = m_core->editor;
    for (int i = 0; i < kPairCount; ++i) {
        const PairColumn* column = m_pairColumns[i];
        connect(column, &PairColumn::markEdited, this,
                [&editor, i](Level row, const QString& text) {
                    editor.editMark(row, i, text.toStdString());
                });
        connect(column, &PairColumn::stampRequested, this,
                [&editor, i](Level row) { editor.stampMark(row, i); });
        connect(column, &PairColumn::moveOnRequested, this,
                [&editor, i](Level row) { editor.moveMarkOn(row, i); });
        connect(column, &PairColumn::toggleRequested, this, [&editor, i] { editor.togglePair(i); });
    }
    for (Level level : {Level::Down, Level::Up}) {
        // Positions the program sets are made with signals blocked, so this is the user.
        connect(slider(level), &QSlider::valueChanged, this,
                [&editor, level](int value) { editor.setLevel(level, value); });
    }
    connect(m_saveButton, &QPushButton::clicked, this, [&editor] { (void)editor.save(); });
    connect(m_clearButton, &QPushButton::clicked, this, [&editor] { editor.clearSchedule(); });
    connect(m_helpButton, &QPushButton::clicked, this, [this] { showMessage(helpMessage()); });
}

void MainWindow::render(Model::Change change, int index) {
    if (change == Model::Change::Pair) {
        renderPair(index);
    } else if (change == Model::Change::Level) {
        renderLevel(static_cast<Level>(index));
    } else {
        const WindowStatus status = windowStatus(m_core->model);
        setWindowTitle(QString::fromStdString(status.title));
        setEnabled(status.takesEdits);
    }
}

// Before the core is attached, the pairs that a new model holds.
void MainWindow::renderPairs() {
    for (int i = 0; i < kPairCount; ++i) {
        renderPair(i);
    }
}

void MainWindow::renderPair(int index) {
    m_pairColumns[index]->showPair(m_core ? m_core->model.pairs()[index] : SettingPair{},
                                   palette());
}

// The slider's value is the level; the thumb the user is dragging already stands there.
void MainWindow::renderLevel(Level level) {
    const QSignalBlocker blocker(slider(level));
    slider(level)->setValue(m_core->model.level(level));
}

// The clock runs while the window can be seen; minimized, it keeps its last text.
void MainWindow::showTime(const std::string& now) {
    if (isVisible() && !isMinimized()) {
        m_clockBox->setText(QString::fromStdString(now));
    }
}

void MainWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) {
        renderPairs();  // the desktop's theme changed: the pairs take its colours
    }
    QWidget::changeEvent(event);
}

}  // namespace hushwell
