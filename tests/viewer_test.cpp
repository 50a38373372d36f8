#include "core/platform/Process.h"
#include "core/platform/Viewer.h"
#include "support/TestSupport.h"
#include "ui/window/Widgets.h"

#include "core/pages/PageModel.h"
#include "core/platform/FileNames.h"

#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QtTest>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

using testing::StartRecorder;

class ViewerTest : public QObject {
    Q_OBJECT
private slots:
    void pathReachesViewerAsOneArgument_data();
    void pathReachesViewerAsOneArgument();
    void relativePathCannotBecomeAnOption();
    void clickOpensThatSlotsPicture_data();
    void clickOpensThatSlotsPicture();
    void emptySlotOpensNothing();
    void clickKeepsTypedNames();
    void nameThatIsNotUtf8ReachesViewerAsItsBytes();
    void startOfAMissingProgramIsReported();
    void startByDescriptorRunsTheFileOpenedNotTheOneNowAtItsPath();
};

void ViewerTest::pathReachesViewerAsOneArgument_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("plain") << "/home/u/Bilder/IMG_1.jpg";
    QTest::newRow("blank in directory") << "/home/u/Meine Bilder/IMG 1.jpg";
    QTest::newRow("quotes") << "/home/u/\"Urlaub\" 'Nord'/a.jpg";
    QTest::newRow("shell characters") << "/home/u/$HOME;rm -rf x`id`|&>/b.jpg";
    QTest::newRow("leading dash in name") << "/tmp/-n.jpg";
}

void ViewerTest::pathReachesViewerAsOneArgument()
{
    QFETCH(QString, path);
    const viewer::Command c = viewer::viewerCommand(path);
    QCOMPARE(c.program, QStringLiteral("xdg-open"));
    QCOMPARE(c.arguments, QStringList{path});
}

void ViewerTest::relativePathCannotBecomeAnOption()
{
    const viewer::Command c = viewer::viewerCommand(QStringLiteral("-x.jpg"));
    QCOMPARE(c.arguments.size(), 1);
    QVERIFY(c.arguments[0].startsWith(QLatin1Char('/')));
    QVERIFY(c.arguments[0].endsWith(QLatin1String("/-x.jpg")));
    QVERIFY(viewer::viewerCommand(QString()).program.isEmpty());
}

void ViewerTest::clickOpensThatSlotsPicture_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("blank") << "Urlaub 2024.jpg";
    QTest::newRow("quotes") << "Der \"Berg\" 'hoch'.jpg";
    QTest::newRow("dollar and semicolon") << "$(touch x); echo $HOME.jpg";
}

void ViewerTest::clickOpensThatSlotsPicture()
{
    QFETCH(QString, name);
    testing::FormFixture fixture;
    // Without a directory on the command line or in the settings, the program's
    // directory is the picture directory.
    testing::writePictures(fixture.programDir.path(), {QStringLiteral("a.jpg"), name});
    StartRecorder recorder;
    Form1 &form = fixture.start(QString());
    int slot = -1;
    for (int i = 0; i <= form.model().lastSlot(); ++i)
        if (form.model().filePath(i) == QDir(form.model().directory()).filePath(name))
            slot = i;
    QVERIFY2(slot >= 0, qPrintable(form.model().fileNames().join(QLatin1Char('|'))));

    QTest::mouseClick(form.controls().Picture1[slot], Qt::LeftButton);
    QCOMPARE(recorder.starts.size(), 1);
    QCOMPARE(recorder.starts[0].program, QStringLiteral("xdg-open"));
    QCOMPARE(recorder.starts[0].args, QStringList{form.model().filePath(slot)});
    QVERIFY(recorder.starts[0].args[0].endsWith(QLatin1Char('/') + name));
}

void ViewerTest::emptySlotOpensNothing()
{
    testing::FormFixture fixture;
    testing::writePictures(fixture.programDir.path(), {QStringLiteral("a.jpg")});
    StartRecorder recorder;
    Form1 &form = fixture.start(QString());
    QVERIFY(form.model().lastSlot() >= 1);
    QVERIFY(form.model().filePath(1).isEmpty());

    QTest::mouseClick(form.controls().Picture1[1], Qt::LeftButton);
    QTest::mouseClick(form.controls().Picture1[52], Qt::LeftButton);
    QVERIFY(recorder.starts.isEmpty());
}

void ViewerTest::clickKeepsTypedNames()
{
    testing::FormFixture fixture;
    testing::writePictures(fixture.programDir.path(), {QStringLiteral("a.jpg"), QStringLiteral("b.jpg")});
    StartRecorder recorder;
    Form1 &form = fixture.start(QString());
    form.controls().Text1[0]->setPlainText(QStringLiteral("typed name"));
    const auto paths = [&form] {
        QStringList p;
        for (int i = 0; i <= form.model().lastSlot(); ++i)
            p << form.model().filePath(i);
        return p;
    };
    const QStringList pageNames = paths();
    const int pageIndex = form.model().pageIndex();

    QTest::mouseClick(form.controls().Picture1[1], Qt::LeftButton);
    QCOMPARE(recorder.starts.size(), 1);
    QCOMPARE(form.controls().Text1[0]->toPlainText(), QStringLiteral("typed name"));
    QCOMPARE(form.controls().Text1[1]->toPlainText(), QStringLiteral("b"));
    QCOMPARE(paths(), pageNames);
    QCOMPARE(form.model().pageIndex(), pageIndex);
}

void ViewerTest::nameThatIsNotUtf8ReachesViewerAsItsBytes()
{
    // A stand-in for the desktop's opener, found first in PATH, writes the bytes
    // of its argument to a file: what a real viewer would be asked to open.
    QTemporaryDir bin;
    const QString out = bin.filePath(QStringLiteral("argument"));
    {
        QFile script(bin.filePath(QStringLiteral("xdg-open")));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nprintf '%s' \"$1\" > \"$0.tmp\" && mv \"$0.tmp\" '" + out.toUtf8() + "'\n");
        script.close();
        QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", bin.path().toUtf8() + ':' + oldPath);

    testing::FormFixture fixture;
    testing::writePictures(fixture.programDir.path(), {QStringLiteral("a.jpg")});
    const QByteArray raw = QFile::encodeName(fixture.programDir.path()) + "/\xE4pfel.jpg";
    QCOMPARE(std::rename(QFile::encodeName(fixture.programDir.filePath(QStringLiteral("a.jpg"))).constData(),
                         raw.constData()),
             0);
    Form1 &form = fixture.start(QString());
    QCOMPARE(form.model().fileCount(), 1);
    QTest::mouseClick(form.controls().Picture1[0], Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(out), 10000);
    qputenv("PATH", oldPath);
    QFile got(out);
    QVERIFY(got.open(QIODevice::ReadOnly));
    QCOMPARE(got.readAll(), raw);
}

void ViewerTest::startOfAMissingProgramIsReported()
{
    QVERIFY(!platform::startDetached(QStringLiteral("/nonexistent/namora-viewer"), {QStringLiteral("x")}));
    QVERIFY(!platform::startDetached(QStringLiteral("namora-no-such-program-in-path"), {}));
    QVERIFY(platform::startDetached(QStringLiteral("true"), {}));
}

void ViewerTest::startByDescriptorRunsTheFileOpenedNotTheOneNowAtItsPath()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Update.exe"));
    const auto script = [&](const char *marker) {
        return QByteArray("#!/bin/sh\n: > '") + QFile::encodeName(dir.filePath(QString::fromLatin1(marker))) +
               "'\n";
    };
    const auto write = [](const QString &file, const QByteArray &content) {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
        QVERIFY(f.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    };
    write(path, script("checked"));
    const int fd = platform::openForReading(path);
    QVERIFY(fd >= 0);
    write(path + QStringLiteral(".new"), script("swapped"));
    QVERIFY(QFile::rename(path + QStringLiteral(".new"), path) ||
            (QFile::remove(path) && QFile::rename(path + QStringLiteral(".new"), path)));
    QVERIFY(platform::startDetachedFile(fd, path, {}));
    ::close(fd);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath(QStringLiteral("checked"))), 5000);
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("swapped"))));
    QVERIFY(!platform::startDetachedFile(-1, path, {}));
}

QTEST_MAIN(ViewerTest)
#include "viewer_test.moc"
