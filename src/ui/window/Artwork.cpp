#include "ui/window/Artwork.h"

#include <QPainter>
#include <QPainterPath>

namespace artwork {

namespace {
void drawCamera(QPainter &p, const QRectF &r, const QColor &body)
{
    const double w = r.width(), h = r.height();
    QPainterPath path;
    path.addRoundedRect(QRectF(r.left() + w * 0.12, r.top() + h * 0.3, w * 0.76, h * 0.52), w * 0.05,
                        w * 0.05);
    path.addRect(QRectF(r.left() + w * 0.36, r.top() + h * 0.2, w * 0.26, h * 0.12));
    p.setPen(Qt::NoPen);
    p.setBrush(body);
    p.drawPath(path);
    p.setBrush(Qt::white);
    const QPointF c(r.left() + w * 0.5, r.top() + h * 0.56);
    p.drawEllipse(c, h * 0.19, h * 0.19);
    p.setBrush(body);
    p.drawEllipse(c, h * 0.13, h * 0.13);
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(r.left() + w * 0.74, r.top() + h * 0.36, w * 0.07, h * 0.07));
}
} // namespace

QIcon windowIcon()
{
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(0x1f, 0x5f, 0xbf));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(0, 0, 32, 32), 5, 5);
    drawCamera(p, QRectF(1, 1, 30, 30), QColor(0xf0, 0xf0, 0xf0));
    p.end();
    return QIcon(pm);
}

QPixmap arrow(bool right, bool enabled)
{
    QPixmap pm(43, 28);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(enabled ? QColor(0x20, 0x50, 0xd0) : QColor(0xa0, 0xa0, 0xa0));
    QPolygonF shape;
    shape << QPointF(2, 9) << QPointF(24, 9) << QPointF(24, 1) << QPointF(41, 14) << QPointF(24, 27)
          << QPointF(24, 19) << QPointF(2, 19);
    if (!right) {
        for (QPointF &pt : shape)
            pt.setX(43 - pt.x());
    }
    p.drawPolygon(shape);
    return pm;
}

QPixmap placeholder()
{
    QPixmap pm(151, 104);
    pm.fill(Qt::white);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    drawCamera(p, QRectF(20, 6, 111, 92), QColor(0x9a, 0x9a, 0x9a));
    return pm;
}

} // namespace artwork
