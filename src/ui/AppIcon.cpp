#include "ui/AppIcon.h"

#include <QPainter>
#include <QPolygonF>
#include <functional>
#include <initializer_list>

namespace hushwell {
namespace {

constexpr QColor kGreenTile(0x2e, 0x7d, 0x32);
constexpr QColor kAmberTile(0xb2, 0x4a, 0x00);

// The icon on a 64-unit grid: the tile, the loudspeaker and the arrow beside it.
QImage paintIcon(int size, const QColor& tile, bool arrowUp, bool rim) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);

    if (rim) {
        p.setPen(QPen(QColor(255, 255, 255, 200), 3));
    } else {
        p.setPen(Qt::NoPen);
    }
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xc0, 0xff, 0xc0));
    p.drawPolygon(QPolygonF({{10, 24}, {20, 24}, {32, 13}, {32, 51}, {20, 40}, {10, 40}}));
    p.setBrush(Qt::white);
    QPolygonF arrow({{42, 14}, {50, 14}, {50, 36}, {56, 36}, {46, 50}, {36, 36}, {42, 36}});
    if (arrowUp) {
        for (QPointF& point : arrow) {
            point.setY(64 - point.y());
        }
    }
    p.drawPolygon(arrow);
    return image;
}

QIcon iconOf(const std::function<QImage(int)>& image, std::initializer_list<int> sizes) {
    QIcon icon;
    for (int size : sizes) {
        icon.addPixmap(QPixmap::fromImage(image(size)));
    }
    return icon;
}

}  // namespace

QImage appIconImage(int size) {
    return paintIcon(size, kGreenTile, false, false);
}

QIcon appIcon() {
    return iconOf(appIconImage, {16, 32, 48, 64});
}

QImage levelIconImage(int size, IconLevel level) {
    return level == IconLevel::Down ? paintIcon(size, kAmberTile, false, true)
                                    : paintIcon(size, kGreenTile, true, true);
}

QIcon levelIcon(IconLevel level) {
    // Panels ask for 16 to 24 pixels, at twice that on high-density screens.
    return iconOf([level](int size) { return levelIconImage(size, level); },
                  {16, 22, 24, 32, 44, 48, 64});
}

}  // namespace hushwell
