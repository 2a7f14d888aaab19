#pragma once

#include <string>

namespace hushwell {

// The two level sliders: Slider1 sets the Down level, Slider2 the Up level.
enum class Level { Down, Up };

// A vertical slider as the program sees it: position 0 at the top, so the level it stands for is
// maximum - position. The text is the level it last showed, empty until first set.
class Slider {
public:
    explicit Slider(int position) : m_position(position) {}

    [[nodiscard]] int minimum() const { return m_minimum; }
    [[nodiscard]] int maximum() const { return m_maximum; }
    [[nodiscard]] int position() const { return m_position; }
    [[nodiscard]] const std::string& text() const { return m_text; }

    // Like the control, keeps the position within minimum..maximum.
    void setPosition(int position);
    void setText(std::string text) { m_text = std::move(text); }

private:
    int m_minimum = 0;
    int m_maximum = 100;
    int m_position;
    std::string m_text;
};

}  // namespace hushwell
