#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>

#include "platform/Level.h"

namespace hushwell {

// The program's icon: a loudspeaker with a downward arrow, on a rounded tile.
[[nodiscard]] QImage appIconImage(int size);
[[nodiscard]] QIcon appIcon();

// The program's icon for a panel, telling the level in force: UP a light green disc with the arrow
// turned up, DOWN a dark amber square with the arrow down; each tile carries a rim of the other
// lightness, so that it stands apart from a dark panel as well as from a light one.
[[nodiscard]] QColor levelTile(Level level);
[[nodiscard]] QImage levelIconImage(int size, Level level);
[[nodiscard]] QIcon levelIcon(Level level);

}  // namespace hushwell
