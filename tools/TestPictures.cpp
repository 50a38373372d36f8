#include "TestPictures.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRandomGenerator>
#include <QtConcurrent/QtConcurrentMap>

namespace testpics {

namespace {

QImage photo(QSize size, int seed)
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
    return img;
}

// Film-like grain: cheap, deterministic, and it gives the entropy coder as much
// work as a real photo's detail does.
void addGrain(QImage &img, int amplitude, int seed)
{
    if (amplitude <= 0)
        return;
    quint32 state = quint32(seed) * 747796405u + 2891336453u;
    const int span = 2 * amplitude + 1;
    for (int y = 0; y < img.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const int d = int(state % quint32(span)) - amplitude;
            const QRgb c = line[x];
            line[x] = qRgb(qBound(0, qRed(c) + d, 255), qBound(0, qGreen(c) + d, 255),
                           qBound(0, qBlue(c) + d, 255));
        }
    }
}

QByteArray encodeJpeg(const QImage &image, int quality, bool progressive = false)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    writer.setProgressiveScanWrite(progressive);
    return writer.write(image) ? bytes : QByteArray();
}

// Little-endian TIFF pieces.
void put16(QByteArray &b, quint32 v)
{
    b.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF));
}
void put32(QByteArray &b, quint32 v)
{
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}
void entry(QByteArray &b, quint32 tag, quint32 type, quint32 count, quint32 value)
{
    put16(b, tag);
    put16(b, type);
    put32(b, count);
    if (type == 3) { // a SHORT sits in the first two bytes of the value field
        put16(b, value);
        put16(b, 0);
    } else {
        put32(b, value);
    }
}

// The TIFF structure of an EXIF block: IFD0 (Orientation, its text values,
// pointer to the EXIF IFD), the EXIF IFD (DateTimeOriginal and the other text
// values), the texts longer than four bytes, IFD1 (the JPEG thumbnail).
QByteArray exifTiff(const CameraOptions &o, const QByteArray &thumbnail)
{
    QByteArray dateBytes = o.dateTimeOriginal.toLatin1().left(19);
    dateBytes.append(QByteArray(20 - dateBytes.size(), '\0'));
    QList<QPair<quint32, QByteArray>> ifd0, exif;
    for (const auto &t : o.ifd0Text)
        ifd0 << qMakePair(t.first, t.second.toLatin1() + '\0');
    exif << qMakePair(quint32(0x9003), dateBytes);
    for (const auto &t : o.exifText)
        exif << qMakePair(t.first, t.second.toLatin1() + '\0');
    const bool withThumbnail = !thumbnail.isEmpty();

    const quint32 ifd0At = 8;
    const quint32 exifAt = ifd0At + 2 + 12 * quint32(2 + ifd0.size()) + 4;
    quint32 dataAt = exifAt + 2 + 12 * quint32(exif.size()) + 4;
    QByteArray data;
    // An entry of a text, its value in the entry when it fits there.
    const auto text = [&](QByteArray &b, const QPair<quint32, QByteArray> &t) {
        if (t.second.size() <= 4) {
            put16(b, t.first);
            put16(b, 2);
            put32(b, quint32(t.second.size()));
            b.append(t.second).append(QByteArray(4 - t.second.size(), '\0'));
            return;
        }
        entry(b, t.first, 2, quint32(t.second.size()), dataAt + quint32(data.size()));
        data.append(t.second);
        if (data.size() % 2)
            data.append('\0');
    };

    QByteArray t("II*\0", 4);
    put32(t, ifd0At);
    put16(t, quint32(2 + ifd0.size()));
    entry(t, 0x0112, 3, 1, quint32(o.orientation));
    for (const auto &v : ifd0)
        text(t, v);
    entry(t, 0x8769, 4, 1, exifAt);
    const qsizetype nextIfdAt = t.size();
    put32(t, 0);
    put16(t, quint32(exif.size()));
    for (const auto &v : exif)
        text(t, v);
    put32(t, 0);
    t.append(data);
    if (withThumbnail) {
        const quint32 ifd1 = quint32(t.size());
        const quint32 thumbAt = ifd1 + 2 + 3 * 12 + 4;
        QByteArray next;
        put32(next, ifd1);
        t.replace(nextIfdAt, 4, next);
        put16(t, 3);
        entry(t, 0x0103, 3, 1, 6); // compression: JPEG
        entry(t, 0x0201, 4, 1, thumbAt);
        entry(t, 0x0202, 4, 1, quint32(thumbnail.size()));
        put32(t, 0);
        t.append(thumbnail);
    }
    return t;
}

// An APP marker with its payload; empty when the payload does not fit.
QByteArray segment(uchar marker, const QByteArray &payload)
{
    if (payload.size() + 2 > 0xFFFF)
        return {};
    QByteArray out("\xFF", 1);
    out.append(char(marker));
    const int length = 2 + int(payload.size());
    out.append(char(length >> 8)).append(char(length & 0xFF));
    return out + payload;
}

} // namespace

bool writePhoto(const QString &path, QSize size, int seed, int quality)
{
    QImageWriter writer(path, "jpeg");
    writer.setQuality(quality);
    return writer.write(photo(size, seed));
}

QByteArray cameraJpeg(const QImage &image, const CameraOptions &options)
{
    QByteArray thumbnail;
    if (options.exif && !options.thumbnailSize.isEmpty())
        thumbnail = encodeJpeg(
            image.scaled(options.thumbnailSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), 75);
    const QByteArray main = encodeJpeg(image, options.quality, options.progressive);
    if (main.size() < 4)
        return {};

    QByteArray out("\xFF\xD8", 2);
    if (options.exif) {
        const QByteArray app1 = segment(0xE1, QByteArray("Exif\0\0", 6) + exifTiff(options, thumbnail));
        if (app1.isEmpty())
            return {};
        out.append(app1);
    }
    if (!options.xmp.isEmpty()) {
        const QByteArray app1 =
            segment(0xE1, QByteArray("http://ns.adobe.com/xap/1.0/\0", 29) + options.xmp.toUtf8());
        if (app1.isEmpty())
            return {};
        out.append(app1);
    }
    // Cameras write no JFIF block: leave out the encoder's APP0.
    int pos = 2;
    if (main.size() > 6 && uchar(main[2]) == 0xFF && uchar(main[3]) == 0xE0)
        pos = 4 + (uchar(main[4]) << 8 | uchar(main[5]));
    out.append(main.mid(pos));
    return out;
}

bool writeCameraPhoto(const QString &path, QSize size, int seed, const CameraOptions &options)
{
    QImage img = photo(size, seed);
    addGrain(img, options.noise, seed);
    const QByteArray bytes = cameraJpeg(img, options);
    QFile f(path);
    return !bytes.isEmpty() && f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

namespace {

// The offset of the first frame header's marker in jpeg, -1 when there is none.
// Walks the segments of the header; the EXIF thumbnail's own frame header lies
// inside a segment and is skipped with it.
qsizetype frameHeaderAt(const QByteArray &jpeg)
{
    qsizetype pos = 2;
    while (pos + 9 < jpeg.size() && uchar(jpeg[pos]) == 0xFF) {
        const uchar marker = uchar(jpeg[pos + 1]);
        if (marker == 0xDA || marker == 0xD9)
            break;
        if (marker == 0xC0 || marker == 0xC1 || marker == 0xC2)
            return pos;
        pos += 2 + (uchar(jpeg[pos + 2]) << 8 | uchar(jpeg[pos + 3]));
    }
    return -1;
}

} // namespace

QByteArray withClaimedSize(const QByteArray &jpeg, QSize claimed)
{
    const qsizetype at = frameHeaderAt(jpeg);
    if (at < 0)
        return {};
    QByteArray out = jpeg;
    out[at + 5] = char(claimed.height() >> 8);
    out[at + 6] = char(claimed.height() & 0xFF);
    out[at + 7] = char(claimed.width() >> 8);
    out[at + 8] = char(claimed.width() & 0xFF);
    return out;
}

QByteArray withSampling(const QByteArray &jpeg, int component, int h, int v)
{
    const qsizetype at = frameHeaderAt(jpeg);
    if (at < 0 || component < 0 || component >= uchar(jpeg[at + 9]) || at + 12 + 3 * component > jpeg.size())
        return {};
    QByteArray out = jpeg;
    out[at + 11 + 3 * component] = char(h << 4 | v);
    return out;
}

QByteArray decompressionBomb(QSize claimed, qint64 paddedSize, bool progressive, bool grey)
{
    QImage small(16, 16, grey ? QImage::Format_Grayscale8 : QImage::Format_RGB32);
    small.fill(grey ? Qt::gray : Qt::red);
    QByteArray bytes = withClaimedSize(encodeJpeg(small, 90, progressive), claimed);
    if (!bytes.isEmpty() && bytes.size() < paddedSize)
        bytes.append(QByteArray(paddedSize - bytes.size(), '\0'));
    return bytes;
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
    QtConcurrent::blockingMap(indexes,
                              [&](int i) { writePhoto(QDir(dir).filePath(names[i]), sizes[i % 5], i); });
    return names;
}

} // namespace testpics
