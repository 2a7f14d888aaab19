#pragma once

#include <QColor>

namespace hushwell {

// WCAG 2 contrast ratio of two colours, from 1 (the same) to 21 (black on white).
[[nodiscard]] double contrastRatio(const QColor& a, const QColor& b);

// A text colour legible on `background` (WCAG AA, 4.5:1): `preferred` (the theme's) where it is,
// otherwise black or white, whichever stands out more.
[[nodiscard]] QColor readableOn(const QColor& background, const QColor& preferred);

}  // namespace hushwell
