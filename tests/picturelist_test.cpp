#include "core/pictures/PictureList.h"
#include "core/platform/FileNames.h"
#include "support/PermissionOverride.h"
#include "support/RawFiles.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

using namespace pages;
using testing::readRaw;
using testing::writeRaw;

namespace {
QStringList utf8(std::initializer_list<const char *> list)
{
    QStringList r;
    for (const char *s : list)
        r << QString::fromUtf8(s);
    return r;
}

void touch(const QString &path, const QByteArray &content = "x")
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(path));
    f.write(content);
}

} // namespace

class PictureListTest : public QObject {
    Q_OBJECT
private slots:
    void listsOnlyVisibleRegularJpegFiles();
    void listingIsInNaturalOrder_data();
    void listingIsInNaturalOrder();
    void naturalLessPairs_data();
    void naturalLessPairs();
    void naturalLessIsATotalOrder();
    void unlistableDirectoryGivesReason_data();
    void unlistableDirectoryGivesReason();
    void unreadableDirectoryGivesReason();
    void nonUtf8NameMapsBackToItsOwnFile();
    void fileNameBytesRoundTrip_data();
    void fileNameBytesRoundTrip();
    void longestNamesAreListed();
};

void PictureListTest::listsOnlyVisibleRegularJpegFiles()
{
    QTemporaryDir dir;
    const QDir d(dir.path());
    for (const char *name : {"a.jpg", "B.JPG", "c.Jpg", "c.png", ".hidden.jpg", "x.jpeg", "x.jpg.txt", "jpg",
                             "Xjpg", "trailing.jpg "})
        touch(d.filePath(QString::fromUtf8(name)));
    QVERIFY(d.mkdir(QStringLiteral("folder.jpg")));
    QVERIFY(QFile::link(d.filePath(QStringLiteral("a.jpg")), d.filePath(QStringLiteral("link.jpg"))));
    QVERIFY(
        QFile::link(d.filePath(QStringLiteral("missing.jpg")), d.filePath(QStringLiteral("dangling.jpg"))));
    QVERIFY(QFile::link(d.filePath(QStringLiteral("folder.jpg")), d.filePath(QStringLiteral("dirlink.jpg"))));
    ::mkfifo(QFile::encodeName(d.filePath(QStringLiteral("pipe.jpg"))).constData(), 0644);

    const PictureListing r = listPictures(dir.path());
    QVERIFY(r.ok);
    QVERIFY(r.reason.isEmpty());
    QCOMPARE(r.names, (QStringList{QStringLiteral("a.jpg"), QStringLiteral("B.JPG"), QStringLiteral("c.Jpg"),
                                   QStringLiteral("link.jpg"), QStringLiteral("x.jpeg")}));
    // A trailing separator, as PictureDir always has, lists the same.
    QCOMPARE(listPictures(dir.path() + QLatin1Char('/')).names, r.names);
}

void PictureListTest::listingIsInNaturalOrder_data()
{
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("numbers by value") << utf8({"IMG_2.jpg", "IMG_10.jpg", "IMG_100.jpg"});
    QTest::newRow("case ignored") << utf8({"a1.jpg", "B1.jpg", "c1.jpg"});
    QTest::newRow("leading zeros by value") << utf8({"x7.jpg", "x008.jpg", "x9.jpg", "x10.jpg"});
    QTest::newRow("several digit runs") << utf8({"2004_5_1.jpg", "2004_5_12.jpg", "2004_12_1.jpg"});
    QTest::newRow("camera names") << utf8(
        {"DSC00009.jpg", "DSC00010.jpg", "IMG_4711.JPG", "img_4712.jpg", "PXL_20230712_101000.jpg"});
    QTest::newRow("umlauts") << utf8({"Strand Rügen_1.jpg", "Strand Rügen_2.jpg", "Strand Rügen_10.jpg"});
    QTest::newRow("digit runs longer than 64 bits")
        << utf8({"n99999999999999999999.jpg", "n100000000000000000000.jpg"});
    QTest::newRow("umlauts with their base letter, not after Z")
        << utf8({"Ahorn.jpg", "\xC3\x84nderung.jpg", "Apfel.jpg", "Obst.jpg", "\xC3\x96l.jpg", "Otter.jpg",
                 "\xC3\xBC"
                 "ber.jpg",
                 "Ufer.jpg", "Zebra.jpg"});
    QTest::newRow("umlaut and plain letter interleave by number")
        << utf8({"Strand R\xC3\xBCgen_1.jpg", "Strand Rugen_2.jpg", "Strand R\xC3\xBCgen_10.jpg"});
    QTest::newRow("sharp s as ss") << utf8({"Ma\xC3\x9F.jpg", "Masse.jpg", "Mast.jpg"});
    QTest::newRow("capital sharp s as ss, numbers by value")
        << utf8({"GRO\xE1\xBA\x9E 2.jpg", "gross 10.jpg", "Gro\xC3\x9F 11.jpg", "Grosz.jpg"});
    QTest::newRow("accents dropped") << utf8({"Ecke.jpg",
                                              "\xC3\xA9"
                                              "clair.jpg",
                                              "Ende.jpg", "\xC3\x88ze.jpg",
                                              "Fa\xC3\xA7"
                                              "ade.jpg",
                                              "Facette.jpg"});
    QTest::newRow("accent ignored, numbers by value")
        << utf8({"Caf\xC3\xA9 2.jpg", "cafe 10.jpg", "Cafeteria.jpg"});
    QTest::newRow("decomposed umlaut sorts like the composed one")
        << utf8({"Ananas.jpg", "A\xCC\x88pfel.jpg", "Azur.jpg"});
    QTest::newRow("equal but for case and umlaut: code units decide")
        << utf8({"Apfel.jpg", "apfel.jpg", "\xC3\x84pfel.jpg", "\xC3\xA4pfel.jpg"});
    QTest::newRow("accents dropped in Greek too")
        << utf8({"\xCE\xB1\xCE\xB2.jpg", "\xCE\x86\xCE\xBB\xCF\x86\xCE\xB1.jpg", "\xCE\xB3.jpg"});
}

void PictureListTest::listingIsInNaturalOrder()
{
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    QStringList shuffled = expected;
    std::reverse(shuffled.begin(), shuffled.end());
    for (const QString &name : shuffled)
        touch(QDir(dir.path()).filePath(name));
    const PictureListing r = listPictures(dir.path());
    QVERIFY(r.ok);
    QCOMPARE(r.names, expected);
    // The listing sorts on its own keys; naturalLess must agree with it.
    for (qsizetype i = 1; i < expected.size(); ++i)
        QVERIFY2(naturalLess(expected.at(i - 1), expected.at(i)), qPrintable(expected.at(i)));
}

void PictureListTest::naturalLessPairs_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::newRow("2 before 10") << "IMG_2.jpg"
                                 << "IMG_10.jpg";
    QTest::newRow("case-insensitive") << "apfel.jpg"
                                      << "Birne.jpg";
    QTest::newRow("prefix first") << "a.jpg"
                                  << "a1.jpg";
    QTest::newRow("equal apart from case: upper first by code unit") << "A.jpg"
                                                                     << "a.jpg";
    QTest::newRow("equal apart from zeros: decided, not equal") << "IMG_01.jpg"
                                                                << "IMG_1.jpg";
    QTest::newRow("zero run before one") << "x0.jpg"
                                         << "x1.jpg";
    QTest::newRow("digits before letters") << "1.jpg"
                                           << "a.jpg";
    QTest::newRow("umlaut case ignored") << "äpfel1.jpg"
                                         << "Äpfel2.jpg";
    QTest::newRow("Ä before B") << "Änne.jpg"
                                << "Bernd.jpg";
    QTest::newRow("ö before z") << "öl.jpg"
                                << "zebra.jpg";
    QTest::newRow("é before f") << "éclair.jpg"
                                << "Fisch.jpg";
    QTest::newRow("ß equal to ss: code unit decides") << "Strasse.jpg"
                                                      << "Straße.jpg";
    QTest::newRow("ẞ equal to ß: code unit decides") << "STRAßE.jpg"
                                                     << "STRAẞE.jpg";
    QTest::newRow("ss then a number before ß then a larger one") << "Fuss 9.jpg"
                                                                 << "Fuß 10.jpg";
    QTest::newRow("byte that is not UTF-8 after the letters")
        << "cafe.jpg" << platform::decodeName("caf\xE9.jpg");
}

void PictureListTest::naturalLessPairs()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QVERIFY(naturalLess(a, b));
    QVERIFY(!naturalLess(b, a));
    QVERIFY(!naturalLess(a, a));
}

void PictureListTest::naturalLessIsATotalOrder()
{
    // std::sort on a comparison that is not a strict weak order is undefined
    // behaviour: check irreflexivity, asymmetry and transitivity on tricky names.
    QStringList names =
        utf8({"a",   "A",    "a0",  "a00", "a000", "a1",  "a01", "A01", "a001", "a10", "a010",
              "a2b", "a02b", "a2B", "b",   "0",    "00",  "",    "a 1", "a_1",  "a-1", "ä1",
              "Ä1",  "ß",    "ss",  "SS",  "1a",   "01a", "1A",  "9",   "10",   "009", "x\xEF\xBF\xBD"});
    // Letters that fold, decompose or vanish: composed and decomposed umlauts, a
    // lone accent, capital sharp s, the Kelvin and Ohm signs, Hangul composed
    // and as jamo, a letter beyond 16 bits, an accent between digits.
    names << utf8({"A\xCC\x88", "a\xCC\x88", "\xCC\x88", "\xE1\xBA\x9E", "S\xE1\xBA\x9E", "s\xC3\x9F",
                   "\xC3\xA9", "e\xCC\x81", "\xC3\x89", "\xE2\x84\xAA", "k", "\xE2\x84\xA6", "\xCF\x89",
                   "\xEA\xB0\x80", "\xE1\x84\x80\xE1\x85\xA1", "\xF0\x9D\x90\x80",
                   "1\xCC\x81"
                   "2",
                   "12"});
    // Bytes that are not UTF-8, as the listing's decoding gives them, and a lone
    // high surrogate.
    names << QStringLiteral("x") + QChar(0xDCFF) << QStringLiteral("x") + QChar(0xDC80)
          << platform::decodeName("caf\xE9") << platform::decodeName("caf\xC3") << QString(QChar(0xD835))
          << QString(QChar(0xD835)) + QStringLiteral("a");
    const qsizetype n = names.size();
    QList<bool> table(n * n);
    for (qsizetype i = 0; i < n; ++i)
        for (qsizetype j = 0; j < n; ++j)
            table[i * n + j] = naturalLess(names.at(i), names.at(j));
    const auto less = [&](qsizetype i, qsizetype j) { return table.at(i * n + j); };
    for (qsizetype i = 0; i < n; ++i) {
        const QString &a = names.at(i);
        QVERIFY2(!less(i, i), qPrintable(a));
        for (qsizetype j = 0; j < n; ++j) {
            const QString &b = names.at(j);
            if (a != b)
                QVERIFY2(less(i, j) != less(j, i), qPrintable(a + QLatin1String(" | ") + b));
            for (qsizetype k = 0; k < n; ++k) {
                if (less(i, j) && less(j, k))
                    QVERIFY2(less(i, k),
                             qPrintable(a + QLatin1String(" | ") + b + QLatin1String(" | ") + names.at(k)));
            }
        }
    }
}

void PictureListTest::unlistableDirectoryGivesReason_data()
{
    QTest::addColumn<QString>("subPath");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing directory") << "missing/"
                                       << "Datei oder Verzeichnis nicht gefunden";
    QTest::newRow("a file, not a directory") << "file.jpg/"
                                             << "Ein Teil des Pfades ist kein Verzeichnis";
    QTest::newRow("empty path") << "<empty>"
                                << "Datei oder Verzeichnis nicht gefunden";
}

void PictureListTest::unlistableDirectoryGivesReason()
{
    QFETCH(QString, subPath);
    QTemporaryDir dir;
    touch(QDir(dir.path()).filePath(QStringLiteral("file.jpg")));
    const QString path = subPath == QLatin1String("<empty>") ? QString() : QDir(dir.path()).filePath(subPath);
    const PictureListing r = listPictures(path);
    QVERIFY(!r.ok);
    QVERIFY(r.names.isEmpty());
    QTEST(r.reason, "reason");
}

void PictureListTest::unreadableDirectoryGivesReason()
{
    QTemporaryDir dir;
    touch(QDir(dir.path()).filePath(QStringLiteral("a.jpg")));
    QVERIFY(QFile::setPermissions(dir.path(), QFile::WriteOwner | QFile::ExeOwner));
    PictureListing r;
    {
        const testing::WithoutPermissionOverride asUser;
        QVERIFY2(asUser.active(), "cannot drop the permission override of root");
        r = listPictures(dir.path());
    }
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(!r.ok);
    QVERIFY(r.names.isEmpty());
    QCOMPARE(r.reason, QStringLiteral("Keine Berechtigung"));
}

void PictureListTest::nonUtf8NameMapsBackToItsOwnFile()
{
    // "caf\xE9.jpg" is Latin-1, not UTF-8; Qt's own decoding would turn it into the
    // name of the second file, which holds a real U+FFFD.
    QTemporaryDir dir;
    const QByteArray d = QFile::encodeName(dir.path()) + '/';
    QVERIFY(writeRaw(d + "caf\xE9.jpg", "latin1"));
    QVERIFY(writeRaw(d + "caf\xEF\xBF\xBD.jpg", "replacement"));
    QVERIFY(writeRaw(d + "\xFF\xFE.JPG", "garbage"));

    const PictureListing r = listPictures(dir.path());
    QVERIFY(r.ok);
    QCOMPARE(r.names.size(), 3);
    QCOMPARE(QSet<QString>(r.names.begin(), r.names.end()).size(), 3);
    QStringList contents;
    for (const QString &name : r.names) {
        const QByteArray path = platform::encodeName(dir.path() + QLatin1Char('/') + name);
        contents << QString::fromUtf8(readRaw(path));
    }
    contents.sort();
    QCOMPARE(contents, (utf8({"garbage", "latin1", "replacement"})));
    for (const QString &name : r.names) {
        const bool raw = name != QString::fromUtf8("caf\xEF\xBF\xBD.jpg");
        QCOMPARE(platform::needsRawEncoding(name), raw);
    }
    // QTemporaryDir cannot remove what Qt cannot name.
    for (const QString &name : r.names)
        ::unlink(platform::encodeName(dir.path() + QLatin1Char('/') + name).constData());
}

void PictureListTest::fileNameBytesRoundTrip_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("validUtf8");
    QTest::newRow("ascii") << QByteArray("IMG_1.jpg") << true;
    QTest::newRow("umlaut") << QByteArray("R\xC3\xBCgen.jpg") << true;
    QTest::newRow("emoji, 4 bytes") << QByteArray("\xF0\x9F\x98\x80.jpg") << true;
    QTest::newRow("literal U+FFFD") << QByteArray("\xEF\xBF\xBD") << true;
    QTest::newRow("leading byte-order mark stays part of the name") << QByteArray("\xEF\xBB\xBF\x18") << true;
    QTest::newRow("latin-1 byte") << QByteArray("caf\xE9") << false;
    QTest::newRow("overlong slash") << QByteArray("a\xC0\xAF") << false;
    QTest::newRow("encoded surrogate") << QByteArray("\xED\xB3\xBF") << false;
    QTest::newRow("beyond U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << false;
    QTest::newRow("truncated sequence at end") << QByteArray("ab\xE2\x82") << false;
    QTest::newRow("lone continuation bytes") << QByteArray("\x80\xBF") << false;
    QTest::newRow("all high bytes") << QByteArray("\xF5\xF6\xF7\xF8\xF9\xFA\xFB\xFC\xFD\xFE\xFF") << false;
}

void PictureListTest::fileNameBytesRoundTrip()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, validUtf8);
    const QString name = platform::decodeName(bytes);
    QCOMPARE(platform::encodeName(name), bytes);
    QCOMPARE(platform::needsRawEncoding(name), !validUtf8);
    if (validUtf8) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
        QCOMPARE(name, QString(utf8(bytes)));
    }
}

void PictureListTest::longestNamesAreListed()
{
    // 255 bytes is the longest name most Linux file systems take.
    QTemporaryDir dir;
    const QString ascii = QString(251, QLatin1Char('a')) + QStringLiteral(".jpg");
    QString umlauts = QString(125, QChar(u'ü')) + QStringLiteral("a.jpg"); // 250 + 5 bytes
    touch(QDir(dir.path()).filePath(ascii));
    touch(QDir(dir.path()).filePath(umlauts));
    const PictureListing r = listPictures(dir.path());
    QVERIFY(r.ok);
    QCOMPARE(r.names, (QStringList{ascii, umlauts}));
}

QTEST_GUILESS_MAIN(PictureListTest)
#include "picturelist_test.moc"
