#pragma once

#include <QRect>

namespace hushwell::layout {

// Positions and sizes are designed in twips, 1/1440 inch: 15 twips make one pixel at 96 dots per
// inch. Qt scales the pixels for other resolutions.
constexpr int px(int twips) {
    return (twips + 7) / 15;
}
constexpr QRect twips(int left, int top, int width, int height) {
    return {px(left), px(top), px(width), px(height)};
}

constexpr int kClientWidth = 7740;
constexpr int kClientHeight = 2925;

// Left edge of the pair grid's column `i`.
constexpr int column(int i) {
    return 1080 + 600 * i;
}

}  // namespace hushwell::layout
