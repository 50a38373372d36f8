#include "core/pictures/PictureList.h"
#include "core/platform/FileNames.h"
#include "core/settings/Ini.h"
#include "support/PermissionOverride.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace ini;

namespace {
const QString Section = QStringLiteral("Einstellungen");

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// Bytes of a literal that may hold NUL characters.
template <size_t N> QByteArray raw(const char (&s)[N])
{
    return QByteArray(s, qsizetype(N - 1));
}

// The permission bits of path, following links; -1 when it cannot be asked.
int modeOf(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 07777);
}

bool setMode(const QString &path, int mode)
{
    return ::chmod(QFile::encodeName(path).constData(), mode_t(mode)) == 0;
}

// Sets the process's umask while it lives.
class Umask {
public:
    explicit Umask(mode_t mask) : m_saved(::umask(mask)) {}
    ~Umask() { ::umask(m_saved); }
    Umask(const Umask &) = delete;
    Umask &operator=(const Umask &) = delete;

private:
    mode_t m_saved;
};

// Points HOME, and with it the configuration directory of QStandardPaths' test
// mode, at another directory while it lives.
class Home {
public:
    explicit Home(const QString &path) : m_saved(qgetenv("HOME"))
    {
        qputenv("HOME", QFile::encodeName(path));
    }
    ~Home() { qputenv("HOME", m_saved); }
    Home(const Home &) = delete;
    Home &operator=(const Home &) = delete;

private:
    QByteArray m_saved;
};
} // namespace

class IniTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void readFindsValue_data();
    void readFindsValue();
    void writeKeepsOtherLines_data();
    void writeKeepsOtherLines();
    void valuesRoundTrip_data();
    void valuesRoundTrip();

    void firstRunReadsDefaultsAndCreatesNothing();
    void firstWriteCreatesSectionAndKey();
    void writeWithoutCreateLeavesMissingFileAlone();
    void refusedWriteLeavesFileUnchanged_data();
    void refusedWriteLeavesFileUnchanged();
    void oversizedFileReadsDefaultsAndIsNotTruncated();
    void replaceLeavesNoTemporaryFile();
    void writeKeepsPermissionsAndFollowsLink();
    void unwritableDirectoryReportsFailed();
    void unreadableFileIsNotOverwritten();
    void readOnlyFileIsNotReplaced();
    void directoryAtSettingsPathIsNotAFile();
    void newFileIsPrivateWhateverTheUmask_data();
    void newFileIsPrivateWhateverTheUmask();
    void existingFileKeepsItsMode_data();
    void existingFileKeepsItsMode();
    void fileWritableByOthersIsRefusedAndLeftAlone_data();
    void fileWritableByOthersIsRefusedAndLeftAlone();

    void settingsPathBesideWritableProgram();
    void settingsPathFallsBackToConfigDir_data();
    void settingsPathFallsBackToConfigDir();
    void settingsPathFallsBackForReadOnlyProgramDir();
    void configDirectoriesCreatedPrivateWhateverTheUmask();
    void programDirectoryModeIsNotTouched();
};

void IniTest::readFindsValue_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("defaultValue");
    QTest::addColumn<QString>("expected");

    const QByteArray basic = "[Einstellungen]\nVerzeichnis=/home/x/\nLetztesDatum=\nRechtsAnf=\n"
                             "BilderAnzeigen=0\nVollbild=  1  \n";
    QTest::newRow("plain value") << basic << "Verzeichnis"
                                 << "/d/"
                                 << "/home/x/";
    QTest::newRow("empty date reads its default") << basic << "LetztesDatum"
                                                  << "1990.01.31"
                                                  << "1990.01.31";
    QTest::newRow("empty suffix reads empty") << basic << "RechtsAnf"
                                              << ""
                                              << "";
    QTest::newRow("BilderAnzeigen 0 is not the default 1") << basic << "BilderAnzeigen"
                                                           << "1"
                                                           << "0";
    QTest::newRow("missing key reads default") << basic << "Fehlt"
                                               << "dflt"
                                               << "dflt";
    QTest::newRow("blanks around value trimmed") << basic << "Vollbild"
                                                 << "0"
                                                 << "1";
    QTest::newRow("key matched regardless of case") << basic << "VERZEICHNIS"
                                                    << ""
                                                    << "/home/x/";
    QTest::newRow("section matched regardless of case")
        << QByteArray("[einstellungen]\nRechtsAnf=x\n") << "RechtsAnf"
        << ""
        << "x";
    QTest::newRow("blanks around section and key names")
        << QByteArray("  [ Einstellungen ]  \n  RechtsAnf  =  x y  \n") << "RechtsAnf"
        << ""
        << "x y";
    QTest::newRow("value keeps later equals signs")
        << QByteArray("[Einstellungen]\nRechtsAnf=a=b\n") << "RechtsAnf"
        << ""
        << "a=b";
    QTest::newRow("key in another section is not found")
        << QByteArray("[Andere]\nRechtsAnf=x\n[Einstellungen]\n") << "RechtsAnf"
        << "d"
        << "d";
    QTest::newRow("key outside any section is not found")
        << QByteArray("RechtsAnf=x\n[Einstellungen]\nVollbild=1\n") << "RechtsAnf"
        << "d"
        << "d";
    QTest::newRow("duplicate key: first wins")
        << QByteArray("[Einstellungen]\nRechtsAnf=first\nRechtsAnf=second\n") << "RechtsAnf"
        << ""
        << "first";
    QTest::newRow("duplicate section: first key line wins")
        << QByteArray("[Einstellungen]\nRechtsAnf=first\n[X]\n[Einstellungen]\nRechtsAnf=second\n")
        << "RechtsAnf"
        << ""
        << "first";
    QTest::newRow("duplicate section: key only in the second")
        << QByteArray("[Einstellungen]\nVollbild=1\n[Einstellungen]\nRechtsAnf=second\n") << "RechtsAnf"
        << ""
        << "second";
    QTest::newRow("comment lines ignored")
        << QByteArray("[Einstellungen]\n;RechtsAnf=c\n#RechtsAnf=d\nRechtsAnf=x\n") << "RechtsAnf"
        << ""
        << "x";
    QTest::newRow("byte-order mark before first section")
        << QByteArray("\xEF\xBB\xBF[Einstellungen]\nRechtsAnf=x\n") << "RechtsAnf"
        << ""
        << "x";
    QTest::newRow("CRLF line ends") << QByteArray("[Einstellungen]\r\nRechtsAnf=x\r\nVollbild=1\r\n")
                                    << "RechtsAnf"
                                    << ""
                                    << "x";
    QTest::newRow("last line without line end") << QByteArray("[Einstellungen]\nRechtsAnf=x") << "RechtsAnf"
                                                << ""
                                                << "x";
    QTest::newRow("UTF-8 value") << QByteArray("[Einstellungen]\nRechtsAnf=Rügen\n") << "RechtsAnf"
                                 << "" << QStringLiteral("Rügen");
    QTest::newRow("binary garbage around the key")
        << raw("\x00\xFF\xFE garbage\n[Einstellungen]\n\x01\x02\x80=\xC3\n\x00\nRechtsAnf=x\n") << "RechtsAnf"
        << ""
        << "x";
    QTest::newRow("only garbage reads default") << raw("\x00\x01\x02\xFF\xFE\xFD") << "RechtsAnf"
                                                << "d"
                                                << "d";
    QTest::newRow("UTF-16 file reads default") << raw("\xFF\xFE[\0E\0]\0") << "RechtsAnf"
                                               << "d"
                                               << "d";
    QTest::newRow("unclosed section header is not a section")
        << QByteArray("[Einstellungen\nRechtsAnf=x\n") << "RechtsAnf"
        << "d"
        << "d";
    QTest::newRow("stored value beyond the limit reads default")
        << QByteArray("[Einstellungen]\nVerzeichnis=/" + QByteArray(MaxValueLength, 'a') + "\n")
        << "Verzeichnis"
        << "d"
        << "d";
}

void IniTest::readFindsValue()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, key);
    QFETCH(QString, defaultValue);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("n.ini"));
    writeBytes(path, content);
    QTEST(IniRead(Section, key, path, defaultValue), "expected");
    QCOMPARE(readBytes(path), content); // reading never changes the file
}

void IniTest::writeKeepsOtherLines_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("replace in place, comments and other sections kept")
        << QByteArray(
               "; mine\n[Andere]\nx=1\n\n[Einstellungen]\nVollbild=0\n# note\nRechtsAnf=a\n\n[Z]\nq=2\n")
        << "Vollbild"
        << "1"
        << QByteArray(
               "; mine\n[Andere]\nx=1\n\n[Einstellungen]\nVollbild=1\n# note\nRechtsAnf=a\n\n[Z]\nq=2\n");
    QTest::newRow("new key goes after the section's last line, before the blank")
        << QByteArray("[Einstellungen]\nVollbild=0\n\n[Z]\nq=2\n") << "RechtsAnf"
        << "s" << QByteArray("[Einstellungen]\nVollbild=0\nRechtsAnf=s\n\n[Z]\nq=2\n");
    QTest::newRow("new section appended at the end")
        << QByteArray("[Z]\nq=2\n") << "RechtsAnf"
        << "s" << QByteArray("[Z]\nq=2\n[Einstellungen]\nRechtsAnf=s\n");
    QTest::newRow("last line without line end gets one")
        << QByteArray("[Z]\nq=2") << "RechtsAnf"
        << "s" << QByteArray("[Z]\nq=2\n[Einstellungen]\nRechtsAnf=s\n");
    QTest::newRow("section without line end gets its key")
        << QByteArray("[Einstellungen]") << "RechtsAnf"
        << "s" << QByteArray("[Einstellungen]\nRechtsAnf=s\n");
    QTest::newRow("key spelling in the file kept")
        << QByteArray("[EINSTELLUNGEN]\n  rechtsanf = old \n") << "RechtsAnf"
        << "new" << QByteArray("[EINSTELLUNGEN]\n  rechtsanf =new\n");
    QTest::newRow("CRLF kept and used for new lines")
        << QByteArray("[Einstellungen]\r\nVollbild=0\r\n") << "RechtsAnf"
        << "s" << QByteArray("[Einstellungen]\r\nVollbild=0\r\nRechtsAnf=s\r\n");
    QTest::newRow("byte-order mark kept")
        << QByteArray("\xEF\xBB\xBF[Einstellungen]\nVollbild=0\n") << "Vollbild"
        << "1" << QByteArray("\xEF\xBB\xBF[Einstellungen]\nVollbild=1\n");
    QTest::newRow("duplicate key: first replaced, second untouched")
        << QByteArray("[Einstellungen]\nRechtsAnf=a\nRechtsAnf=b\n") << "RechtsAnf"
        << "c" << QByteArray("[Einstellungen]\nRechtsAnf=c\nRechtsAnf=b\n");
    QTest::newRow("duplicate section: new key into the first")
        << QByteArray("[Einstellungen]\nVollbild=0\n[Einstellungen]\nx=1\n") << "RechtsAnf"
        << "s" << QByteArray("[Einstellungen]\nVollbild=0\nRechtsAnf=s\n[Einstellungen]\nx=1\n");
    QTest::newRow("key outside any section left alone")
        << QByteArray("RechtsAnf=outside\n") << "RechtsAnf"
        << "s" << QByteArray("RechtsAnf=outside\n[Einstellungen]\nRechtsAnf=s\n");
    QTest::newRow("binary garbage kept byte for byte")
        << raw("\x00\xFF\n\x80\x81=\xC3\r\n[Einstellungen]\nVollbild=0\n\x00") << "Vollbild"
        << "1" << raw("\x00\xFF\n\x80\x81=\xC3\r\n[Einstellungen]\nVollbild=1\n\x00");
    QTest::newRow("empty file gets section and key") << QByteArray() << "Vollbild"
                                                     << "1" << QByteArray("[Einstellungen]\nVollbild=1\n");
}

void IniTest::writeKeepsOtherLines()
{
    QFETCH(QByteArray, before);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("n.ini"));
    writeBytes(path, before);
    const WriteResult r = IniWrite(Section, key, value, path, false);
    QVERIFY2(r.ok(), qPrintable(r.reason));
    QTEST(readBytes(path), "after");
    QCOMPARE(IniRead(Section, key, path, QStringLiteral("<default>")), value);
}

void IniTest::valuesRoundTrip_data()
{
    QTest::addColumn<QString>("value");
    QString longPath;
    while (longPath.size() < 4000)
        longPath += QStringLiteral("/Verzeichnis mit Ümlauten");
    longPath = longPath.left(MaxValueLength - 1) + QLatin1Char('/');
    QTest::newRow("directory with blanks") << QStringLiteral("/home/x/Urlaub 2004/");
    QTest::newRow("umlauts and emoji") << QStringLiteral("Strand Rügen \U0001F600");
    QTest::newRow("brackets and equals") << QStringLiteral("[a]=b;c#");
    QTest::newRow("long directory path at the limit") << longPath;
    QTest::newRow("date") << QStringLiteral("2004.05.06");
    QTest::newRow("directory whose name is not UTF-8") << platform::decodeName("/home/x/caf\xE9/");
}

void IniTest::valuesRoundTrip()
{
    QFETCH(QString, value);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("n.ini"));
    QVERIFY(IniWrite(Section, QStringLiteral("Verzeichnis"), QStringLiteral("old"), path, true).ok());
    QVERIFY(IniWrite(Section, QStringLiteral("RechtsAnf"), QStringLiteral("keep"), path, true).ok());
    const WriteResult r = IniWrite(Section, QStringLiteral("Verzeichnis"), value, path, true);
    QVERIFY2(r.ok(), qPrintable(r.reason));
    QCOMPARE(IniRead(Section, QStringLiteral("Verzeichnis"), path, QString()), value);
    QCOMPARE(IniRead(Section, QStringLiteral("RechtsAnf"), path, QString()), QStringLiteral("keep"));
}

void IniTest::firstRunReadsDefaultsAndCreatesNothing()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("namora.ini"));
    QCOMPARE(IniRead(Section, QStringLiteral("LetztesDatum"), path, QStringLiteral("1990.01.31")),
             QStringLiteral("1990.01.31"));
    QCOMPARE(IniRead(Section, QStringLiteral("BilderAnzeigen"), path, QStringLiteral("1")),
             QStringLiteral("1"));
    QVERIFY(!QFile::exists(path));
}

void IniTest::firstWriteCreatesSectionAndKey()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("namora.ini"));
    const WriteResult r = IniWrite(Section, QStringLiteral("Vollbild"), QStringLiteral("1"), path, true);
    QCOMPARE(r.status, WriteStatus::Written);
    QCOMPARE(readBytes(path), QByteArray("[Einstellungen]\nVollbild=1\n"));
}

void IniTest::writeWithoutCreateLeavesMissingFileAlone()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("namora.ini"));
    QCOMPARE(IniWrite(Section, QStringLiteral("Vollbild"), QStringLiteral("1"), path, false).status,
             WriteStatus::NotCreated);
    QVERIFY(!QFile::exists(path));
}

void IniTest::refusedWriteLeavesFileUnchanged_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    const QByteArray ok = "[Einstellungen]\nVerzeichnis=/a/\n";
    QTest::newRow("value beyond the limit is not cut")
        << ok << Section << "Verzeichnis" << QString(MaxValueLength + 1, QLatin1Char('a'));
    QTest::newRow("line feed in value would forge a line")
        << ok << Section << "Verzeichnis" << QStringLiteral("/a\nVollbild=1");
    QTest::newRow("carriage return in value") << ok << Section << "Verzeichnis" << QStringLiteral("/a\r/");
    QTest::newRow("NUL in value") << ok << Section << "Verzeichnis" << (QStringLiteral("/a") + QChar(0));
    QTest::newRow("lone high surrogate would not read back")
        << ok << Section << "Verzeichnis" << (QStringLiteral("/a") + QChar(0xD800) + QStringLiteral("/"));
    QTest::newRow("lone surrogate in key would be written as another key")
        << ok << Section << (QStringLiteral("Verzeichnis") + QChar(0xDC00)) << "x";
    QTest::newRow("equals sign in key") << ok << Section << "a=b"
                                        << "x";
    QTest::newRow("bracket in section") << ok << "a]b"
                                        << "k"
                                        << "x";
    QTest::newRow("empty key") << ok << Section << ""
                               << "x";
    QTest::newRow("UTF-16 file is not rewritten") << raw("\xFF\xFE[\0E\0]\0") << Section << "Verzeichnis"
                                                  << "/b/";
}

void IniTest::refusedWriteLeavesFileUnchanged()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("n.ini"));
    writeBytes(path, content);
    const WriteResult r = IniWrite(section, key, value, path, true);
    QCOMPARE(r.status, WriteStatus::Failed);
    QVERIFY(!r.reason.isEmpty());
    QCOMPARE(readBytes(path), content);
}

void IniTest::oversizedFileReadsDefaultsAndIsNotTruncated()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("n.ini"));
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[Einstellungen]\nVollbild=1\n");
        QVERIFY(f.resize(100 * 1024 * 1024)); // 100 MB, the rest zeros (sparse)
    }
    QCOMPARE(IniRead(Section, QStringLiteral("Vollbild"), path, QStringLiteral("0")), QStringLiteral("0"));
    const WriteResult r = IniWrite(Section, QStringLiteral("Vollbild"), QStringLiteral("0"), path, true);
    QCOMPARE(r.status, WriteStatus::Failed);
    QVERIFY(r.reason.contains(QStringLiteral("larger")));
    QCOMPARE(QFileInfo(path).size(), qint64(100 * 1024 * 1024));
}

void IniTest::replaceLeavesNoTemporaryFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("namora.ini"));
    for (int i = 0; i < 20; ++i)
        QVERIFY(IniWrite(Section, QStringLiteral("Vollbild"), QString::number(i % 2), path, true).ok());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
             QStringList{QStringLiteral("namora.ini")});
}

void IniTest::writeKeepsPermissionsAndFollowsLink()
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("real.ini"));
    const QString link = dir.filePath(QStringLiteral("namora.ini"));
    writeBytes(target, "[Einstellungen]\nVollbild=0\n");
    QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner));
    QVERIFY(QFile::link(target, link));
    QVERIFY(IniWrite(Section, QStringLiteral("Vollbild"), QStringLiteral("1"), link, true).ok());
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(readBytes(target), QByteArray("[Einstellungen]\nVollbild=1\n"));
    const QFile::Permissions modeBits = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                        QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                        QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    QCOMPARE(QFile::permissions(target) & modeBits, QFile::ReadOwner | QFile::WriteOwner);
}

void IniTest::unwritableDirectoryReportsFailed()
{
    // /proc refuses new files even to root, unlike a directory without write permission.
    WriteResult r = IniWrite(Section, QStringLiteral("Vollbild"), QStringLiteral("1"),
                             QStringLiteral("/proc/namora-test.ini"), true);
    QCOMPARE(r.status, WriteStatus::Failed);
    QVERIFY(!r.reason.isEmpty());

    QTemporaryDir dir;
    const QString notADir = dir.filePath(QStringLiteral("file"));
    writeBytes(notADir, "x");
    r = IniWrite(Section, QStringLiteral("Vollbild"), QStringLiteral("1"), notADir + QStringLiteral("/n.ini"),
                 true);
    QCOMPARE(r.status, WriteStatus::Failed);
    QVERIFY(!r.reason.isEmpty());

    const QString path = dir.filePath(QStringLiteral("n.ini"));
    writeBytes(path, "[Einstellungen]\nVollbild=0\n");
    QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
    {
        const testing::WithoutPermissionOverride asUser;
        QVERIFY2(asUser.active(), "cannot drop the permission override of root");
        r = IniWrite(Section, QStringLiteral("Vollbild"), QStringLiteral("1"), path, true);
    }
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QCOMPARE(r.status, WriteStatus::Failed);
    QVERIFY(!r.reason.isEmpty());
    QCOMPARE(readBytes(path), QByteArray("[Einstellungen]\nVollbild=0\n"));
}

void IniTest::unreadableFileIsNotOverwritten()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("n.ini"));
    writeBytes(path, "[Einstellungen]\nVollbild=0\nmine=1\n");
    QVERIFY(QFile::setPermissions(path, QFile::WriteOwner));
    WriteResult r;
    {
        const testing::WithoutPermissionOverride asUser;
        QVERIFY2(asUser.active(), "cannot drop the permission override of root");
        r = IniWrite(Section, QStringLiteral("Vollbild"), QStringLiteral("1"), path, true);
    }
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    QCOMPARE(r.status, WriteStatus::Failed);
    QCOMPARE(readBytes(path), QByteArray("[Einstellungen]\nVollbild=0\nmine=1\n"));
}

void IniTest::readOnlyFileIsNotReplaced()
{
    // The directory allows the rename that replaces the file; its owner's
    // read-only mode must still keep the content.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("n.ini"));
    writeBytes(path, "[Einstellungen]\nVollbild=0\n");
    QVERIFY(setMode(path, 0400));
    WriteResult r;
    {
        const testing::WithoutPermissionOverride asUser;
        QVERIFY2(asUser.active(), "cannot drop the permission override of root");
        r = IniWrite(Section, QStringLiteral("Vollbild"), QStringLiteral("1"), path, true);
    }
    QCOMPARE(r.status, WriteStatus::Failed);
    QCOMPARE(r.reason, QStringLiteral("Keine Berechtigung"));
    QCOMPARE(readBytes(path), QByteArray("[Einstellungen]\nVollbild=0\n"));
    QCOMPARE(modeOf(path), 0400);
}

void IniTest::directoryAtSettingsPathIsNotAFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("namora.ini"));
    QVERIFY(QDir().mkdir(path));
    QCOMPARE(IniRead(Section, QStringLiteral("Vollbild"), path, QStringLiteral("0")), QStringLiteral("0"));
    const WriteResult r = IniWrite(Section, QStringLiteral("Vollbild"), QStringLiteral("1"), path, true);
    QCOMPARE(r.status, WriteStatus::Failed);
    QVERIFY(QFileInfo(path).isDir());
}

void IniTest::newFileIsPrivateWhateverTheUmask_data()
{
    QTest::addColumn<int>("mask");
    QTest::newRow("umask 000") << 0;
    QTest::newRow("umask 002") << 02;
    QTest::newRow("umask 022") << 022;
    QTest::newRow("umask 277 takes the owner's write bit") << 0277;
}

void IniTest::newFileIsPrivateWhateverTheUmask()
{
    QFETCH(int, mask);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("namora.ini"));
    WriteResult r;
    {
        const Umask scoped{mode_t(mask)};
        r = IniWrite(Section, QStringLiteral("Verzeichnis"), QStringLiteral("/home/ich/Bilder/"), path, true);
    }
    QVERIFY2(r.ok(), qPrintable(r.reason));
    QCOMPARE(modeOf(path), 0600);
    // The next write replaces the file and keeps it private.
    QVERIFY(IniWrite(Section, QStringLiteral("Vollbild"), QStringLiteral("1"), path, true).ok());
    QCOMPARE(modeOf(path), 0600);
}

void IniTest::existingFileKeepsItsMode_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("private") << 0600;
    QTest::newRow("readable by all") << 0644;
    QTest::newRow("readable by the group") << 0640;
    QTest::newRow("executable, oddly") << 0700;
}

void IniTest::existingFileKeepsItsMode()
{
    QFETCH(int, mode);
    const Umask mask(0);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("namora.ini"));
    writeBytes(path, "[Einstellungen]\nVollbild=0\n");
    QVERIFY(setMode(path, mode));
    const WriteResult r = IniWrite(Section, QStringLiteral("Vollbild"), QStringLiteral("1"), path, true);
    QVERIFY2(r.ok(), qPrintable(r.reason));
    QCOMPARE(readBytes(path), QByteArray("[Einstellungen]\nVollbild=1\n"));
    QCOMPARE(modeOf(path), mode);
}

void IniTest::fileWritableByOthersIsRefusedAndLeftAlone_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("throughLink");
    QTest::newRow("writable by the group") << 0660 << false;
    QTest::newRow("writable by all") << 0666 << false;
    QTest::newRow("writable by others only") << 0602 << false;
    QTest::newRow("group may write, owner may not") << 0420 << false;
    QTest::newRow("link to a file writable by all") << 0666 << true;
}

void IniTest::fileWritableByOthersIsRefusedAndLeftAlone()
{
    QFETCH(int, mode);
    QFETCH(bool, throughLink);
    const Umask mask(0);
    QTemporaryDir dir;
    const QByteArray content = "[Einstellungen]\nVerzeichnis=/home/ich/Bilder/\n";
    const QString file = dir.filePath(QStringLiteral("real.ini"));
    writeBytes(file, content);
    QVERIFY(setMode(file, mode));
    QString path = file;
    if (throughLink) {
        path = dir.filePath(QStringLiteral("namora.ini"));
        QVERIFY(QFile::link(file, path));
    }
    const WriteResult r =
        IniWrite(Section, QStringLiteral("Verzeichnis"), QStringLiteral("/tmp/fremd/"), path, true);
    QCOMPARE(r.status, WriteStatus::Failed);
    QVERIFY2(r.reason.contains(QStringLiteral("für andere Benutzer beschreibbar")), qPrintable(r.reason));
    QCOMPARE(readBytes(file), content);
    QCOMPARE(modeOf(file), mode);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(),
             throughLink ? 2 : 1);
}

void IniTest::settingsPathBesideWritableProgram()
{
    QTemporaryDir dir;
    QCOMPARE(settingsPath(dir.path(), QStringLiteral("namora")), dir.filePath(QStringLiteral("namora.ini")));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList()); // probe removed
}

void IniTest::settingsPathFallsBackToConfigDir_data()
{
    QTest::addColumn<QString>("programDir");
    QTest::newRow("missing program directory") << QStringLiteral("/nonexistent/namora/bin");
    QTest::newRow("pseudo file system") << QStringLiteral("/proc");
    // Root may write /usr/bin; the installed program still keeps one file per user.
    QTest::newRow("installed program in a writable bin") << QStringLiteral("<installed>");
}

void IniTest::settingsPathFallsBackToConfigDir()
{
    QFETCH(QString, programDir);
    QTemporaryDir prefix;
    if (programDir == QLatin1String("<installed>")) {
        programDir = prefix.filePath(QStringLiteral("bin"));
        QVERIFY(QDir().mkpath(programDir));
        QVERIFY(QDir().mkpath(prefix.filePath(QStringLiteral("share/applications"))));
        // Beside the program until its desktop entry is installed.
        QCOMPARE(settingsPath(programDir, QStringLiteral("namora")),
                 programDir + QStringLiteral("/namora.ini"));
        QFile entry(prefix.filePath(QStringLiteral("share/applications/") + QLatin1String(DesktopId) +
                                    QStringLiteral(".desktop")));
        QVERIFY(entry.open(QIODevice::WriteOnly));
        entry.close();
        QVERIFY(installedProgram(programDir));
    }
    const QString configDir =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/namora");
    const QString path = settingsPath(programDir, QStringLiteral("namora"));
    QCOMPARE(path, configDir + QStringLiteral("/namora.ini"));
    QVERIFY(QFileInfo(configDir).isDir());
}

void IniTest::settingsPathFallsBackForReadOnlyProgramDir()
{
    QTemporaryDir dir;
    QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
    QString path;
    {
        const testing::WithoutPermissionOverride asUser;
        QVERIFY2(asUser.active(), "cannot drop the permission override of root");
        path = settingsPath(dir.path(), QStringLiteral("namora"));
    }
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QCOMPARE(path, QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                       QStringLiteral("/namora/namora.ini"));
}

void IniTest::configDirectoriesCreatedPrivateWhateverTheUmask()
{
    const Umask mask(0);
    QTemporaryDir home;
    // One directory on the way exists already: it is not ours to change.
    const QString testRoot = home.filePath(QStringLiteral(".qttest"));
    QVERIFY(QDir().mkdir(testRoot));
    QVERIFY(setMode(testRoot, 0755));
    QString path;
    QString configRoot;
    {
        const Home asHome(home.path());
        configRoot = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
        path = settingsPath(QStringLiteral("/proc"), QStringLiteral("namora"));
    }
    QCOMPARE(configRoot, testRoot + QStringLiteral("/config"));
    QCOMPARE(path, configRoot + QStringLiteral("/namora/namora.ini"));
    QCOMPARE(modeOf(testRoot), 0755);
    QCOMPARE(modeOf(configRoot), 0700);
    QCOMPARE(modeOf(configRoot + QStringLiteral("/namora")), 0700);
    QVERIFY(IniWrite(Section, QStringLiteral("Vollbild"), QStringLiteral("1"), path, true).ok());
    QCOMPARE(modeOf(path), 0600);
}

void IniTest::programDirectoryModeIsNotTouched()
{
    const Umask mask(0);
    QTemporaryDir dir;
    QVERIFY(setMode(dir.path(), 0775));
    const QString path = settingsPath(dir.path(), QStringLiteral("namora"));
    QCOMPARE(path, dir.filePath(QStringLiteral("namora.ini")));
    QVERIFY(IniWrite(Section, QStringLiteral("Vollbild"), QStringLiteral("1"), path, true).ok());
    QCOMPARE(modeOf(dir.path()), 0775);
    QCOMPARE(modeOf(path), 0600);
}

QTEST_GUILESS_MAIN(IniTest)
#include "ini_test.moc"
