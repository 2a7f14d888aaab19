#include "ui/AppIcon.h"

#include <QPainter>
#include <QPolygonF>

namespace hushwell {

QImage appIconImage(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x2e, 0x7d, 0x32));
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);

    // A loudspeaker, and an arrow pointing down beside it.
    p.setBrush(QColor(0xc0, 0xff, 0xc0));
    p.drawPolygon(QPolygonF({{10, 24}, {20, 24}, {32, 13}, {32, 51}, {20, 40}, {10, 40}}));
    p.setBrush(Qt::white);
    p.drawPolygon(
        QPolygonF({{42, 14}, {50, 14}, {50, 36}, {56, 36}, {46, 50}, {36, 36}, {42, 36}}));
    return image;
}

QIcon appIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64}) {
        icon.addPixmap(QPixmap::fromImage(appIconImage(size)));
    }
    return icon;
}

}  // namespace hushwell
