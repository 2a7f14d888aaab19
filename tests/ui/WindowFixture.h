#pragma once

#include <gtest/gtest.h>

#include <QMessageBox>
#include <QTimer>
#include <deque>
#include <memory>

#include "settings/FileSettingsStore.h"
#include "settings/SettingsFile.h"
#include "support/FakeVolume.h"
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

// The real window on the core, with an in-memory volume, a clock the test sets and a settings file
// in a fresh folder. Message boxes are answered from `answers` as they appear (OK or No once the
// list runs out) and recorded in `boxes`.
class WindowTest : public ::testing::Test {
protected:
    WindowTest();
    ~WindowTest() override;

    void start();  // runs start-up and waits for the window to be active
    void tick();   // a tick of the window's second ticker
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

    FakeVolume volume;
    FakeClock clock;
    TempDir dir;
    FileSettingsStore store;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<Core> core;
    std::deque<QMessageBox::StandardButton> answers;
    std::vector<SeenBox> boxes;

private:
    void answerOpenBox();
    QTimer m_answerer;
};

}  // namespace hushwell::testing
