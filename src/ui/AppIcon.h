#pragma once

#include <QIcon>
#include <QImage>

namespace hushwell {

// The program's icon: a loudspeaker with a downward arrow, on a rounded tile.
[[nodiscard]] QImage appIconImage(int size);
[[nodiscard]] QIcon appIcon();

// The program's icon for a panel, telling the level in force: UP on the program's green tile with
// the arrow turned up, DOWN on an amber tile with the arrow down. Both tiles carry a light rim so
// that they stand apart from a dark panel as well as from a light one.
enum class IconLevel { Up, Down };
[[nodiscard]] QImage levelIconImage(int size, IconLevel level);
[[nodiscard]] QIcon levelIcon(IconLevel level);

}  // namespace hushwell
