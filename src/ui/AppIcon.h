#pragma once

#include <QIcon>
#include <QImage>

namespace hushwell {

// The program's icon: a loudspeaker with a downward arrow, on a rounded tile.
[[nodiscard]] QImage appIconImage(int size);
[[nodiscard]] QIcon appIcon();

}  // namespace hushwell
