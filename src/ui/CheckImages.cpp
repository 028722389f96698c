#include "ui/CheckImages.h"

#include <QPainter>
#include <QPainterPath>

QPixmap CheckImage(int index, qreal devicePixelRatio, const TMgTheme& theme)
{
    // Drawn rather than loaded, so the box stays crisp at every scale factor.
    const bool checked = index % 2 == 1;
    const bool hot = index >= 2;
    QPixmap pixmap(QSize(kCheckImageWidth, kCheckImageHeight) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF box(3.5, 2.5, 14, 13);
    p.setPen(QPen(hot ? theme.checkBorderHot : theme.checkBorder, 1.2));
    p.setBrush(hot ? theme.checkFillHot : theme.checkFill);
    p.drawRoundedRect(box, 2.5, 2.5);
    if (checked) {
        QPainterPath tick;
        tick.moveTo(6.5, 9.0);
        tick.lineTo(9.5, 12.0);
        tick.lineTo(15.0, 5.5);
        p.setPen(QPen(theme.checkTick, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(tick);
    }
    return pixmap;
}
