#include "core/platform/CommandLine.h"
#include "core/platform/FileNames.h"
#include "core/settings/Ini.h"
#include "support/TestSupport.h"
#include "ui/pages/Thumbnails.h"
#include "ui/window/Widgets.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Directories as users give them: relative, ".", with backslashes, starting
// with "-", with bytes that are not UTF-8. Each must be the directory the user
// meant, for listing, thumbnails, renaming and the settings file alike.
class PathsTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup();

    void directoriesAreMadeAbsoluteAndClean_data();
    void directoriesAreMadeAbsoluteAndClean();
    void commandLineWordsBecomeOneDirectory_data();
    void commandLineWordsBecomeOneDirectory();

    void relativeDirectoryRenamesOnlyInsideIt_data();
    void relativeDirectoryRenamesOnlyInsideIt();
    void directoryWithBackslashOrDashIsListed_data();
    void directoryWithBackslashOrDashIsListed();
    void directoryNotUtf8IsListedAndRememberedAsItsBytes();
    void reloadKeepsTheDirectoryOfThisRun();
    void missingDirectoryIsSaidOnceAndTheRememberedOneShown();
    void pictureGivenOpensItsDirectoryAtItsPage();
    void xButtonGivesBackTheNameThePageShowed();
};

namespace {

const QString Section = QStringLiteral("Einstellungen");

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Restores the working directory when the test ends, however it ends.
class WorkingDirectory {
public:
    explicit WorkingDirectory(const QString &dir) : m_old(QDir::currentPath()) { QDir::setCurrent(dir); }
    ~WorkingDirectory() { QDir::setCurrent(m_old); }

private:
    QString m_old;
};

bool showsDecodedPicture(const PictureBox *box)
{
    // The placeholder has its own size; a decoded thumbnail has the box's.
    return box->picture().size() != QSize(151, 104);
}

} // namespace

void PathsTest::cleanup()
{
    QDir::setCurrent(QDir::tempPath());
}

void PathsTest::directoriesAreMadeAbsoluteAndClean_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("expected"); // "<cwd>" stands for the working directory
    QTest::newRow("relative") << "Bilder"
                              << "<cwd>Bilder/";
    QTest::newRow("dot") << "."
                         << "<cwd>";
    QTest::newRow("dot slash") << "./Bilder"
                               << "<cwd>Bilder/";
    QTest::newRow("parent") << "Bilder/../Andere/"
                            << "<cwd>Andere/";
    QTest::newRow("absolute with doubled slashes") << "/a//b/./c"
                                                   << "/a/b/c/";
    QTest::newRow("above the root stays at the root") << "/../a"
                                                      << "/a/";
    QTest::newRow("backslash is part of a name") << "/home/u/Urlaub\\2023"
                                                 << "/home/u/Urlaub\\2023/";
    QTest::newRow("leading dash") << "-Urlaub"
                                  << "<cwd>-Urlaub/";
    QTest::newRow("blanks are part of a name") << "/tmp/ Bilder "
                                               << "/tmp/ Bilder /";
    QTest::newRow("empty") << ""
                           << "";
}

void PathsTest::directoriesAreMadeAbsoluteAndClean()
{
    QFETCH(QString, given);
    QFETCH(QString, expected);
    QTemporaryDir cwd;
    const WorkingDirectory inside(cwd.path());
    expected.replace(QStringLiteral("<cwd>"), platform::currentDirectory());
    QVERIFY(platform::currentDirectory().startsWith(QLatin1Char('/')));
    QCOMPARE(platform::absoluteDirectory(given), expected);
}

void PathsTest::commandLineWordsBecomeOneDirectory_data()
{
    QTest::addColumn<QList<QByteArray>>("args");
    QTest::addColumn<QStringList>("existing"); // directories of the current directory
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("directory");
    using commandline::Action;
    const QStringList none;
    QTest::newRow("nothing") << QList<QByteArray>{} << none << int(Action::Run) << "";
    QTest::newRow("words joined by blanks")
        << QList<QByteArray>{"Meine", "Bilder"} << none << int(Action::Run) << "Meine Bilder";
    QTest::newRow("a leading dash is a directory")
        << QList<QByteArray>{"-Urlaub"} << QStringList{QStringLiteral("-Urlaub")} << int(Action::Run)
        << "-Urlaub";
    QTest::newRow("help") << QList<QByteArray>{"--help"} << none << int(Action::Help) << "";
    QTest::newRow("version") << QList<QByteArray>{"--version"} << none << int(Action::Version) << "";
    QTest::newRow("words naming a directory")
        << QList<QByteArray>{"existing", "--help"} << QStringList{QStringLiteral("existing --help")}
        << int(Action::Run) << "existing --help";
    QTest::newRow("a directory named --help wins")
        << QList<QByteArray>{"--help"} << QStringList{QStringLiteral("--help")} << int(Action::Run)
        << "--help";
    QTest::newRow("a directory named -v wins")
        << QList<QByteArray>{"-v"} << QStringList{QStringLiteral("-v")} << int(Action::Run) << "-v";
    QTest::newRow("-- ends the options")
        << QList<QByteArray>{"--", "--help"} << none << int(Action::Run) << "--help";
    QTest::newRow("unknown option") << QList<QByteArray>{"--bogus"} << none << int(Action::Unknown)
                                    << "--bogus";
    QTest::newRow("a dash word that names nothing")
        << QList<QByteArray>{"-Ferien", "2023"} << none << int(Action::Unknown) << "-Ferien";
    QTest::newRow("bytes that are not UTF-8") << QList<QByteArray>{"/tmp/\xE4pfel"} << none
                                              << int(Action::Run) << platform::decodeName("/tmp/\xE4pfel");
}

void PathsTest::commandLineWordsBecomeOneDirectory()
{
    QFETCH(QList<QByteArray>, args);
    QFETCH(QStringList, existing);
    QFETCH(int, action);
    QFETCH(QString, directory);
    const commandline::Parsed parsed =
        commandline::parse(args, [&](const QString &dir) { return existing.contains(dir); });
    QCOMPARE(int(parsed.action), action);
    QCOMPARE(parsed.directory, directory);
}

void PathsTest::relativeDirectoryRenamesOnlyInsideIt_data()
{
    QTest::addColumn<QString>("given"); // relative to P; the pictures lie in P/Bilder
    QTest::addColumn<QString>("cwd");   // relative to P
    QTest::newRow("Bilder, from P") << "Bilder"
                                    << ".";
    QTest::newRow("./Bilder/, from P") << "./Bilder/"
                                       << ".";
    QTest::newRow("., from P/Bilder") << "."
                                      << "Bilder";
}

void PathsTest::relativeDirectoryRenamesOnlyInsideIt()
{
    QFETCH(QString, given);
    QFETCH(QString, cwd);
    testing::FormFixture fx;
    // P holds Bilderx.jpg, P/Bilder holds x.jpg: a path built by gluing the
    // directory to the name without a separator reaches P's file.
    const QString p = fx.pictureDir.path();
    QVERIFY(QDir(p).mkdir(QStringLiteral("Bilder")));
    const QString bilder = p + QStringLiteral("/Bilder/");
    testing::writePictures(bilder, {QStringLiteral("x.jpg")}, QSize(64, 48));
    testing::writePictures(p, {QStringLiteral("Bilderx.jpg")}, QSize(32, 24));
    const QByteArray outsideBefore = fileBytes(p + QStringLiteral("/Bilderx.jpg"));
    const QByteArray insideBefore = fileBytes(bilder + QStringLiteral("x.jpg"));

    const WorkingDirectory inside(QDir(p).filePath(cwd));
    testing::MessageBoxes boxes;
    Form1 &form = fx.start(given);
    const QString absolute = QDir(bilder).canonicalPath() + QLatin1Char('/');
    QCOMPARE(form.model().directory(), absolute);
    QCOMPARE(form.model().filePath(0), absolute + QStringLiteral("x.jpg"));
    QCOMPARE(form.controls().VerzeichnisText->text(), absolute);
    // Remembered as an absolute path: a start from elsewhere opens the same place.
    QCOMPARE(ini::IniRead(Section, QStringLiteral("Verzeichnis"), fx.iniPath(), QString()), absolute);
    QTRY_VERIFY_WITH_TIMEOUT(showsDecodedPicture(form.controls().Picture1[0]), 10000);

    form.controls().Text1[0]->setPlainText(QStringLiteral("Urlaub"));
    QTest::mouseClick(form.controls().Speichern, Qt::LeftButton);
    QCOMPARE(boxes.shown().size(), 1);
    QCOMPARE(boxes.shown().first().prompt, QStringLiteral("Alle Dateien sind umbenannt"));
    QCOMPARE(fileBytes(bilder + QStringLiteral("Urlaub.jpg")), insideBefore);
    QVERIFY(!QFile::exists(bilder + QStringLiteral("x.jpg")));
    QCOMPARE(fileBytes(p + QStringLiteral("/Bilderx.jpg")), outsideBefore);
    QVERIFY(!QFile::exists(p + QStringLiteral("/BilderUrlaub.jpg")));
}

void PathsTest::directoryWithBackslashOrDashIsListed_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("relative");
    QTest::newRow("backslash, absolute") << "Urlaub\\2023" << false;
    QTest::newRow("trailing backslash, absolute") << "Urlaub\\" << false;
    QTest::newRow("leading dash, relative") << "-Urlaub" << true;
    QTest::newRow("leading dash, absolute") << "-Urlaub" << false;
}

void PathsTest::directoryWithBackslashOrDashIsListed()
{
    QFETCH(QString, name);
    QFETCH(bool, relative);
    testing::FormFixture fx;
    QVERIFY(QDir(fx.pictureDir.path()).mkdir(name));
    const QString dir = fx.pictureDir.path() + QLatin1Char('/') + name + QLatin1Char('/');
    testing::writePictures(dir, {QStringLiteral("IMG_1.jpg"), QStringLiteral("IMG_2.jpg")});
    const WorkingDirectory inside(fx.pictureDir.path());
    Form1 &form = fx.start(relative ? name : dir);
    QCOMPARE(form.model().directory(),
             QDir(fx.pictureDir.path()).canonicalPath() + QLatin1Char('/') + name + QLatin1Char('/'));
    QCOMPARE(form.model().fileCount(), 2);
    QCOMPARE(form.controls().Text1[1]->toPlainText(), QStringLiteral("IMG_2"));
    QTRY_VERIFY_WITH_TIMEOUT(showsDecodedPicture(form.controls().Picture1[1]), 10000);
}

void PathsTest::directoryNotUtf8IsListedAndRememberedAsItsBytes()
{
    testing::FormFixture fx;
    const QByteArray raw = QFile::encodeName(fx.pictureDir.path()) + "/\xE4pfel";
    QCOMPARE(::mkdir(raw.constData(), 0700), 0);
    testing::writePictures(fx.pictureDir.path(), {QStringLiteral("a.jpg")});
    QCOMPARE(std::rename(QFile::encodeName(fx.pictureDir.filePath(QStringLiteral("a.jpg"))).constData(),
                         (raw + "/a.jpg").constData()),
             0);
    // What the command line hands over for such a name.
    const QString given = platform::decodeName(raw);
    Form1 &form = fx.start(given);
    QCOMPARE(form.model().directory(), given + QLatin1Char('/'));
    QCOMPARE(form.model().fileCount(), 1);
    QVERIFY(fileBytes(fx.iniPath()).contains("Verzeichnis=" + raw + "/\n"));
    QCOMPARE(ini::IniRead(Section, QStringLiteral("Verzeichnis"), fx.iniPath(), QString()),
             given + QLatin1Char('/'));

    // The next start finds it through the settings file, thumbnails included.
    fx.form.reset();
    Form1 &again = fx.start(QString());
    QCOMPARE(again.model().directory(), given + QLatin1Char('/'));
    QCOMPARE(again.model().fileCount(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(showsDecodedPicture(again.controls().Picture1[0]), 10000);
}

void PathsTest::reloadKeepsTheDirectoryOfThisRun()
{
    testing::FormFixture fx;
    // The settings file cannot be rewritten (UTF-16), so this run's directory is
    // never remembered; the program's directory holds other pictures.
    QFile settings(fx.iniPath());
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write("\xFF\xFE[\0E\0]\0\n\0");
    settings.close();
    testing::writePictures(fx.programDir.path(), {QStringLiteral("foreign.jpg")});
    testing::writePictures(fx.pictureDir.path(), {QStringLiteral("mine.jpg")});
    Form1 &form = fx.start();
    QCOMPARE(form.controls().Text1[0]->toPlainText(), QStringLiteral("mine"));

    QTest::mouseClick(form.controls().Command5, Qt::LeftButton);
    QCOMPARE(form.model().directory(), fx.picturePath());
    QCOMPARE(form.controls().Text1[0]->toPlainText(), QStringLiteral("mine"));
    QCOMPARE(form.controls().VerzeichnisText->text(), fx.picturePath());
}

void PathsTest::xButtonGivesBackTheNameThePageShowed()
{
    testing::FormFixture fx;
    QVERIFY(QDir(fx.pictureDir.path()).mkdir(QStringLiteral("a\\b")));
    const QString dir = fx.pictureDir.path() + QStringLiteral("/a\\b/");
    testing::writePictures(dir, {QStringLiteral("IMG_1.jpg"), QStringLiteral("x\\y.jpg")});
    Form1 &form = fx.start(dir);
    const Controls &c = form.controls();
    for (int slot : {0, 1}) {
        const QString shown = c.Text1[slot]->toPlainText();
        QTest::mouseClick(c.Command3[slot], Qt::LeftButton);
        QCOMPARE(c.Text1[slot]->toPlainText(), QString());
        QTest::mouseClick(c.Command3[slot], Qt::LeftButton);
        QCOMPARE(c.Text1[slot]->toPlainText(), shown);
    }
    QCOMPARE(c.Text1[1]->toPlainText(), QStringLiteral("x\\y"));
}

void PathsTest::missingDirectoryIsSaidOnceAndTheRememberedOneShown()
{
    testing::FormFixture fx;
    testing::writePictures(fx.pictureDir.path(), {QStringLiteral("a.jpg")});
    fx.writeSettings(QStringLiteral("[Einstellungen]\nVerzeichnis=") + fx.picturePath() + QLatin1Char('\n'));
    testing::MessageBoxes boxes;
    const QString missing = fx.pictureDir.path() + QStringLiteral("/Urlaub 2023");
    Form1 &form = fx.start(missing);
    QCOMPARE(form.model().directory(), fx.picturePath());
    QCOMPARE(boxes.notices().size(), 1);
    QVERIFY2(boxes.notices().first().prompt.contains(missing), qPrintable(boxes.notices().first().prompt));
    QVERIFY(boxes.shown().isEmpty()); // nothing that stops the user
}

void PathsTest::pictureGivenOpensItsDirectoryAtItsPage()
{
    testing::FormFixture fx;
    QStringList names;
    for (int i = 1; i <= 60; ++i)
        names << QStringLiteral("IMG_%1.jpg").arg(i, 2, 10, QLatin1Char('0'));
    testing::writePictures(fx.pictureDir.path(), names);
    testing::MessageBoxes boxes;
    Form1 &form = fx.start(fx.picturePath() + QStringLiteral("IMG_40.jpg"));
    QCOMPARE(form.model().directory(), fx.picturePath());
    const int perPage = form.model().lastSlot() + 1;
    QVERIFY(perPage > 0 && perPage < 40);
    QCOMPARE(form.model().pageIndex(), 39 / perPage);
    QCOMPARE(form.model().filePath(39 % perPage), fx.picturePath() + QStringLiteral("IMG_40.jpg"));
    QVERIFY(boxes.notices().isEmpty());
}

QTEST_MAIN(PathsTest)
#include "paths_test.moc"
