// The window's life: shown, brought to the front, closed; and the message boxes the core asks for.

#include <QApplication>
#include <QCloseEvent>
#include <QMessageBox>
#include <QScreen>
#include <QSlider>

#include "ui/MainWindow.h"
#include "ui/MarkBox.h"
#include "ui/PairColumn.h"

namespace hushwell {
namespace {

// A modal box titled with the program's name. Messages quote the settings file: their text is
// never read as markup.
QMessageBox::StandardButton runBox(QWidget* parent, QMessageBox::Icon icon, const std::string& text,
                                   QMessageBox::StandardButtons buttons,
                                   QMessageBox::StandardButton escape) {
    QMessageBox box(icon, kProgramName, QString::fromStdString(text), buttons, parent);
    box.setTextFormat(Qt::PlainText);
    box.setEscapeButton(escape);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace

void MainWindow::showMessage(const std::string& text) {
    if (!ending()) {
        (void)runBox(this, QMessageBox::NoIcon, text, QMessageBox::Ok, QMessageBox::Ok);
    }
}

bool MainWindow::askYesNo(const std::string& question) {
    return !ending() &&
           runBox(this, QMessageBox::Question, question, QMessageBox::Yes | QMessageBox::No,
                  QMessageBox::No) == QMessageBox::Yes;
}

void MainWindow::showWindow() {
    show();
    slider(Level::Down)->setFocus(Qt::OtherFocusReason);
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

void MainWindow::closeEvent(QCloseEvent* event) {
    if (m_core && m_core->shutDown.beginClose()) {
        m_core->editor.queryClose();
        // What the question held back runs before the window goes.
        QApplication::processEvents();
        m_core->shutDown.restoreUpLevel();
    }
    event->accept();
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
        m_pairColumns[0]->markBox(Level::Down)->setFocus(Qt::OtherFocusReason);
    }
    QWidget::showEvent(event);
}

}  // namespace hushwell
