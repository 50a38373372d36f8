#include "core/pages/PageModel.h"
#include "core/pictures/CaptureDate.h"
#include "core/pictures/DateReader.h"
#include "support/TestSupport.h"

#include "TestPictures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtTest>

#include <sys/stat.h>
#include <utime.h>

using dates::CaptureDate;
using dates::Source;

Q_DECLARE_METATYPE(dates::Source)
Q_DECLARE_METATYPE(testpics::CameraOptions)

class CaptureDateTest : public QObject {
    Q_OBJECT
private slots:
    void valuesAsCamerasAndEditorsWriteThem_data();
    void valuesAsCamerasAndEditorsWriteThem();
    void sourcesAreAskedInOrderAndBadValuesFallThrough_data();
    void sourcesAreAskedInOrderAndBadValuesFallThrough();
    void everyCameraPictureGivesItsDateAndSource();
    void prefixIsFormattedCleanedAndSeparated_data();
    void prefixIsFormattedCleanedAndSeparated();
    void formatsThatShowNoDateAreRefused_data();
    void formatsThatShowNoDateAreRefused();
    void readerKeepsDatesByFileIdentity();
    void twoCamerasInterleaveInShootingOrder();
    void listingInDateOrderWaitsAndShowsProgress();
    void pictureAskedForKeepsItsPageInDateOrder();
};

namespace {

QString writeCamera(const QString &dir, const QString &name, const testpics::CameraOptions &o)
{
    const QString path = QDir(dir).filePath(name);
    if (!testpics::writeCameraPhoto(path, QSize(64, 48), int(qHash(name) % 100), o))
        return QString();
    return path;
}

testpics::CameraOptions withDate(const QString &original)
{
    testpics::CameraOptions o;
    o.dateTimeOriginal = original;
    o.thumbnailSize = QSize();
    return o;
}

// Sets a file's modification time.
bool setModified(const QString &path, const QDateTime &when)
{
    struct utimbuf t;
    t.actime = t.modtime = time_t(when.toSecsSinceEpoch());
    return ::utime(QFile::encodeName(path).constData(), &t) == 0;
}

QString when(const CaptureDate &d)
{
    return d.date.toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char(' ') +
           d.time.toString(QStringLiteral("HH:mm:ss.zzz"));
}

QString xmpPacket(const QString &body)
{
    return QStringLiteral("<?xpacket begin=\"\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
                          "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF><rdf:Description ") +
           body + QStringLiteral("</rdf:Description></rdf:RDF></x:xmpmeta>\n<?xpacket end=\"w\"?>");
}

} // namespace

void CaptureDateTest::valuesAsCamerasAndEditorsWriteThem_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("subSec");
    QTest::addColumn<QString>("offset");
    QTest::addColumn<QString>("expected");  // "" when no date
    QTest::addColumn<int>("offsetMinutes"); // -9999 for none

    const int none = -9999;
    QTest::newRow("EXIF") << "2008:05:30 10:00:00"
                          << ""
                          << ""
                          << "2008-05-30 10:00:00.000" << none;
    QTest::newRow("EXIF with separate fraction and offset") << "2024:05:07 09:33:04"
                                                            << "046"
                                                            << "+08:00"
                                                            << "2024-05-07 09:33:04.046" << 480;
    QTest::newRow("long fraction is cut to ms") << "2018:07:25 16:34:23"
                                                << "935476"
                                                << ""
                                                << "2018-07-25 16:34:23.935" << none;
    QTest::newRow("short fraction is tenths") << "2019:10:26 16:07:24"
                                              << "54"
                                              << "-0530"
                                              << "2019-10-26 16:07:24.540" << -330;
    QTest::newRow("malformed fraction and offset are left out") << "2019:10:26 16:07:24"
                                                                << "5x"
                                                                << "+8"
                                                                << "2019-10-26 16:07:24.000" << none;
    QTest::newRow("blanks around") << "  2008:05:30 10:00:00  "
                                   << ""
                                   << ""
                                   << "2008-05-30 10:00:00.000" << none;
    QTest::newRow("XMP with fraction and zone") << "2009-06-24T09:41:07.72+01:00"
                                                << ""
                                                << ""
                                                << "2009-06-24 09:41:07.720" << 60;
    QTest::newRow("XMP without seconds, UTC") << "2019-03-13T17:52Z"
                                              << ""
                                              << ""
                                              << "2019-03-13 17:52:00.000" << 0;
    QTest::newRow("XMP day only") << "2009-06-24"
                                  << ""
                                  << ""
                                  << "2009-06-24 00:00:00.000" << none;
    QTest::newRow("placeholder") << "0000:00:00 00:00:00"
                                 << ""
                                 << ""
                                 << "" << none;
    QTest::newRow("blanks as written by some cameras") << "    :  :     :  :  "
                                                       << ""
                                                       << ""
                                                       << "" << none;
    QTest::newRow("empty") << ""
                           << ""
                           << ""
                           << "" << none;
    QTest::newRow("impossible day") << "2019:02:30 10:00:00"
                                    << ""
                                    << ""
                                    << "" << none;
    QTest::newRow("impossible hour") << "2019:02:03 24:00:00"
                                     << ""
                                     << ""
                                     << "" << none;
    QTest::newRow("year and month only") << "2019-02"
                                         << ""
                                         << ""
                                         << "" << none;
    QTest::newRow("mixed separators") << "2019:02-03 10:00:00"
                                      << ""
                                      << ""
                                      << "" << none;
    QTest::newRow("garbage after the time") << "2019:02:03 10:00:00 abc"
                                            << ""
                                            << ""
                                            << "" << none;
    QTest::newRow("XMP year zero") << "0-00-00T00:00:00-05:00"
                                   << ""
                                   << ""
                                   << "" << none;
}

void CaptureDateTest::valuesAsCamerasAndEditorsWriteThem()
{
    QFETCH(QString, value);
    QFETCH(QString, subSec);
    QFETCH(QString, offset);
    QFETCH(QString, expected);
    QFETCH(int, offsetMinutes);
    const auto d = dates::parseDateTime(value, Source::ExifOriginal, subSec, offset);
    QCOMPARE(d.has_value(), !expected.isEmpty());
    if (!d)
        return;
    QCOMPARE(when(*d), expected);
    QCOMPARE(d->offsetSeconds.has_value(), offsetMinutes != -9999);
    if (d->offsetSeconds)
        QCOMPARE(*d->offsetSeconds, offsetMinutes * 60);
}

void CaptureDateTest::sourcesAreAskedInOrderAndBadValuesFallThrough_data()
{
    QTest::addColumn<testpics::CameraOptions>("options");
    QTest::addColumn<Source>("source");
    QTest::addColumn<QString>("expected");

    QTest::newRow("DateTimeOriginal first") << withDate(QStringLiteral("2008:05:30 10:00:00"))
                                            << Source::ExifOriginal << "2008-05-30 10:00:00.000";
    testpics::CameraOptions o = withDate(QStringLiteral("0000:00:00 00:00:00"));
    o.exifText = {{0x9004, QStringLiteral("2008:05:31 11:00:00")}, {0x9292, QStringLiteral("5")}};
    o.ifd0Text = {{0x0132, QStringLiteral("2010:01:01 00:00:00")}};
    QTest::newRow("placeholder: DateTimeDigitized, with its fraction")
        << o << Source::ExifDigitized << "2008-05-31 11:00:00.500";

    o = withDate(QStringLiteral("2019:02:30 10:00:00"));
    o.exifText = {{0x9004, QStringLiteral("    :  :     :  :  ")}};
    o.ifd0Text = {{0x0132, QStringLiteral("2010:01:01 08:00:00")}};
    QTest::newRow("impossible, blank: DateTime of IFD0")
        << o << Source::ExifDateTime << "2010-01-01 08:00:00.000";

    o = withDate(QString());
    o.ifd0Text = {{0x0132, QStringLiteral("2010:01:01 08:00:00")}};
    o.xmp = xmpPacket(QStringLiteral("xmlns:photoshop=\"http://ns.adobe.com/photoshop/1.0/\" "
                                     "photoshop:DateCreated=\"2007-04-19T11:03:15-06:00\">"));
    QTest::newRow("XMP before the file's change date")
        << o << Source::XmpDateCreated << "2007-04-19 11:03:15.000";

    o = testpics::CameraOptions();
    o.exif = false;
    o.xmp = xmpPacket(
        QStringLiteral("xmlns:exif=\"http://ns.adobe.com/exif/1.0/\">\n"
                       "  <exif:DateTimeOriginal>2019-03-13T17:52:45-07:00</exif:DateTimeOriginal>\n"));
    QTest::newRow("XMP only, as an element") << o << Source::XmpDateTimeOriginal << "2019-03-13 17:52:45.000";

    o.xmp = xmpPacket(QStringLiteral("photoshop:DateCreated=\"\" xmp:CreateDateX=\"2001-01-01\" "
                                     "xmp:CreateDate='2015-06-12T13:40:32.41'>"));
    QTest::newRow("XMP: empty value and longer name skipped")
        << o << Source::XmpCreateDate << "2015-06-12 13:40:32.410";

    o.xmp = xmpPacket(QStringLiteral("><exif:DateTimeOriginal> </exif:DateTimeOriginal>"
                                     "<rdf:Description exif:DateTimeOriginal=\"2020-02-02\">"));
    QTest::newRow("XMP: an empty element and its closing tag are passed")
        << o << Source::XmpDateTimeOriginal << "2020-02-02 00:00:00.000";

    o.xmp = xmpPacket(QStringLiteral("xmp:CreateDate=\"2020-02-02") + QString(80, QLatin1Char('1')) +
                      QStringLiteral("\">"));
    QTest::newRow("XMP: an overlong value is none") << o << Source::FileTime << "";

    o = withDate(QStringLiteral("2019:02:03"));
    QTest::newRow("EXIF day only") << o << Source::ExifOriginal << "2019-02-03 00:00:00.000";
}

void CaptureDateTest::sourcesAreAskedInOrderAndBadValuesFallThrough()
{
    QFETCH(testpics::CameraOptions, options);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    const QString path = writeCamera(dir.path(), QStringLiteral("p.jpg"), options);
    QVERIFY(!path.isEmpty());
    const QDateTime modified(QDate(2001, 2, 3), QTime(4, 5, 6));
    QVERIFY(setModified(path, modified));
    const CaptureDate d = dates::readCaptureDate(path);
    QTEST(d.source, "source");
    if (d.source == Source::FileTime)
        QCOMPARE(d.dateTime().toMSecsSinceEpoch(), modified.toMSecsSinceEpoch());
    else
        QCOMPARE(when(d), expected);
}

void CaptureDateTest::everyCameraPictureGivesItsDateAndSource()
{
    const QString photos = testing::photosDir();
    if (photos.isEmpty())
        QSKIP("the camera pictures (../shared/testdata/photos) are not here");
    QFile manifest(QDir(photos).filePath(QStringLiteral("MANIFEST.tsv")));
    QVERIFY(manifest.open(QIODevice::ReadOnly));
    // Files without a date of EXIF or XMP that the manifest names, read by hand:
    // their IFD0 DateTime, when the file was last changed.
    const QHash<QString, QString> changeDates = {
        {QStringLiteral("exif-with-interop-subdir-R98.jpg"), QStringLiteral("2004:12:01 13:08:17")},
        {QStringLiteral("infinite_loop_exif.jpg"), QStringLiteral("2007:05:10 19:04:16")},
        {QStringLiteral("pil_sample_cmyk.jpg"), QStringLiteral("2009:03:06 22:15:00")},
    };
    const QRegularExpression field(QStringLiteral("(?:^|; )(\\w+)=([^;]*)"));
    int files = 0, fromPicture = 0;
    const QStringList lines =
        QString::fromUtf8(manifest.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : lines.mid(1)) {
        const QStringList columns = line.split(QLatin1Char('\t'));
        QVERIFY2(columns.size() >= 6, qPrintable(line));
        const QString name = columns.at(3);
        QHash<QString, QString> props;
        for (auto it = field.globalMatch(columns.at(5)); it.hasNext();) {
            const auto m = it.next();
            props.insert(m.captured(1), m.captured(2).trimmed());
        }
        const QString path = QDir(photos).filePath(name);
        const CaptureDate d = dates::readCaptureDate(path);
        ++files;
        const QString exifDate = props.value(QStringLiteral("DateTimeOriginal"));
        const auto original = dates::parseDateTime(exifDate, Source::ExifOriginal);
        Source source = Source::FileTime;
        QString expected;
        if (original) {
            source = Source::ExifOriginal;
            expected = exifDate;
        } else if (props.contains(QStringLiteral("xmp_DateTimeOriginal"))) {
            source = Source::XmpDateTimeOriginal;
            expected = props.value(QStringLiteral("xmp_DateTimeOriginal"));
        } else if (props.contains(QStringLiteral("iptc_DateCreated"))) {
            // Kept in the XMP packet's photoshop:DateCreated as well.
            source = Source::XmpDateCreated;
            expected = props.value(QStringLiteral("iptc_DateCreated"));
        } else if (changeDates.contains(name)) {
            source = Source::ExifDateTime;
            expected = changeDates.value(name);
        }
        QVERIFY2(d.source == source,
                 qPrintable(name + QStringLiteral(": source ") + dates::sourceName(d.source)));
        if (source == Source::FileTime) {
            // Broken files too: the file's time, without a crash.
            QCOMPARE(d.dateTime().toSecsSinceEpoch(), QFileInfo(path).lastModified().toSecsSinceEpoch());
            QVERIFY(dates::describe(d).contains(QStringLiteral("Achtung")));
            continue;
        }
        ++fromPicture;
        // The manifest writes dates as EXIF does, with the XMP offset behind them.
        const auto want = dates::parseDateTime(expected.left(19), source, {}, expected.mid(19));
        QVERIFY2(want, qPrintable(name + QStringLiteral(": manifest value ") + expected));
        QCOMPARE(d.date, want->date);
        QCOMPARE(d.time.toString(QStringLiteral("HH:mm:ss")),
                 want->time.toString(QStringLiteral("HH:mm:ss")));
        if (want->offsetSeconds)
            QCOMPARE(d.offsetSeconds, want->offsetSeconds);
        QVERIFY2(dates::describe(d).contains(dates::sourceName(source)), qPrintable(name));
    }
    QCOMPARE(files, 53);
    QCOMPARE(fromPicture, 28); // 23 with DateTimeOriginal, 2 with XMP, 3 with DateTime only
}

void CaptureDateTest::prefixIsFormattedCleanedAndSeparated_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("jahrText");
    QTest::addColumn<QString>("prefix");
    QTest::newRow("default, digit last: underscore") << "yyyy.MM.dd"
                                                     << "1990.01.31"
                                                     << "2008.05.30_";
    QTest::newRow("separator from the prefix box") << "yyyy.MM.dd"
                                                   << "1990.01.31-"
                                                   << "2008.05.30-";
    QTest::newRow("letter last: underscore") << "yyyy.MM.dd"
                                             << "Urlaub"
                                             << "2008.05.30_";
    QTest::newRow("empty prefix box: underscore") << "yyyy.MM.dd"
                                                  << ""
                                                  << "2008.05.30_";
    QTest::newRow("date and time") << "yyyy-MM-dd_HH.mm.ss"
                                   << "x "
                                   << "2008-05-30_10.07.09 ";
    QTest::newRow("colons and slashes cleaned") << "dd/MM/yyyy HH:mm"
                                                << "a"
                                                << "30_05_2008 10_07_";
}

void CaptureDateTest::prefixIsFormattedCleanedAndSeparated()
{
    QFETCH(QString, format);
    QFETCH(QString, jahrText);
    const auto d = dates::parseDateTime(QStringLiteral("2008:05:30 10:07:09"), Source::ExifOriginal);
    QVERIFY(d);
    QTEST(dates::prefixFor(*d, format, dates::separatorFor(jahrText)), "prefix");
}

void CaptureDateTest::formatsThatShowNoDateAreRefused_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("usable");
    QTest::newRow("default") << "yyyy.MM.dd" << true;
    QTest::newRow("time only") << "HH.mm" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("blanks") << "   " << false;
    QTest::newRow("quoted text only") << "'Urlaub'" << false;
    QTest::newRow("overlong") << QString(65, QLatin1Char('y')) << false;
}

void CaptureDateTest::formatsThatShowNoDateAreRefused()
{
    QFETCH(QString, format);
    QTEST(dates::isUsableFormat(format), "usable");
}

void CaptureDateTest::readerKeepsDatesByFileIdentity()
{
    QTemporaryDir dir;
    const QString a =
        writeCamera(dir.path(), QStringLiteral("a.jpg"), withDate(QStringLiteral("2008:05:30 10:00:00")));
    const QString b =
        writeCamera(dir.path(), QStringLiteral("b.jpg"), withDate(QStringLiteral("2008:05:31 10:00:00")));
    QVERIFY(!a.isEmpty() && !b.isEmpty());
    dates::DateReader reader;
    QSignalSpy finished(&reader, &dates::DateReader::finished);
    QList<dates::Dated> got;
    connect(&reader, &dates::DateReader::datesRead, this,
            [&](int, const QList<dates::Dated> &batch) { got += batch; });
    const auto readAll = [&](const QStringList &paths) {
        got.clear();
        finished.clear();
        reader.read(paths);
        QVERIFY2(finished.count() == 1 || finished.wait(10000), "the reader did not finish");
    };

    readAll({a, b});
    QCOMPARE(got.size(), 2);
    QCOMPARE(reader.filesRead(), 2);
    // Read again, and under a new name: from the cache.
    const QString renamed = QDir(dir.path()).filePath(QStringLiteral("c.jpg"));
    QVERIFY(QFile::rename(a, renamed));
    readAll({renamed, b});
    QCOMPARE(reader.filesRead(), 2);
    QCOMPARE(got.at(0).index, 0);
    // A changed file (another time) is read again, and has its new date.
    QFile::remove(b);
    QVERIFY(!writeCamera(dir.path(), QStringLiteral("b.jpg"), withDate(QStringLiteral("2011:01:01 10:00:00")))
                 .isEmpty());
    QVERIFY(setModified(b, QDateTime::currentDateTime().addDays(-3)));
    readAll({b});
    QCOMPARE(reader.filesRead(), 3);
    QCOMPARE(got.at(0).date.date, QDate(2011, 1, 1));
}

void CaptureDateTest::twoCamerasInterleaveInShootingOrder()
{
    QTemporaryDir dir;
    // Camera A names IMG_, camera B DSC_; by name all of B comes first.
    const QList<QPair<QString, QString>> shots = {
        {QStringLiteral("IMG_0001.jpg"), QStringLiteral("2023:07:12 10:00:00")},
        {QStringLiteral("IMG_0002.jpg"), QStringLiteral("2023:07:12 10:20:00")},
        {QStringLiteral("IMG_0010.jpg"), QStringLiteral("2023:07:12 10:40:00")},
        {QStringLiteral("DSC_0005.jpg"), QStringLiteral("2023:07:12 10:10:00")},
        {QStringLiteral("DSC_0006.jpg"), QStringLiteral("2023:07:12 10:30:00")},
        // Same second as IMG_0010: the name decides.
        {QStringLiteral("DSC_0007.jpg"), QStringLiteral("2023:07:12 10:40:00")},
        // No date of its own: last, in name order, whatever the file's time.
        {QStringLiteral("Scan 2.jpg"), QString()},
        {QStringLiteral("Ansicht.jpg"), QString()},
    };
    for (const auto &s : shots) {
        const QString path = writeCamera(dir.path(), s.first, withDate(s.second));
        QVERIFY(!path.isEmpty());
        QVERIFY(setModified(path, QDateTime(QDate(2000, 1, 1), QTime(0, 0))));
    }
    PageModel model;
    model.setOrder(PageModel::Order::CaptureDate);
    dates::DateReader reader;
    connect(&model, &PageModel::orderingStarted, &reader, [&] { reader.read(model.orderingPaths()); });
    connect(&reader, &dates::DateReader::datesRead, &model,
            [&](int, const QList<dates::Dated> &batch) { model.setOrderingDates(batch); });
    QSignalSpy shown(&model, &PageModel::pageShown);
    model.load(dir.path());
    QVERIFY(model.isOrdering());
    QCOMPARE(model.fileCount(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!model.isOrdering(), 10000);
    QCOMPARE(model.fileNames().join(QLatin1Char(',')),
             QStringLiteral("IMG_0001.jpg,DSC_0005.jpg,IMG_0002.jpg,DSC_0006.jpg,DSC_0007.jpg,IMG_0010.jpg,"
                            "Ansicht.jpg,Scan 2.jpg"));
    QCOMPARE(model.pageIndex(), 0);
    QVERIFY(!shown.isEmpty());
    // Each record keeps the date it was ordered by.
    QCOMPARE(model.pictures().at(1).date->source, Source::ExifOriginal);
    QCOMPARE(model.pictures().at(7).date->source, Source::FileTime);

    // Back to names: at once.
    model.setOrder(PageModel::Order::Name);
    QCOMPARE(model.fileNames().first(), QStringLiteral("Ansicht.jpg"));
    QVERIFY(!model.isOrdering());
}

void CaptureDateTest::listingInDateOrderWaitsAndShowsProgress()
{
    QTemporaryDir dir;
    QStringList names;
    for (int i = 0; i < 100; ++i)
        names << QStringLiteral("p%1.jpg").arg(i);
    testing::writePictures(dir.path(), names);
    PageModel model;
    model.setOrder(PageModel::Order::CaptureDate);
    model.load(dir.path());
    QVERIFY(model.isOrdering());
    QCOMPARE(model.counterCaption(), QStringLiteral("Aufnahmedaten\n0 / 100"));
    QSignalSpy progressed(&model, &PageModel::orderingProgressed);
    QList<dates::Dated> first;
    for (int i = 0; i < 40; ++i)
        first << dates::Dated{i, CaptureDate{}};
    model.setOrderingDates(first);
    QCOMPARE(progressed.count(), 1);
    QCOMPARE(model.counterCaption(), QStringLiteral("Aufnahmedaten\n40 / 100"));
    // A typed name cannot reach a picture while the list waits: no page.
    QVERIFY(!model.isFilled(0));
    // A new listing starts over; the dates of the old one are not counted.
    model.load(dir.path());
    QCOMPARE(model.orderingDone(), 0);
}

void CaptureDateTest::pictureAskedForKeepsItsPageInDateOrder()
{
    // "Open with" on p0.jpg: shot last, it ends on the last page once the dates
    // are in, and that page is the one shown.
    QTemporaryDir dir;
    QStringList names;
    for (int i = 0; i < 30; ++i)
        names << QStringLiteral("p%1.jpg").arg(i, 2, 10, QLatin1Char('0'));
    testing::writePictures(dir.path(), names);
    PageModel model;
    model.setLastSlot(9);
    model.setOrder(PageModel::Order::CaptureDate);
    model.load(dir.path());
    model.setPageOf(QStringLiteral("p00.jpg"));
    model.showPage(true);
    QList<dates::Dated> all;
    for (int i = 0; i < 30; ++i) {
        CaptureDate d;
        d.source = Source::ExifOriginal;
        d.date = QDate(2024, 7, 1).addDays(i == 0 ? 100 : i);
        all << dates::Dated{i, d};
    }
    model.setOrderingDates(all);
    QVERIFY(!model.isOrdering());
    QCOMPARE(model.pageIndex(), 2);
    QCOMPARE(model.fileName(model.listIndex(9)), QStringLiteral("p00.jpg"));
    // A new listing forgets the wish.
    model.load(dir.path());
    model.setOrderingDates(all);
    QCOMPARE(model.pageIndex(), 0);
}

QTEST_GUILESS_MAIN(CaptureDateTest)
#include "capturedate_test.moc"
