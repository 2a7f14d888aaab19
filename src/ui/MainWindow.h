#pragma once

#include <QWidget>
#include <array>

#include "engine/Core.h"
#include "ui/SecondTicker.h"

class QPushButton;
class QSlider;

namespace hushwell {

class MarkBox;
class PairColumn;

// The program's one window, Form1. It shows the core's model and turns what the user does into
// the core's commands; no rule of the program lives here. Controls carry the object names of the
// layout ("txtDown3", "butsetUp0", "Slider1", ...), by which tests and screen readers find them.
class MainWindow final : public QWidget, public UserInterface {
    Q_OBJECT
public:
    explicit MainWindow(const Clock& clock, QWidget* parent = nullptr);

    // Connects the window to the core and starts the one-second tick.
    void attach(Core& core);
    // Shows the window above the others, restored if it was minimized, with a message box that
    // is open on top of it.
    void bringToFront();

    void showMessage(const std::string& text) override;
    [[nodiscard]] bool askYesNo(const std::string& question) override;
    void showWindow() override;

signals:
    // After each tick, with its time text.
    void ticked(const QString& now);

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void buildControls();
    void buildSliders();
    void setTabOrder();
    void connectInput();
    void render(Model::Change change, int index);
    void renderPairs();
    void renderPair(int index);
    void renderLevel(Level level);
    void showTime(const std::string& now);
    [[nodiscard]] QSlider* slider(Level level) const { return m_sliders[static_cast<int>(level)]; }
    [[nodiscard]] bool ending() const { return m_core != nullptr && m_core->shutDown.ending(); }

    Core* m_core = nullptr;
    SecondTicker m_ticker;
    bool m_centred = false;

    std::array<PairColumn*, kPairCount> m_pairColumns{};
    MarkBox* m_clockBox = nullptr;
    std::array<QSlider*, 2> m_sliders{};  // by Level
    QPushButton* m_saveButton = nullptr;
    QPushButton* m_clearButton = nullptr;
    QPushButton* m_helpButton = nullptr;
};

}  // namespace hushwell
