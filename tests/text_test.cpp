#include "core/platform/text.h"

#include "core/platform/SystemError.h"

#include <QtTest>
#include <cerrno>

using namespace text;

class TextTest : public QObject {
    Q_OBJECT
private slots:
    void getFileName_data();
    void getFileName();
    void addSeparator_data();
    void addSeparator();
    void quoteIfSpaces_data();
    void quoteIfSpaces();
    void cleanName_data();
    void cleanName();
    void systemErrorsSpeakGerman_data();
    void systemErrorsSpeakGerman();
};

void TextTest::getFileName_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("windows path") << "C:\\Bilder\\a.jpg"
                                  << "a.jpg";
    QTest::newRow("unix path") << "/home/x/b.jpg"
                               << "b.jpg";
    QTest::newRow("backslash wins over a later slash") << "a\\b/c.jpg"
                                                       << "b/c.jpg";
    QTest::newRow("ends in backslash") << "C:\\Bilder\\"
                                       << "";
    QTest::newRow("ends in slash") << "/home/x/"
                                   << "";
    QTest::newRow("no separator") << "bild.jpg"
                                  << "bild.jpg";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("separator only") << "/"
                                    << "";
    QTest::newRow("colon is not a separator") << "C:bild.jpg"
                                              << "C:bild.jpg";
    QTest::newRow("blanks kept") << "/x/ a b .jpg "
                                 << " a b .jpg ";
}

void TextTest::getFileName()
{
    QFETCH(QString, path);
    QTEST(GetFileName(path), "expected");
}

void TextTest::addSeparator_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("windows directory") << "C:\\Bilder"
                                       << "C:\\Bilder\\";
    QTest::newRow("already ends in backslash") << "C:\\Bilder\\"
                                               << "C:\\Bilder\\";
    QTest::newRow("unix directory") << "/home/x"
                                    << "/home/x/";
    QTest::newRow("already ends in slash") << "/home/x/"
                                           << "/home/x/";
    QTest::newRow("backslash inside, slash at end") << "C:\\a/"
                                                    << "C:\\a/\\";
    QTest::newRow("no separator") << "Bilder"
                                  << "Bilder";
    QTest::newRow("drive only") << "C:"
                                << "C:";
    QTest::newRow("quoted windows directory") << "\"C:\\Bilder\""
                                              << "\"C:\\Bilder\\\"";
    QTest::newRow("quoted, separator already before quote") << "\"/x/\""
                                                            << "\"/x/\"";
    QTest::newRow("leading quote only untouched") << "\"/x"
                                                  << "\"/x/";
    QTest::newRow("a lone quote") << "\""
                                  << "\"";
    QTest::newRow("empty") << ""
                           << "";
}

void TextTest::addSeparator()
{
    QFETCH(QString, path);
    QTEST(AddSeparator(path), "expected");
}

void TextTest::quoteIfSpaces_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");
    QTest::newRow("space inside, two blanks each side") << "  C:\\My Pics\\a.jpg  "
                                                        << "\"C:\\My Pics\\a.jpg\"";
    QTest::newRow("no inner space, blanks trimmed") << " C:\\x.jpg "
                                                    << "C:\\x.jpg";
    QTest::newRow("already holds a quote") << " \"C:\\My Pics\" "
                                           << "\"C:\\My Pics\"";
    QTest::newRow("blanks only come back unchanged") << "   "
                                                     << "   ";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("tabs are not trimmed") << "\ta b\t"
                                          << "\"\ta b\t\"";
    QTest::newRow("tab is not a space") << "a\tb"
                                        << "a\tb";
}

void TextTest::quoteIfSpaces()
{
    QFETCH(QString, input);
    QTEST(QuoteIfSpaces(input), "expected");
}

void TextTest::cleanName_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");
    QTest::newRow("date with slashes") << "2004/05/06"
                                       << "2004_05_06";
    QTest::newRow("colon") << "a:b"
                           << "a_b";
    QTest::newRow("line break joined") << "Zeile1\r\nZeile2"
                                       << "Zeile1Zeile2";
    QTest::newRow("lone line feed and carriage return") << "a\nb\rc"
                                                        << "abc";
    QTest::newRow("wildcards pass") << "Bild*1"
                                    << "Bild*1";
    QTest::newRow("other forbidden characters pass") << "a?<>|b"
                                                     << "a?<>|b";
    QTest::newRow("double quote becomes apostrophe") << "\"x\""
                                                     << "'x'";
    QTest::newRow("backslash") << "a\\b"
                               << "a_b";
    QTest::newRow("not trimmed") << "  a  "
                                 << "  a  ";
    QTest::newRow("only removals") << "\r\n\r\n"
                                   << "";
    QTest::newRow("empty") << ""
                           << "";
}

void TextTest::cleanName()
{
    QFETCH(QString, input);
    QTEST(CleanName(input), "expected");
}

void TextTest::systemErrorsSpeakGerman_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("text");
    const QString noSpace = QStringLiteral("Auf dem Datenträger ist kein Platz mehr frei");
    QTest::newRow("EEXIST") << EEXIST << QStringLiteral("Eine Datei dieses Namens gibt es schon");
    QTest::newRow("ENOTEMPTY") << ENOTEMPTY << QStringLiteral("Eine Datei dieses Namens gibt es schon");
    QTest::newRow("EACCES") << EACCES << QStringLiteral("Keine Berechtigung");
    QTest::newRow("EPERM") << EPERM << QStringLiteral("Keine Berechtigung");
    QTest::newRow("EROFS") << EROFS << QStringLiteral("Der Datenträger ist schreibgeschützt");
    QTest::newRow("ENOSPC") << ENOSPC << noSpace;
    QTest::newRow("EDQUOT") << EDQUOT << noSpace;
    QTest::newRow("ENOENT") << ENOENT << QStringLiteral("Datei oder Verzeichnis nicht gefunden");
    QTest::newRow("EBUSY") << EBUSY << QStringLiteral("Die Datei wird gerade benutzt");
    QTest::newRow("ETXTBSY") << ETXTBSY << QStringLiteral("Die Datei wird gerade benutzt");
    QTest::newRow("EIO") << EIO << QStringLiteral("Der Datenträger meldet einen Lese- oder Schreibfehler");
    QTest::newRow("ENAMETOOLONG") << ENAMETOOLONG << QStringLiteral("Der Name ist zu lang");
    QTest::newRow("ENOTDIR") << ENOTDIR << QStringLiteral("Ein Teil des Pfades ist kein Verzeichnis");
    QTest::newRow("EISDIR") << EISDIR << QStringLiteral("Das ist ein Verzeichnis, keine Datei");
    QTest::newRow("ELOOP") << ELOOP << QStringLiteral("Der Pfad führt über einen symbolischen Verweis");
    QTest::newRow("EXDEV") << EXDEV << QStringLiteral("Die Datei liegt auf einem anderen Datenträger");
    QTest::newRow("EMFILE") << EMFILE << QStringLiteral("Es sind zu viele Dateien geöffnet");
    QTest::newRow("ENFILE") << ENFILE << QStringLiteral("Es sind zu viele Dateien geöffnet");
    QTest::newRow("ESTALE") << ESTALE << QStringLiteral("Die Verbindung zum Netzlaufwerk ist unterbrochen");
}

void TextTest::systemErrorsSpeakGerman()
{
    QFETCH(int, error);
    QTEST(platform::errorText(error), "text");
}

QTEST_APPLESS_MAIN(TextTest)
#include "text_test.moc"
