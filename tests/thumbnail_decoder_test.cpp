// Decoding thumbnails without a window: EXIF reading, both stages, hostile files.
#include "core/pictures/DecodeBudget.h"
#include "core/pictures/Exif.h"
#include "core/pictures/ThumbnailCache.h"
#include "core/pictures/ThumbnailDecoder.h"
#include "core/platform/FileNames.h"
#include "support/TestSupport.h"

#include "TestPictures.h"

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QProcess>
#include <QThread>
#include <QTransform>
#include <QtTest>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

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

bool reddishPixel(QRgb c)
{
    return qRed(c) > 180 && qGreen(c) < 80 && qBlue(c) < 80;
}
bool bluishPixel(QRgb c)
{
    return qBlue(c) > 180 && qRed(c) < 80 && qGreen(c) < 80;
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

// A field of /proc/self/status in bytes (VmRSS, VmHWM); -1 when absent.
qint64 statusBytes(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').first().toLongLong() * 1024;
    return -1;
}

// Run in a child process started by decodeInChild: decodes one file and prints
// its status and the peak memory the decode added.
int decodePeakChild(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString path = QString::fromLocal8Bit(argv[2]);
    const QSize box(QByteArray(argv[3]).toInt(), QByteArray(argv[4]).toInt());
    // The JPEG plugin is loaded first, so only the decode itself counts.
    QImage warm(8, 8, QImage::Format_RGB32);
    warm.fill(Qt::white);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadWrite);
    warm.save(&buffer, "jpeg");
    QImage::fromData(bytes, "jpeg");
    const qint64 before = statusBytes("VmRSS:");
    const thumbs::Result r = thumbs::decodeFile(path, box);
    std::printf("%d %lld\n", int(r.status), statusBytes("VmHWM:") - before);
    return 0;
}

struct Measured {
    thumbs::Status status = thumbs::Status::Damaged;
    qint64 peak = -1; // bytes the decode added to the child's peak memory; -1 when it failed
};

// Decodes path in a fresh process (this test program started again), so that the
// peak memory of one decode is measured apart from all this process did before.
Measured decodeInChild(const QString &path, QSize box)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::SeparateChannels);
    child.start(
        QCoreApplication::applicationFilePath(),
        {QStringLiteral("--decode-peak"), path, QString::number(box.width()), QString::number(box.height())});
    Measured m;
    if (!child.waitForFinished(120000) || child.exitCode() != 0)
        return m;
    const QList<QByteArray> fields = child.readAllStandardOutput().trimmed().split(' ');
    if (fields.size() != 2)
        return m;
    m.status = thumbs::Status(fields[0].toInt());
    m.peak = fields[1].toLongLong();
    return m;
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// Writes bytes under a name given as raw bytes, which Qt's own file functions
// cannot reach when they are not UTF-8.
bool writeRaw(const QString &dir, const QByteArray &name, const QByteArray &bytes)
{
    const QByteArray path = platform::encodeName(dir) + '/' + name;
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    ::close(fd);
    return ok;
}

// jpeg with its first scan cut down to its first component: a sequential frame
// read in several scans, which makes the decoder keep every coefficient.
QByteArray withFirstScanOfOneComponent(const QByteArray &jpeg)
{
    qsizetype sos = 2;
    while (sos + 4 < jpeg.size() && !(uchar(jpeg[sos]) == 0xFF && uchar(jpeg[sos + 1]) == 0xDA))
        sos += 2 + (uchar(jpeg[sos + 2]) << 8 | uchar(jpeg[sos + 3]));
    if (sos + 7 >= jpeg.size())
        return {};
    const int length = uchar(jpeg[sos + 2]) << 8 | uchar(jpeg[sos + 3]);
    QByteArray scan("\xFF\xDA\x00\x08\x01", 5);
    scan.append(jpeg.mid(sos + 5, 2)); // the first component and its tables
    scan.append("\x00\x3F\x00", 3);
    return jpeg.left(sos) + scan + jpeg.mid(sos + 2 + length);
}

// Where each scan of jpeg lies: from its marker to the marker after its data.
QList<QPair<qsizetype, qsizetype>> scanRanges(const QByteArray &jpeg)
{
    QList<QPair<qsizetype, qsizetype>> scans;
    qsizetype pos = 2;
    while (pos + 4 <= jpeg.size() && uchar(jpeg[pos]) == 0xFF) {
        const uchar marker = uchar(jpeg[pos + 1]);
        if (marker == 0xD9)
            break;
        const qsizetype end = pos + 2 + (uchar(jpeg[pos + 2]) << 8 | uchar(jpeg[pos + 3]));
        if (marker != 0xDA) {
            pos = end;
            continue;
        }
        qsizetype next = end;
        while (next + 1 < jpeg.size() && !(uchar(jpeg[next]) == 0xFF && uchar(jpeg[next + 1]) != 0 &&
                                           (uchar(jpeg[next + 1]) < 0xD0 || uchar(jpeg[next + 1]) > 0xD7)))
            ++next;
        scans.append({pos, next});
        pos = next;
    }
    return scans;
}

// A small honest picture in memory.
QByteArray smallJpeg(QSize size, bool progressive)
{
    QImage img(size, QImage::Format_RGB32);
    img.fill(QColor(40, 160, 90));
    QByteArray bytes;
    QBuffer b(&bytes);
    b.open(QIODevice::WriteOnly);
    QImageWriter w(&b, "jpeg");
    w.setProgressiveScanWrite(progressive);
    return w.write(img) ? bytes : QByteArray();
}

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
    void bombsAreRefusedBeforeTheDecoderAllocates_data();
    void bombsAreRefusedBeforeTheDecoderAllocates();
    void memoryEstimateCoversWhatTheDecoderTakes_data();
    void memoryEstimateCoversWhatTheDecoderTakes();
    void fiftyMegapixelPicturesDecode_data();
    void fiftyMegapixelPicturesDecode();
    void frameHeaderIsFoundWhereTheDecoderFindsIt_data();
    void frameHeaderIsFoundWhereTheDecoderFindsIt();
    void structuresThatCostTheDecoderSecondsAreRefusedQuickly_data();
    void structuresThatCostTheDecoderSecondsAreRefusedQuickly();
    void budgetHoldsBackWhatDoesNotFitAndReleasesCancelledWaiters();
    void cancelledDecodeStopsAndGivesItsMemoryBack();
    void nameThatIsNotUtf8ReachesItsPicture_data();
    void nameThatIsNotUtf8ReachesItsPicture();
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

void ThumbnailDecoderTest::bombsAreRefusedBeforeTheDecoderAllocates_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const qint64 size = 450 * 1024;
    const QByteArray bomb = testpics::decompressionBomb(QSize(30000, 30000), size);
    QTest::newRow("progressive 30000 x 30000 padded to 450 KB") << bomb;
    QTest::newRow("progressive 4:4:4 12000 x 12000 padded to 450 KB")
        << testpics::withSampling(testpics::decompressionBomb(QSize(12000, 12000), size), 0, 1, 1);
    QTest::newRow("sequential frame read in several scans, 20000 x 20000")
        << withFirstScanOfOneComponent(testpics::decompressionBomb(QSize(20000, 20000), size, false));
    QByteArray blocks;
    for (int i = 0; i < 3; ++i)
        blocks += QByteArray("\xFF\xE5\xFF\xFF", 4) + QByteArray(0xFFFF - 2, 'x');
    QTest::newRow("frame header beyond the head") << QByteArray(bomb).insert(2, blocks);
    QTest::newRow("frame header behind garbage bytes")
        << QByteArray(bomb).insert(2, QByteArray("\x01\x02\x03", 3));
}

void ThumbnailDecoderTest::bombsAreRefusedBeforeTheDecoderAllocates()
{
    QFETCH(QByteArray, bytes);
    QVERIFY(!bytes.isEmpty());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bomb.jpg"));
    QVERIFY(writeBytes(path, bytes));
    const Measured m = decodeInChild(path, Box);
    QVERIFY2(m.peak >= 0, "the child process did not report");
    QCOMPARE(m.status, thumbs::Status::TooLarge);
    // Nothing but the head was read: the decoder never saw the file.
    QVERIFY2(m.peak < 16 * 1024 * 1024, qPrintable(QString::number(m.peak)));
    QVERIFY(!thumbs::fromEmbedded(exif::readHead(path), Box).ok());
}

void ThumbnailDecoderTest::memoryEstimateCoversWhatTheDecoderTakes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    using testpics::decompressionBomb;
    QTest::newRow("progressive 4:2:0, 9000 x 9000") << decompressionBomb(QSize(9000, 9000), 100000);
    QTest::newRow("progressive 4:4:4, 6000 x 6000")
        << testpics::withSampling(decompressionBomb(QSize(6000, 6000), 100000), 0, 1, 1);
    QTest::newRow("progressive 4:1:1, 6000 x 4000")
        << testpics::withSampling(decompressionBomb(QSize(6000, 4000), 100000), 0, 4, 1);
    QTest::newRow("progressive grey, 12000 x 8000")
        << decompressionBomb(QSize(12000, 8000), 100000, true, true);
    QTest::newRow("sequential, 30000 x 30000") << decompressionBomb(QSize(30000, 30000), 1000000, false);
    QTest::newRow("sequential 4:4:4, 8000 x 8000")
        << testpics::withSampling(decompressionBomb(QSize(8000, 8000), 100000, false), 0, 1, 1);
    QTest::newRow("sequential frame read in several scans, 8000 x 8000")
        << withFirstScanOfOneComponent(decompressionBomb(QSize(8000, 8000), 100000, false));
}

void ThumbnailDecoderTest::memoryEstimateCoversWhatTheDecoderTakes()
{
    QFETCH(QByteArray, bytes);
    QVERIFY(!bytes.isEmpty());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.jpg"));
    QVERIFY(writeBytes(path, bytes));
    const exif::FileHead head = exif::readHead(path);
    const qint64 estimate = thumbs::decodeBytes(head.info, thumbs::storedTarget(Box, head.info.orientation));
    QVERIFY(estimate > 0 && estimate <= thumbs::MaxDecodeBytes);
    const Measured m = decodeInChild(path, Box);
    QVERIFY2(m.peak >= 0, "the child process did not report");
    QCOMPARE(m.status, thumbs::Status::Ok);
#if defined(__SANITIZE_ADDRESS__)
    // The address sanitizer's shadow adds an eighth to every allocation.
    const double sanitizer = 1.2;
#else
    const double sanitizer = 1.0;
#endif
    const QString figures = QStringLiteral("estimate %1 MB, measured %2 MB")
                                .arg(double(estimate) / (1 << 20), 0, 'f', 1)
                                .arg(double(m.peak) / (1 << 20), 0, 'f', 1);
    // Too low lets decodes exceed the memory they were admitted with; far too
    // high refuses pictures that would decode.
    QVERIFY2(double(m.peak) <= sanitizer * double(estimate), qPrintable(figures));
    QVERIFY2(double(estimate) <= 1.5 * double(m.peak) + 4 * (1 << 20), qPrintable(figures));
}

void ThumbnailDecoderTest::fiftyMegapixelPicturesDecode_data()
{
    QTest::addColumn<bool>("progressive");
    QTest::newRow("progressive") << true;
    QTest::newRow("sequential") << false;
}

void ThumbnailDecoderTest::fiftyMegapixelPicturesDecode()
{
    QFETCH(bool, progressive);
    // 8688 x 5792, a 50-megapixel camera's size: red left, blue right.
    QImage picture(8688, 5792, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    QPainter(&picture).fillRect(0, 0, picture.width() / 2, picture.height(), Qt::red);
    testpics::CameraOptions o;
    o.progressive = progressive;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("50mp.jpg"));
    QVERIFY(writeBytes(path, testpics::cameraJpeg(picture, o)));
    picture = QImage();
    QCOMPARE(exif::readHead(path).info.progressive, progressive);

    const thumbs::Result r = thumbs::decodeFile(path, Box);
    QCOMPARE(r.status, thumbs::Status::Ok);
    QCOMPARE(r.image.size(), Box);
    QVERIFY(reddishPixel(r.image.pixel(10, Box.height() / 2)));
    QVERIFY(bluishPixel(r.image.pixel(Box.width() - 10, Box.height() / 2)));
}

void ThumbnailDecoderTest::frameHeaderIsFoundWhereTheDecoderFindsIt_data()
{
    QTest::addColumn<QByteArray>("inserted");
    QByteArray blocks;
    for (int i = 0; i < 3; ++i)
        blocks += QByteArray("\xFF\xE5\xFF\xFF", 4) + QByteArray(0xFFFF - 2, 'x');
    QTest::newRow("metadata blocks reaching beyond the head") << blocks;
    QTest::newRow("garbage bytes between blocks") << QByteArray("\x01\x02\x03", 3);
    QTest::newRow("fill bytes") << QByteArray("\xFF\xFF\xFF", 3);
    QTest::newRow("stuffed zero between blocks") << QByteArray("\xFF\x00", 2);
    QTest::newRow("block with a length below 2") << QByteArray("\xFF\xE5\x00\x00", 4);
}

void ThumbnailDecoderTest::frameHeaderIsFoundWhereTheDecoderFindsIt()
{
    QFETCH(QByteArray, inserted);
    QTemporaryDir dir;
    // An honest picture: the walk finds the frame the decoder reads, and it decodes.
    const QString honest = dir.filePath(QStringLiteral("honest.jpg"));
    QVERIFY(writeBytes(honest, smallJpeg(QSize(640, 480), true).insert(2, inserted)));
    const exif::FileHead head = exif::readHead(honest);
    QCOMPARE(head.info.headers, exif::Headers::Complete);
    QCOMPARE(head.info.frameSize, QSize(640, 480));
    QCOMPARE(QImageReader(honest).size(), QSize(640, 480));
    QCOMPARE(thumbs::decodeFile(honest, Box).status, thumbs::Status::Ok);
    // A bomb hidden the same way is refused.
    const QString bomb = dir.filePath(QStringLiteral("bomb.jpg"));
    QVERIFY(
        writeBytes(bomb, testpics::decompressionBomb(QSize(30000, 30000), 450 * 1024).insert(2, inserted)));
    QCOMPARE(thumbs::decodeFile(bomb, Box).status, thumbs::Status::TooLarge);
}

void ThumbnailDecoderTest::structuresThatCostTheDecoderSecondsAreRefusedQuickly_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<thumbs::Status>("status");
    const QByteArray honest = smallJpeg(QSize(640, 480), true);
    const auto comments = [](int count) {
        QByteArray blocks;
        for (int i = 0; i < count; ++i)
            blocks += QByteArray("\xFF\xFE\x00\x02", 4);
        return blocks;
    };
    QTest::newRow("500 comments in front")
        << QByteArray(honest).insert(2, comments(500)) << thumbs::Status::Ok;
    QTest::newRow("40,000 empty comments in front, 160 KB")
        << QByteArray(honest).insert(2, comments(40000)) << thumbs::Status::TooLarge;
    const QList<QPair<qsizetype, qsizetype>> scans = scanRanges(honest);
    QVERIFY(scans.size() > 2);
    QTest::newRow("40,000 empty comments after the first scan")
        << QByteArray(honest).insert(scans[1].first, comments(40000)) << thumbs::Status::TooLarge;
    QTest::newRow("progressive as encoded") << honest << thumbs::Status::Ok;
    // Each repeated scan makes the decoder go over all 1.9 million blocks again.
    const QByteArray large = testpics::decompressionBomb(QSize(9000, 9000), 100 * 1024);
    const QList<QPair<qsizetype, qsizetype>> largeScans = scanRanges(large);
    QVERIFY(!largeScans.isEmpty());
    const QByteArray last =
        large.mid(largeScans.last().first, largeScans.last().second - largeScans.last().first);
    QTest::newRow("1,000 repeated scans over 9000 x 9000, 11 KB")
        << QByteArray(large).insert(largeScans.last().second, last.repeated(1000))
        << thumbs::Status::TooLarge;
}

void ThumbnailDecoderTest::structuresThatCostTheDecoderSecondsAreRefusedQuickly()
{
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.jpg"));
    QVERIFY(writeBytes(path, bytes));
    QElapsedTimer timer;
    timer.start();
    QTEST(thumbs::decodeFile(path, Box).status, "status");
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
}

void ThumbnailDecoderTest::budgetHoldsBackWhatDoesNotFitAndReleasesCancelledWaiters()
{
    thumbs::DecodeBudget budget(100);
    QVERIFY(!budget.reserve(101).granted()); // never fits: refused at once
    auto first = budget.reserve(60);
    QVERIFY(first.granted());

    std::atomic_bool secondGranted{false};
    std::unique_ptr<QThread> second(QThread::create([&] {
        auto r = budget.reserve(60);
        secondGranted = r.granted();
    }));
    second->start();
    QVERIFY(!second->wait(100)); // 60 + 60 do not fit: it waits
    first.release();
    QVERIFY(second->wait(10000));
    QVERIFY(secondGranted);
    QCOMPARE(budget.inUse(), 0);

    auto holder = budget.reserve(80);
    std::atomic_bool cancelled{false};
    std::atomic_bool waiterGranted{true};
    std::unique_ptr<QThread> waiter(QThread::create([&] {
        auto r = budget.reserve(50, &cancelled);
        waiterGranted = r.granted();
    }));
    waiter->start();
    QVERIFY(!waiter->wait(100));
    cancelled = true;
    budget.wakeWaiters();
    QVERIFY(waiter->wait(10000));
    QVERIFY(!waiterGranted);
    QCOMPARE(budget.inUse(), 80);
}

void ThumbnailDecoderTest::cancelledDecodeStopsAndGivesItsMemoryBack()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.jpg"));
    QVERIFY(testpics::writeCameraPhoto(path, QSize(1600, 1200), 3));
    thumbs::DecodeBudget budget(64 * 1024 * 1024);
    std::atomic_bool cancelled{false};

    // A decode waiting for memory held by others gives up once cancelled.
    auto others = budget.reserve(budget.capacity());
    thumbs::Result waited;
    std::unique_ptr<QThread> decoder(QThread::create([&] {
        waited = thumbs::decodeFile(path, Box, {&budget, &cancelled});
    }));
    decoder->start();
    QVERIFY(!decoder->wait(100));
    cancelled = true;
    budget.wakeWaiters();
    QVERIFY(decoder->wait(10000));
    QCOMPARE(waited.status, thumbs::Status::Cancelled);
    others.release();
    QCOMPARE(budget.inUse(), 0);

    // One admitted decodes and gives its memory back; a cancelled one never starts.
    cancelled = false;
    QCOMPARE(thumbs::decodeFile(path, Box, {&budget, &cancelled}).status, thumbs::Status::Ok);
    QCOMPARE(budget.inUse(), 0);
    cancelled = true;
    QCOMPARE(thumbs::decodeFile(path, Box, {&budget, &cancelled}).status, thumbs::Status::Cancelled);
    QCOMPARE(budget.inUse(), 0);
}

void ThumbnailDecoderTest::nameThatIsNotUtf8ReachesItsPicture_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::newRow("Latin-1 umlaut") << QByteArray("Gr\xFC\xDF"
                                                  "e \xE4.jpg");
    QTest::newRow("bytes that are never UTF-8") << QByteArray("\xFF\xFE.JPG");
    QTest::newRow("UTF-8 cut short") << QByteArray("x\xC3.jpg");
    QTest::newRow("backslash") << QByteArray("a\\b.jpg");
}

void ThumbnailDecoderTest::nameThatIsNotUtf8ReachesItsPicture()
{
    QFETCH(QByteArray, name);
    QTemporaryDir dir;
    QImage img(640, 480, QImage::Format_RGB32);
    img.fill(Qt::red);
    QVERIFY(writeRaw(dir.path(), name, testpics::cameraJpeg(img)));
    const QString path = platform::joinPath(dir.path(), platform::decodeName(name));

    const exif::FileHead head = exif::readHead(path);
    QVERIFY(head.readable);
    QCOMPARE(head.info.frameSize, QSize(640, 480));
    QVERIFY(thumbs::fromEmbedded(head, Box).ok());
    const thumbs::Result main = thumbs::decodeFile(path, Box);
    QCOMPARE(main.status, thumbs::Status::Ok);
    QVERIFY(reddishPixel(main.image.pixel(Box.width() / 2, Box.height() / 2)));
    QCOMPARE(thumbs::fromMain(path, head, Box).status, thumbs::Status::Ok);
    // A name that does not exist is no other file's.
    QCOMPARE(thumbs::decodeFile(path + QLatin1Char('x'), Box).status, thumbs::Status::Unreadable);
}

int main(int argc, char **argv)
{
    // Started again by decodeInChild, to measure one decode in a fresh process.
    if (argc == 5 && qstrcmp(argv[1], "--decode-peak") == 0)
        return decodePeakChild(argc, argv);
    QCoreApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    ThumbnailDecoderTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "thumbnail_decoder_test.moc"
