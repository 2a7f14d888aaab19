#include "ui/WindowFixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTest>

#include "ui/SecondTicker.h"

namespace hushwell::testing {

WindowTest::WindowTest() : store(SettingsLocation::at(dir.path() / kSettingsFileName)) {
    window = std::make_unique<MainWindow>(clock);
    core = std::make_unique<Core>(volume, clock, *window, store);
    window->attach(*core);
    m_answerer.setInterval(5);
    QObject::connect(&m_answerer, &QTimer::timeout, [this] { answerOpenBox(); });
    m_answerer.start();
}

WindowTest::~WindowTest() {
    m_answerer.stop();
    window.reset();
    core.reset();
}

void WindowTest::start() {
    (void)core->startUp();
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
}

void WindowTest::tick() {
    emit window->findChild<SecondTicker*>()->tick(clock.time);
}

void WindowTest::answerOpenBox() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) {
        return;
    }
    boxes.push_back(
        {box->windowTitle(), box->text(), box->icon(), box->standardButtons(), box->textFormat()});
    QMessageBox::StandardButton answer = QMessageBox::NoButton;
    if (!answers.empty()) {
        answer = answers.front();
        answers.pop_front();
    } else {
        answer =
            box->standardButtons().testFlag(QMessageBox::Ok) ? QMessageBox::Ok : QMessageBox::No;
    }
    box->button(answer)->click();
}

QString WindowTest::focusedName() const {
    const QWidget* focused = QApplication::focusWidget();
    return focused != nullptr ? focused->objectName() : QString("(none)");
}

}  // namespace hushwell::testing
