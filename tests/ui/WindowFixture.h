#pragma once

#include <gtest/gtest.h>

#include <QMessageBox>
#include <QTimer>
#include <deque>
#include <memory>

#include "mixer/MemoryMixer.h"
#include "support/Fakes.h"
#include "ui/MainWindow.h"

namespace hushwell::testing {

// What a message box showed.
struct SeenBox {
    QString title;
    QString text;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    Qt::TextFormat format;
};

// The real window on the core, with an in-memory mixer, a clock the test sets and a settings file
// in a fresh folder. Message boxes are answered from `answers` as they appear (OK or No once the
// list runs out) and recorded in `boxes`.
class WindowTest : public ::testing::Test {
protected:
    WindowTest();
    ~WindowTest() override;

    void start();  // runs start-up and waits for the window to be active
    [[nodiscard]] std::filesystem::path settingsFile() const {
        return dir.path() / kSettingsFileName;
    }
    template <typename T>
    T* find(const QString& name) const {
        T* widget = window->findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name.toStdString();
        return widget;
    }
    [[nodiscard]] QString focusedName() const;

    MemoryMixer mixer;
    FakeClock clock;
    TempDir dir;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<Hushwell> engine;
    std::deque<QMessageBox::StandardButton> answers;
    std::vector<SeenBox> boxes;

private:
    void answerOpenBox();
    QTimer m_answerer;
};

}  // namespace hushwell::testing
