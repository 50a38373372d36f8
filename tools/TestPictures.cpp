#include "TestPictures.h"

#include <QDir>
#include <QImage>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRandomGenerator>
#include <QtConcurrent/QtConcurrentMap>

namespace testpics {

bool writePhoto(const QString &path, QSize size, int seed, int quality)
{
    QImage img(size, QImage::Format_RGB32);
    QRandomGenerator rng(quint32(seed) * 2654435761u + 1);
    QPainter p(&img);
    const double w = size.width(), h = size.height();
    const int hue = int(rng.bounded(360));
    QLinearGradient sky(0, 0, 0, h * 0.6);
    sky.setColorAt(0, QColor::fromHsv(hue, 120, 250));
    sky.setColorAt(1, QColor::fromHsv((hue + 30) % 360, 60, 200));
    p.fillRect(img.rect(), sky);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 230, 120));
    p.drawEllipse(QPointF(w * (0.2 + rng.bounded(0.6)), h * 0.2), h * 0.08, h * 0.08);
    for (int layer = 0; layer < 3; ++layer) {
        QPainterPath hills;
        hills.moveTo(0, h);
        const double base = h * (0.5 + 0.12 * layer);
        for (int x = 0; x <= 8; ++x)
            hills.lineTo(w * x / 8.0, base - rng.bounded(h * 0.15));
        hills.lineTo(w, h);
        hills.closeSubpath();
        p.setBrush(QColor::fromHsv((hue + 90 + 20 * layer) % 360, 140, 160 - 35 * layer));
        p.drawPath(hills);
    }
    for (int i = 0; i < 12; ++i) {
        p.setBrush(QColor::fromHsv(int(rng.bounded(360)), 160, 220, 160));
        const double r = h * (0.01 + rng.bounded(0.04));
        p.drawEllipse(QPointF(rng.bounded(w), h * 0.6 + rng.bounded(h * 0.4)), r, r);
    }
    p.end();
    QImageWriter writer(path, "jpeg");
    writer.setQuality(quality);
    return writer.write(img);
}

QStringList demoNames(int count)
{
    QStringList names;
    for (int i = 0; i < count; ++i) {
        switch (i % 6) {
        case 0:
            names << QStringLiteral("IMG_%1.JPG").arg(4711 + i, 4, 10, QLatin1Char('0'));
            break;
        case 1:
            names << QStringLiteral("DSC%1.jpg").arg(1200 + i * 3, 5, 10, QLatin1Char('0'));
            break;
        case 2:
            names << QStringLiteral("Urlaub %1.jpg").arg(i);
            break;
        case 3:
            names << QStringLiteral("PXL_20230712_%1.jpg").arg(101000 + i * 17);
            break;
        case 4:
            names << QStringLiteral("Strand Rügen_%1.jpg").arg(i);
            break;
        default:
            names << QStringLiteral("img_%1.jpg").arg(i);
            break;
        }
    }
    return names;
}

QStringList makeDemoSet(const QString &dir, int count)
{
    QDir().mkpath(dir);
    const QStringList names = demoNames(count);
    static const QSize sizes[] = {{3264, 2448}, {2592, 1944}, {1944, 2592}, {4000, 3000}, {2048, 1536}};
    QList<int> indexes;
    for (int i = 0; i < count; ++i)
        indexes << i;
    QtConcurrent::blockingMap(indexes, [&](int i) {
        writePhoto(QDir(dir).filePath(names[i]), sizes[i % 5], i);
    });
    return names;
}

} // namespace testpics
