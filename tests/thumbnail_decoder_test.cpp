// Decoding thumbnails without a window: EXIF reading, both stages, hostile files.
#include "pages/Exif.h"
#include "pages/ThumbnailCache.h"
#include "pages/ThumbnailDecoder.h"
#include "support/TestSupport.h"

#include "TestPictures.h"

#include <QBuffer>
#include <QImageWriter>
#include <QPainter>
#include <QTransform>
#include <QtTest>
#include <sys/resource.h>

Q_DECLARE_METATYPE(thumbs::Status)

namespace {

const QSize Box(153, 105);

QString photo(const QString &name)
{
    return QDir(testing::photosDir()).filePath(name);
}

// Mean absolute difference per channel, 0..255.
double difference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return 255;
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    qint64 sum = 0;
    for (int row = 0; row < x.height(); ++row) {
        const auto *p = reinterpret_cast<const QRgb *>(x.constScanLine(row));
        const auto *q = reinterpret_cast<const QRgb *>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col)
            sum += qAbs(qRed(p[col]) - qRed(q[col])) + qAbs(qGreen(p[col]) - qGreen(q[col])) +
                   qAbs(qBlue(p[col]) - qBlue(q[col]));
    }
    return double(sum) / (3.0 * x.width() * x.height());
}

QColor average(const QImage &img)
{
    const QImage s = img.scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return s.pixelColor(0, 0);
}

// Caps the address space of this process while it lives, so a decoder that
// allocates what a hostile header claims fails here instead of swapping.
class AddressSpaceLimit {
public:
    explicit AddressSpaceLimit(qint64 extraBytes)
    {
        getrlimit(RLIMIT_AS, &m_old);
        QFile status(QStringLiteral("/proc/self/status"));
        qint64 vm = 0;
        if (status.open(QIODevice::ReadOnly))
            for (const QByteArray &line : status.readAll().split('\n'))
                if (line.startsWith("VmSize:"))
                    vm = line.mid(7).trimmed().split(' ').first().toLongLong() * 1024;
#if defined(__SANITIZE_ADDRESS__)
        // The address sanitizer reserves its shadow memory up front and cannot
        // live under an address-space cap; the size check is still tested.
        vm = 0;
#endif
        if (vm > 0) {
            rlimit r = m_old;
            r.rlim_cur = rlim_t(vm + extraBytes);
            m_active = setrlimit(RLIMIT_AS, &r) == 0;
        }
    }
    ~AddressSpaceLimit()
    {
        if (m_active)
            setrlimit(RLIMIT_AS, &m_old);
    }

private:
    rlimit m_old{};
    bool m_active = false;
};

} // namespace

class ThumbnailDecoderTest : public QObject {
    Q_OBJECT
private slots:
    void headerReading_data();
    void headerReading();
    void headerOfGeneratedCameraFile();
    void brokenFilesGivePlaceholderStatus_data();
    void brokenFilesGivePlaceholderStatus();
    void decompressionBombsRefusedWithinMemoryLimit();
    void orientationSetsAllComeOutUpright_data();
    void orientationSetsAllComeOutUpright();
    void embeddedThumbnailUsedOnlyWhenItMatches_data();
    void embeddedThumbnailUsedOnlyWhenItMatches();
    void mismatchedThumbnailFileShowsMainPicture();
    void pictureIsStretchedToTheBox_data();
    void pictureIsStretchedToTheBox();
    void embeddedThumbnailIsTurnedUpright();
    void sizeLimits_data();
    void sizeLimits();
    void dctScaleStillCoversTheBox_data();
    void dctScaleStillCoversTheBox();
    void cacheStaysWithinItsBudget();
    void cacheKeyFollowsFileNotName();
};

void ThumbnailDecoderTest::headerReading_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QSize>("frame");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<bool>("thumbnail");
    QTest::addColumn<QString>("date");
    QTest::newRow("camera") << "canon-dslr.jpg" << QSize(5184, 3456) << 1 << true << "2019:10:26 16:07:24";
    QTest::newRow("orientation 6") << "has-lens-info.jpg" << QSize(205, 102) << 6 << true
                                   << "2014:09:01 15:03:47";
    QTest::newRow("invalid orientation 0 counts as upright")
        << "Landscape_0.jpg" << QSize(1800, 1200) << 1 << false << "";
    QTest::newRow("IFD chain looping on itself")
        << "infinite_loop_exif.jpg" << QSize(8, 8) << 1 << false << "";
    QTest::newRow("RGB thumbnail is no JPEG thumbnail")
        << "exif-rgb-thumbnail-sony-d700.jpg" << QSize(672, 512) << 1 << false << "1998:12:01 14:22:36";
    QTest::newRow("huge frame header")
        << "iptc-staff-photographer-example_huge-sof.jpg" << QSize(60000, 45000) << 1 << true << "";
    QTest::newRow("progressive") << "tower_progressive.jpg" << QSize(512, 512) << 1 << true
                                 << "2019:11:09 10:59:36";
}

void ThumbnailDecoderTest::headerReading()
{
    if (testing::photosDir().isEmpty())
        QSKIP("the camera pictures (../shared/testdata/photos) are not here");
    QFETCH(QString, file);
    const exif::FileHead h = exif::readHead(photo(file));
    QVERIFY(h.readable);
    QCOMPARE(h.info.status, exif::HeadStatus::Jpeg);
    QTEST(h.info.frameSize, "frame");
    QTEST(h.info.orientation, "orientation");
    QTEST(h.info.hasThumbnail(), "thumbnail");
    QTEST(h.info.dateTimeOriginal, "date");
    QCOMPARE(h.info.progressive, file.contains(QLatin1String("progressive")));
}

void ThumbnailDecoderTest::headerOfGeneratedCameraFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("cam.jpg"));
    testpics::CameraOptions o;
    o.orientation = 8;
    o.dateTimeOriginal = QStringLiteral("2021:02:03 04:05:06");
    QVERIFY(testpics::writeCameraPhoto(path, QSize(640, 480), 1, o));
    const exif::FileHead h = exif::readHead(path);
    QCOMPARE(h.info.frameSize, QSize(640, 480));
    QCOMPARE(h.info.orientation, 8);
    QCOMPARE(h.info.dateTimeOriginal, o.dateTimeOriginal);
    QVERIFY(h.info.hasThumbnail());
    QImage thumb;
    QVERIFY(thumb.loadFromData(h.head.mid(h.info.thumbnailOffset, h.info.thumbnailLength), "jpeg"));
    QCOMPARE(thumb.size(), QSize(160, 120));
}

void ThumbnailDecoderTest::brokenFilesGivePlaceholderStatus_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<thumbs::Status>("status");
    QTest::newRow("zero length") << "empty.jpg" << thumbs::Status::NotJpeg;
    QTest::newRow("random bytes") << "random_garbage.jpg" << thumbs::Status::NotJpeg;
    QTest::newRow("PNG named .jpg") << "jpg-size-6x6.jpg" << thumbs::Status::NotJpeg;
    QTest::newRow("7-byte stub") << "5145e95a-02a8-11e7-8372-4787a7307ab8.jpg" << thumbs::Status::Damaged;
    QTest::newRow("truncated progressive") << "truncated_jpeg.jpg" << thumbs::Status::Damaged;
    QTest::newRow("truncated, headers intact")
        << "iptc-agency-photographer-example_truncated.jpg" << thumbs::Status::Damaged;
    QTest::newRow("truncated phone file") << "ultrahdr.jpg" << thumbs::Status::Damaged;
    QTest::newRow("65535 x 65535 in 186 bytes") << "max_size.jpg" << thumbs::Status::TooLarge;
    QTest::newRow("60000 x 45000 frame header")
        << "iptc-staff-photographer-example_huge-sof.jpg" << thumbs::Status::TooLarge;
}

void ThumbnailDecoderTest::brokenFilesGivePlaceholderStatus()
{
    if (testing::photosDir().isEmpty())
        QSKIP("the camera pictures (../shared/testdata/photos) are not here");
    QFETCH(QString, file);
    const thumbs::Result r = thumbs::decodeFile(photo(file), Box);
    QTEST(r.status, "status");
    QVERIFY(r.image.isNull());
    // A first stage never stands in for a picture whose header is unusable.
    const thumbs::Result first = thumbs::fromEmbedded(exif::readHead(photo(file)), Box);
    if (r.status != thumbs::Status::Damaged)
        QVERIFY(!first.ok());
}

void ThumbnailDecoderTest::decompressionBombsRefusedWithinMemoryLimit()
{
    QTemporaryDir dir;
    // A valid progressive header claiming 29000 x 29000 in front of almost nothing:
    // decoding it would take gigabytes.
    QImage small(16, 16, QImage::Format_RGB32);
    small.fill(Qt::red);
    QByteArray bytes;
    {
        QBuffer b(&bytes);
        b.open(QIODevice::WriteOnly);
        QImageWriter w(&b, "jpeg");
        w.setProgressiveScanWrite(true);
        QVERIFY(w.write(small));
    }
    const int sof = int(bytes.indexOf("\xFF\xC2"));
    QVERIFY(sof > 0);
    bytes[sof + 5] = char(29000 >> 8);
    bytes[sof + 6] = char(29000 & 0xFF);
    bytes[sof + 7] = char(29000 >> 8);
    bytes[sof + 8] = char(29000 & 0xFF);
    const QString bomb = dir.filePath(QStringLiteral("bomb.jpg"));
    QFile f(bomb);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    f.close();

    QStringList files{bomb};
    if (!testing::photosDir().isEmpty())
        files << photo(QStringLiteral("max_size.jpg"))
              << photo(QStringLiteral("iptc-staff-photographer-example_huge-sof.jpg"));
    const AddressSpaceLimit limit(256ll * 1024 * 1024);
    for (const QString &file : files) {
        const thumbs::Result r = thumbs::decodeFile(file, Box);
        QCOMPARE(r.status, thumbs::Status::TooLarge);
    }
}

void ThumbnailDecoderTest::orientationSetsAllComeOutUpright_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QSize>("box");
    QTest::addColumn<double>("tolerance");
    // The letter F is sharp-edged, so its copies differ more by JPEG artefacts.
    QTest::newRow("letter F") << "f%1t.jpg" << QSize(48, 80) << 12.0;
    QTest::newRow("landscape photo") << "Landscape_%1.jpg" << QSize(180, 120) << 6.0;
}

void ThumbnailDecoderTest::orientationSetsAllComeOutUpright()
{
    if (testing::photosDir().isEmpty())
        QSKIP("the camera pictures (../shared/testdata/photos) are not here");
    QFETCH(QString, pattern);
    QFETCH(QSize, box);
    QFETCH(double, tolerance);
    const thumbs::Result upright = thumbs::decodeFile(photo(pattern.arg(1)), box);
    QVERIFY(upright.ok());
    for (int o = 2; o <= 8; ++o) {
        const thumbs::Result r = thumbs::decodeFile(photo(pattern.arg(o)), box);
        QVERIFY(r.ok());
        QCOMPARE(r.image.size(), box);
        const double d = difference(r.image, upright.image);
        if (d > tolerance)
            QFAIL(qPrintable(QStringLiteral("orientation %1 differs from upright by %2").arg(o).arg(d)));
    }
}

void ThumbnailDecoderTest::embeddedThumbnailUsedOnlyWhenItMatches_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("used");
    QTest::newRow("matching camera thumbnail") << "flower.jpg" << true;
    QTest::newRow("thumbnail larger than picture") << "Grillfest bei Jörg 059.JPG" << true;
    QTest::newRow("letterboxed 4:3 for 3:2") << "canon-dslr.jpg" << false;
    QTest::newRow("cropped after capture") << "jfif-jfif-and-exif-thumbnail-sharpshot-iphone.jpg" << false;
    QTest::newRow("stale 4:3 for 2:1, turned") << "has-lens-info.jpg" << false;
    QTest::newRow("picture replaced by a square") << "broken_exif_dpi.jpg" << false;
    QTest::newRow("no thumbnail") << "Landscape_1.jpg" << false;
}

void ThumbnailDecoderTest::embeddedThumbnailUsedOnlyWhenItMatches()
{
    if (testing::photosDir().isEmpty())
        QSKIP("the camera pictures (../shared/testdata/photos) are not here");
    QFETCH(QString, file);
    const thumbs::Result r = thumbs::fromEmbedded(exif::readHead(photo(file)), Box);
    QTEST(r.ok(), "used");
    if (r.ok())
        QCOMPARE(r.image.size(), Box);
}

void ThumbnailDecoderTest::mismatchedThumbnailFileShowsMainPicture()
{
    if (testing::photosDir().isEmpty())
        QSKIP("the camera pictures (../shared/testdata/photos) are not here");
    // The main picture is a plain green square; its thumbnail is a photo.
    const thumbs::Result r = thumbs::decodeFile(photo(QStringLiteral("broken_exif_dpi.jpg")), Box);
    QVERIFY(r.ok());
    const QColor c = average(r.image);
    QVERIFY2(c.green() > 2 * c.red() && c.green() > 2 * c.blue(), qPrintable(c.name()));
}

void ThumbnailDecoderTest::pictureIsStretchedToTheBox_data()
{
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QSize>("box");
    QTest::newRow("landscape 4000 x 3000") << QSize(4000, 3000) << 1 << Box;
    QTest::newRow("portrait 3000 x 4000") << QSize(3000, 4000) << 1 << Box;
    QTest::newRow("stored sideways, turned") << QSize(4000, 3000) << 6 << Box;
    QTest::newRow("smaller than the box") << QSize(40, 30) << 1 << Box;
    QTest::newRow("high-dpi box") << QSize(4000, 3000) << 1 << QSize(306, 210);
}

void ThumbnailDecoderTest::pictureIsStretchedToTheBox()
{
    QFETCH(QSize, picture);
    QFETCH(int, orientation);
    QFETCH(QSize, box);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.jpg"));
    testpics::CameraOptions o;
    o.orientation = orientation;
    QVERIFY(testpics::writeCameraPhoto(path, picture, 7, o));
    const exif::FileHead h = exif::readHead(path);
    const thumbs::Result main = thumbs::fromMain(path, h, box);
    QVERIFY(main.ok());
    QCOMPARE(main.image.size(), box);
    const thumbs::Result first = thumbs::fromEmbedded(h, box);
    QCOMPARE(first.ok(), thumbs::aspectMatches(QSize(160, 120), picture));
    if (first.ok()) {
        QCOMPARE(first.image.size(), box);
        QVERIFY(difference(first.image, main.image) < 12);
    }
}

void ThumbnailDecoderTest::embeddedThumbnailIsTurnedUpright()
{
    // The same scene stored upright and stored turned (orientation 6) must give
    // the same first stage.
    QImage scene(400, 300, QImage::Format_RGB32);
    scene.fill(Qt::white);
    {
        QPainter p(&scene);
        p.fillRect(0, 0, 200, 100, Qt::red);      // top left
        p.fillRect(300, 200, 100, 100, Qt::blue); // bottom right
    }
    QTemporaryDir dir;
    const auto write = [&](const QString &name, const QImage &img, int orientation) {
        testpics::CameraOptions o;
        o.orientation = orientation;
        o.thumbnailSize = img.width() > img.height() ? QSize(160, 120) : QSize(120, 160);
        QFile f(dir.filePath(name));
        return f.open(QIODevice::WriteOnly) && f.write(testpics::cameraJpeg(img, o)) > 0;
    };
    // Orientation 6 means: turn right to view, so the stored pixels are turned left.
    QVERIFY(write(QStringLiteral("up.jpg"), scene, 1));
    QVERIFY(write(QStringLiteral("turned.jpg"), scene.transformed(QTransform().rotate(270)), 6));
    const thumbs::Result up =
        thumbs::fromEmbedded(exif::readHead(dir.filePath(QStringLiteral("up.jpg"))), Box);
    const thumbs::Result turned =
        thumbs::fromEmbedded(exif::readHead(dir.filePath(QStringLiteral("turned.jpg"))), Box);
    QVERIFY(up.ok());
    QVERIFY(turned.ok());
    QVERIFY(difference(up.image, turned.image) < 8);
    QVERIFY(qRed(turned.image.pixel(5, 5)) > 200 && qBlue(turned.image.pixel(5, 5)) < 80);
}

void ThumbnailDecoderTest::sizeLimits_data()
{
    QTest::addColumn<QSize>("frame");
    QTest::addColumn<qint64>("fileSize");
    QTest::addColumn<bool>("plausible");
    QTest::newRow("24 MP camera file") << QSize(6000, 4000) << qint64(6000000) << true;
    QTest::newRow("flat 24 MP picture, 20 KB") << QSize(6000, 4000) << qint64(20000) << true;
    QTest::newRow("2,000 pixels per byte") << QSize(2000, 1000) << qint64(1000) << true;
    QTest::newRow("just over 2,000 per byte") << QSize(2001, 1000) << qint64(1000) << false;
    QTest::newRow("side of 30,000") << QSize(30000, 100) << qint64(10000000) << true;
    QTest::newRow("side over 30,000") << QSize(30001, 100) << qint64(10000000) << false;
    QTest::newRow("no size") << QSize(0, 100) << qint64(1000) << false;
    QTest::newRow("empty file") << QSize(10, 10) << qint64(0) << false;
}

void ThumbnailDecoderTest::sizeLimits()
{
    QFETCH(QSize, frame);
    QFETCH(qint64, fileSize);
    QTEST(thumbs::plausibleSize(frame, fileSize), "plausible");
}

void ThumbnailDecoderTest::dctScaleStillCoversTheBox_data()
{
    QTest::addColumn<QSize>("frame");
    QTest::addColumn<QSize>("target");
    QTest::addColumn<int>("denominator");
    QTest::newRow("24 MP into a slot") << QSize(6000, 4000) << Box << 8;
    QTest::newRow("high-dpi slot, 12 MP") << QSize(4000, 3000) << QSize(612, 420) << 4;
    QTest::newRow("rounding up still covers") << QSize(1217, 833) << QSize(153, 105) << 8;
    QTest::newRow("one pixel short at 1/8") << QSize(1216, 833) << QSize(153, 105) << 4;
    QTest::newRow("needs half") << QSize(400, 300) << Box << 2;
    QTest::newRow("smaller than the box") << QSize(100, 80) << Box << 1;
}

void ThumbnailDecoderTest::dctScaleStillCoversTheBox()
{
    QFETCH(QSize, frame);
    QFETCH(QSize, target);
    QTEST(thumbs::dctDenominator(frame, target), "denominator");
}

void ThumbnailDecoderTest::cacheStaysWithinItsBudget()
{
    QImage img(100, 100, QImage::Format_RGB32); // 40,000 bytes
    img.fill(Qt::gray);
    thumbs::ThumbnailCache cache(200 * 1024);
    for (int i = 0; i < 20; ++i) {
        thumbs::FileKey k;
        k.inode = quint64(i);
        k.size = 1;
        cache.insert(k, Box, img);
    }
    QVERIFY(cache.bytesUsed() <= cache.maxBytes());
    QVERIFY(cache.count() >= 4);
    thumbs::FileKey last;
    last.inode = 19;
    last.size = 1;
    QVERIFY(!cache.find(last, Box).isNull());
    QVERIFY(cache.find(last, QSize(306, 210)).isNull());
    // An image larger than the whole budget is not kept.
    QImage huge(400, 400, QImage::Format_RGB32);
    last.inode = 99;
    cache.insert(last, Box, huge);
    QVERIFY(cache.find(last, Box).isNull());
}

void ThumbnailDecoderTest::cacheKeyFollowsFileNotName()
{
    QTemporaryDir dir;
    testing::writePictures(dir.path(), {QStringLiteral("a.jpg")});
    const QString a = dir.filePath(QStringLiteral("a.jpg"));
    const QString b = dir.filePath(QStringLiteral("b.jpg"));
    const thumbs::FileKey before = thumbs::fileKey(a);
    QVERIFY(before.valid());
    QVERIFY(QFile::rename(a, b));
    QVERIFY(thumbs::fileKey(b) == before);
    QFile f(b);
    QVERIFY(f.open(QIODevice::Append));
    f.write("x");
    f.close();
    QVERIFY(!(thumbs::fileKey(b) == before));
    QVERIFY(!thumbs::fileKey(a).valid());
}

QTEST_GUILESS_MAIN(ThumbnailDecoderTest)
#include "thumbnail_decoder_test.moc"
