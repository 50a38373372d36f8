#include "core/settings/Ini.h"
#include "core/settings/Settings.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

// The remembered values as one typed object: read once with the reader's rules,
// written through at once, and kept in memory when the file cannot take them.
class SettingsTest : public QObject {
    Q_OBJECT
private slots:
    void valuesReadWithTheReadersRules_data();
    void valuesReadWithTheReadersRules();
    void settersWriteThroughAndReadBack();
    void dateFormatAndOrderAreRemembered_data();
    void dateFormatAndOrderAreRemembered();
    void unwritableFileKeepsValuesInMemoryAndReportsOnce_data();
    void unwritableFileKeepsValuesInMemoryAndReportsOnce();
};

namespace {

const Settings::Defaults defaults{QStringLiteral("/opt/namora/"), QStringLiteral("https://update.example")};

void writeFile(const QString &path, const QByteArray &content)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content);
}

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

void SettingsTest::valuesReadWithTheReadersRules_data()
{
    QTest::addColumn<QByteArray>("content"); // "<none>": no file
    QTest::addColumn<QString>("verzeichnis");
    QTest::addColumn<bool>("vollbild");
    QTest::addColumn<QString>("datum");
    QTest::addColumn<QString>("rechts");
    QTest::addColumn<bool>("bilder");
    QTest::addColumn<QString>("server");
    QTest::newRow("no file: every default") << QByteArray("<none>") << "/opt/namora/" << false << "1990.01.31"
                                            << "" << true << "https://update.example";
    QTest::newRow("stored values, blanks around them")
        << QByteArray(
               "[Einstellungen]\nVerzeichnis=  /home/u/Bilder/ \nVollbild=1\nLetztesDatum= 2024.05.01_\n"
               "RechtsAnf=_Rom\nBilderAnzeigen=0\nUpdateServer=https://u.example\n")
        << "/home/u/Bilder/" << true << "2024.05.01_"
        << "_Rom" << false << "https://u.example";
    QTest::newRow("empty values read as their defaults")
        << QByteArray("[Einstellungen]\nVerzeichnis=\nLetztesDatum=\nRechtsAnf=\nBilderAnzeigen=\n")
        << "/opt/namora/" << false << "1990.01.31"
        << "" << true << "https://update.example";
    QTest::newRow("only exactly 1 counts") << QByteArray("[einstellungen]\nvollbild=yes\nbilderanzeigen=2\n")
                                           << "/opt/namora/" << false << "1990.01.31"
                                           << "" << false << "https://update.example";
}

void SettingsTest::valuesReadWithTheReadersRules()
{
    QFETCH(QByteArray, content);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("namora.ini"));
    if (content != "<none>")
        writeFile(path, content);
    Settings s(path, defaults);
    s.load();
    QTEST(s.verzeichnis(), "verzeichnis");
    QTEST(s.vollbild(), "vollbild");
    QTEST(s.letztesDatum(), "datum");
    QTEST(s.rechtsAnf(), "rechts");
    QTEST(s.bilderAnzeigen(), "bilder");
    QTEST(s.updateServer(), "server");
    // Reading creates nothing.
    QCOMPARE(QFile::exists(path), content != "<none>");
}

void SettingsTest::settersWriteThroughAndReadBack()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("namora.ini"));
    Settings s(path, defaults);
    s.load();
    QSignalSpy failed(&s, &Settings::writeFailed);
    s.setLetztesDatum(QStringLiteral("2004_05_06 "));
    s.setBilderAnzeigen(false);
    s.setVerzeichnis(QStringLiteral("/home/u/Bilder/"));
    s.setVollbild(true);
    // Another reader of the file sees each value at once, trimmed.
    QCOMPARE(ini::IniRead(Settings::Section, QStringLiteral("LetztesDatum"), path, QString()),
             QStringLiteral("2004_05_06"));
    QCOMPARE(ini::IniRead(Settings::Section, QStringLiteral("BilderAnzeigen"), path, QString()),
             QStringLiteral("0"));
    QCOMPARE(ini::IniRead(Settings::Section, QStringLiteral("Vollbild"), path, QString()),
             QStringLiteral("1"));
    QCOMPARE(s.letztesDatum(), QStringLiteral("2004_05_06"));

    // An empty prefix reads back as the default, in memory as in the file.
    s.setLetztesDatum(QString());
    QCOMPARE(s.letztesDatum(), QStringLiteral("1990.01.31"));

    Settings again(path, defaults);
    again.load();
    QCOMPARE(again.verzeichnis(), QStringLiteral("/home/u/Bilder/"));
    QVERIFY(!again.bilderAnzeigen());
    QVERIFY(again.vollbild());
    QCOMPARE(failed.count(), 0);
}

void SettingsTest::dateFormatAndOrderAreRemembered_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("byDate");
    QTest::newRow("missing: defaults") << QByteArray("[Einstellungen]\n") << "yyyy.MM.dd" << false;
    QTest::newRow("stored")
        << QByteArray("[Einstellungen]\nDatumFormat=yyyy-MM-dd_HH.mm.ss\nSortierung=Aufnahmedatum\n")
        << "yyyy-MM-dd_HH.mm.ss" << true;
    QTest::newRow("empty format reads as default; order by name")
        << QByteArray("[Einstellungen]\nDatumFormat=\nSortierung=Name\n") << "yyyy.MM.dd" << false;
    QTest::newRow("unknown order is by name")
        << QByteArray("[Einstellungen]\nSortierung=Datum\n") << "yyyy.MM.dd" << false;
}

void SettingsTest::dateFormatAndOrderAreRemembered()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, byDate);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("namora.ini"));
    writeFile(path, content);
    Settings s(path, defaults);
    s.load();
    QTEST(s.datumFormat(), "format");
    QCOMPARE(s.sortByCaptureDate(), byDate);

    // Each setter writes through; another run reads the same back.
    s.setSortByCaptureDate(!byDate);
    s.setDatumFormat(QStringLiteral("dd.MM.yy"));
    QCOMPARE(ini::IniRead(Settings::Section, QStringLiteral("Sortierung"), path, QString()),
             byDate ? QStringLiteral("Name") : QStringLiteral("Aufnahmedatum"));
    Settings again(path, defaults);
    again.load();
    QCOMPARE(again.sortByCaptureDate(), !byDate);
    QCOMPARE(again.datumFormat(), QStringLiteral("dd.MM.yy"));
}

void SettingsTest::unwritableFileKeepsValuesInMemoryAndReportsOnce_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("directory"); // a directory stands where the file should be
    QTest::newRow("UTF-16 file") << QByteArray("\xFF\xFE[\0E\0]\0\n\0", 10) << false;
    QTest::newRow("a directory at the settings path") << QByteArray() << true;
}

void SettingsTest::unwritableFileKeepsValuesInMemoryAndReportsOnce()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, directory);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("namora.ini"));
    if (directory)
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("namora.ini")));
    else
        writeFile(path, content);
    Settings s(path, defaults);
    s.load();
    QSignalSpy failed(&s, &Settings::writeFailed);

    s.setLetztesDatum(QStringLiteral("2024.12.24_"));
    s.setRechtsAnf(QStringLiteral("_Rom"));
    s.setBilderAnzeigen(false);
    // What the user set is what the program goes on with, also at the next page.
    QCOMPARE(s.letztesDatum(), QStringLiteral("2024.12.24_"));
    QCOMPARE(s.rechtsAnf(), QStringLiteral("_Rom"));
    QVERIFY(!s.bilderAnzeigen());
    QCOMPARE(failed.count(), 1);
    QVERIFY(!failed.first().first().toString().isEmpty());
    QVERIFY(!s.firstFailure().isEmpty());
    if (!directory)
        QCOMPARE(fileBytes(path), content);

    // Once the file can be written, the next value written brings the earlier
    // ones along.
    if (directory)
        QVERIFY(QDir(path).removeRecursively());
    else
        QVERIFY(QFile::remove(path));
    s.setVerzeichnis(QStringLiteral("/tmp/"));
    Settings again(path, defaults);
    again.load();
    QCOMPARE(again.letztesDatum(), QStringLiteral("2024.12.24_"));
    QCOMPARE(again.rechtsAnf(), QStringLiteral("_Rom"));
    QVERIFY(!again.bilderAnzeigen());
    QCOMPARE(again.verzeichnis(), QStringLiteral("/tmp/"));
}

QTEST_APPLESS_MAIN(SettingsTest)
#include "settings_test.moc"
