#include "ui/window/Artwork.h"

#include <QPainter>
#include <QPainterPath>

namespace artwork {

namespace {
// The camera's shapes in a box, as fractions of its width and height. drawCamera
// paints them and iconSvg writes them out, so the installed vector icon is the
// program's own drawing.
struct Camera {
    QRectF body; // with rounded corners
    double bodyRadius;
    QRectF viewfinder; // overlaps the body's top edge, which the odd-even fill leaves open
    QPointF lensCentre;
    double ringRadius; // white, around the lens
    double lensRadius; // body colour
    QRectF flash;      // white
};

Camera cameraIn(const QRectF &r)
{
    const double w = r.width(), h = r.height();
    return {QRectF(r.left() + w * 0.12, r.top() + h * 0.3, w * 0.76, h * 0.52),
            w * 0.05,
            QRectF(r.left() + w * 0.36, r.top() + h * 0.2, w * 0.26, h * 0.12),
            QPointF(r.left() + w * 0.5, r.top() + h * 0.56),
            h * 0.19,
            h * 0.13,
            QRectF(r.left() + w * 0.74, r.top() + h * 0.36, w * 0.07, h * 0.07)};
}

void drawCamera(QPainter &p, const QRectF &r, const QColor &body)
{
    const Camera c = cameraIn(r);
    QPainterPath path;
    path.addRoundedRect(c.body, c.bodyRadius, c.bodyRadius);
    path.addRect(c.viewfinder);
    p.setPen(Qt::NoPen);
    p.setBrush(body);
    p.drawPath(path);
    p.setBrush(Qt::white);
    p.drawEllipse(c.lensCentre, c.ringRadius, c.ringRadius);
    p.setBrush(body);
    p.drawEllipse(c.lensCentre, c.lensRadius, c.lensRadius);
    p.setBrush(Qt::white);
    p.drawEllipse(c.flash);
}

// The icon, in the units of the 32 x 32 window icon: a blue rounded square and
// the light camera inside it, one unit in from the edge.
constexpr double IconUnits = 32;
constexpr double IconCornerRadius = 5;
const QRectF IconCameraBox(1, 1, 30, 30);
const QColor IconBlue(0x1f, 0x5f, 0xbf);
const QColor IconCameraColour(0xf0, 0xf0, 0xf0);

QByteArray svgNumber(double v)
{
    return QByteArray::number(v, 'g', 6);
}

QByteArray svgColour(const QColor &c)
{
    return c.name().toLatin1();
}
} // namespace

QImage iconImage(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / IconUnits, size / IconUnits);
    p.setBrush(IconBlue);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(0, 0, IconUnits, IconUnits), IconCornerRadius, IconCornerRadius);
    drawCamera(p, IconCameraBox, IconCameraColour);
    p.end();
    return image;
}

QIcon windowIcon()
{
    return QIcon(QPixmap::fromImage(iconImage(32)));
}

QByteArray iconSvg()
{
    constexpr double Size = 256, Scale = Size / IconUnits;
    const Camera c = cameraIn(QRectF(IconCameraBox.topLeft() * Scale, IconCameraBox.size() * Scale));
    const auto n = svgNumber;
    const auto point = [&](double x, double y) { return n(x) + "," + n(y); };
    // The body and the viewfinder are one path with the painter's odd-even fill.
    const QRectF &b = c.body, &v = c.viewfinder;
    const double k = c.bodyRadius;
    const QByteArray corner = " A" + n(k) + "," + n(k) + " 0 0 1 ";
    const QByteArray camera = "M" + point(b.left() + k, b.top()) + " H" + n(b.right() - k) + corner +
                              point(b.right(), b.top() + k) + " V" + n(b.bottom() - k) + corner +
                              point(b.right() - k, b.bottom()) + " H" + n(b.left() + k) + corner +
                              point(b.left(), b.bottom() - k) + " V" + n(b.top() + k) + corner +
                              point(b.left() + k, b.top()) + " Z M" + point(v.left(), v.top()) + " H" +
                              n(v.right()) + " V" + n(v.bottom()) + " H" + n(v.left()) + " Z";
    const auto ellipse = [&](const QPointF &centre, double rx, double ry, const QColor &fill) {
        return "  <ellipse cx=\"" + n(centre.x()) + "\" cy=\"" + n(centre.y()) + "\" rx=\"" + n(rx) +
               "\" ry=\"" + n(ry) + "\" fill=\"" + svgColour(fill) + "\"/>\n";
    };
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
           n(Size) + "\" height=\"" + n(Size) + "\" viewBox=\"0 0 " + n(Size) + " " + n(Size) + "\">\n" +
           "  <rect width=\"" + n(Size) + "\" height=\"" + n(Size) + "\" rx=\"" +
           n(IconCornerRadius * Scale) + "\" fill=\"" + svgColour(IconBlue) + "\"/>\n" +
           "  <path fill-rule=\"evenodd\" fill=\"" + svgColour(IconCameraColour) + "\" d=\"" + camera +
           "\"/>\n" + ellipse(c.lensCentre, c.ringRadius, c.ringRadius, Qt::white) +
           ellipse(c.lensCentre, c.lensRadius, c.lensRadius, IconCameraColour) +
           ellipse(c.flash.center(), c.flash.width() / 2, c.flash.height() / 2, Qt::white) + "</svg>\n";
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
