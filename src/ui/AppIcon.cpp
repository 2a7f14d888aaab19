#include "ui/AppIcon.h"

#include <QPainter>
#include <QPolygonF>
#include <functional>
#include <initializer_list>

namespace hushwell {
namespace {

constexpr QColor kGreenTile(0x2e, 0x7d, 0x32);
constexpr QColor kSpeaker(0xc0, 0xff, 0xc0);

// How one icon is drawn. The two level icons differ in lightness and in shape, not in hue alone:
// told apart with red-green colour blindness too, and on a grey panel.
struct IconStyle {
    QColor tile;
    QColor glyph;  // the loudspeaker
    QColor arrow;
    QColor rim;  // none when transparent
    bool round = false;
    bool arrowUp = false;
};

// The icon on a 64-unit grid: the tile, the loudspeaker and the arrow beside it.
QImage paintIcon(int size, const IconStyle& style) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);

    if (style.rim.alpha() > 0) {
        p.setPen(QPen(style.rim, 3));
    } else {
        p.setPen(Qt::NoPen);
    }
    p.setBrush(style.tile);
    if (style.round) {
        p.drawEllipse(QRectF(2, 2, 60, 60));
    } else {
        p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
    }

    p.setPen(Qt::NoPen);
    p.setBrush(style.glyph);
    p.drawPolygon(QPolygonF({{10, 24}, {20, 24}, {32, 13}, {32, 51}, {20, 40}, {10, 40}}));
    p.setBrush(style.arrow);
    QPolygonF arrow({{42, 14}, {50, 14}, {50, 36}, {56, 36}, {46, 50}, {36, 36}, {42, 36}});
    if (style.arrowUp) {
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
    return paintIcon(size, {kGreenTile, kSpeaker, Qt::white, Qt::transparent, false, false});
}

QIcon appIcon() {
    return iconOf(appIconImage, {16, 32, 48, 64});
}

QColor levelTile(Level level) {
    return level == Level::Down ? QColor(0x8a, 0x2d, 0x00) : QColor(0xc8, 0xe6, 0xc9);
}

QImage levelIconImage(int size, Level level) {
    // UP: a light disc with dark marks, outlined dark; DOWN: a dark square with light marks,
    // outlined light. Each outline keeps its tile apart from a panel as light or dark as it.
    static const IconStyle up{levelTile(Level::Up),
                              QColor(0x1b, 0x5e, 0x20),
                              QColor(0x1b, 0x5e, 0x20),
                              QColor(0x1b, 0x5e, 0x20, 220),
                              true,
                              true};
    static const IconStyle down{levelTile(Level::Down),
                                QColor(0xff, 0xd5, 0xb0),
                                Qt::white,
                                QColor(255, 255, 255, 200),
                                false,
                                false};
    return paintIcon(size, level == Level::Down ? down : up);
}

QIcon levelIcon(Level level) {
    // Panels ask for 16 to 24 pixels, at twice that on high-density screens.
    return iconOf([level](int size) { return levelIconImage(size, level); },
                  {16, 22, 24, 32, 44, 48, 64});
}

}  // namespace hushwell
