// Writes a picture of the window on the demo pictures, as the README shows it:
//   namora-screenshot OUTPUT.png
// Drawn on the offscreen platform with private settings, journal and pictures,
// so it neither needs a display nor touches the user's files.
#include "TestPictures.h"
#include "core/renaming/RenameRun.h"
#include "ui/window/Form1.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: namora-screenshot OUTPUT.png\n");
        return 2;
    }
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QTemporaryDir scratch;
    const QString pictures = scratch.filePath(QStringLiteral("Urlaub"));
    testpics::makeDemoSet(pictures, 60);
    renaming::setJournalDirectory(scratch.filePath(QStringLiteral("journal")));

    Form1::Options options;
    options.programDir = scratch.path();
    options.iniPath = scratch.filePath(QStringLiteral("namora.ini"));
    options.commandLine = pictures;
    Form1 form(options);
    form.Form_Load();
    form.resize(1280, 900);
    // Long enough for every thumbnail of the first page to be decoded and shown.
    const QDeadlineTimer until(3000);
    while (!until.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    if (!form.grab().save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "namora-screenshot: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
