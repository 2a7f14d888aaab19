#include "ui/AppIcon.h"

#include <QPainter>
#include <QPainterPath>

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

    QPainterPath speaker;
    speaker.moveTo(10, 24);
    speaker.lineTo(20, 24);
    speaker.lineTo(32, 13);
    speaker.lineTo(32, 51);
    speaker.lineTo(20, 40);
    speaker.lineTo(10, 40);
    speaker.closeSubpath();
    p.setBrush(QColor(0xc0, 0xff, 0xc0));
    p.drawPath(speaker);

    QPainterPath arrow;
    arrow.moveTo(42, 14);
    arrow.lineTo(50, 14);
    arrow.lineTo(50, 36);
    arrow.lineTo(56, 36);
    arrow.lineTo(46, 50);
    arrow.lineTo(36, 36);
    arrow.lineTo(42, 36);
    arrow.closeSubpath();
    p.setBrush(Qt::white);
    p.drawPath(arrow);
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
