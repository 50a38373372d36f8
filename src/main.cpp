#include "core/platform/CommandLine.h"
#include "core/platform/FileNames.h"
#include "core/renaming/RenameRun.h"
#include "core/settings/Ini.h"
#include "ui/window/Form1.h"
#include "ui/window/Launcher.h"

#include <QApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QStyleFactory>
#include <QTranslator>

#include <cstdio>

namespace {
QList<QByteArray> wordsOf(int argc, char *argv[])
{
    QList<QByteArray> words;
    for (int i = 1; i < argc; ++i)
        words << QByteArray(argv[i]);
    return words;
}

// Prints what help or version asks for, or that an option is unknown; the
// status to end with, or -1 when the words ask to run.
int answered(const commandline::Parsed &parsed, const char *argv0)
{
    const QString program = QFileInfo(QString::fromLocal8Bit(argv0)).fileName();
    switch (parsed.action) {
    case commandline::Action::Help: {
        // Where a start would put them, without making any directory now.
        const QFileInfo self(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath());
        const QString settings = ini::settingsPath(self.path(), self.completeBaseName(), false);
        std::fputs(
            commandline::usage(program, settings, renaming::journalDirectory()).toLocal8Bit().constData(),
            stdout);
        return 0;
    }
    case commandline::Action::Version:
        std::printf("Namora %s\n", commandline::DisplayVersion);
        return 0;
    case commandline::Action::Unknown:
        std::fputs(commandline::unknownOption(program, parsed.directory).toLocal8Bit().constData(), stderr);
        return 2;
    case commandline::Action::Run:
        break;
    }
    return -1;
}
} // namespace

int main(int argc, char *argv[])
{
    // Named before anything asks where the per-user files live.
    QCoreApplication::setApplicationName(QStringLiteral("namora"));
    // Help and version are answered before any window system is needed.
    // An unknown option waits for Qt to take its own (-platform, -style...).
    if (const commandline::Parsed early = commandline::parse(wordsOf(argc, argv), &platform::isDirectory);
        early.action != commandline::Action::Unknown) {
        if (const int status = answered(early, argv[0]); status >= 0)
            return status;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("namora"));
    QApplication::setApplicationVersion(QStringLiteral(NAMORA_VERSION));
    // Fusion honours the back colours the controls are designed with.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    // The words as bytes, after Qt took its own options (-platform, -style...)
    // out; the arguments Qt hands out are decoded with U+FFFD for names that are
    // not UTF-8.
    const commandline::Parsed parsed = commandline::parse(wordsOf(argc, argv), &platform::isDirectory);
    if (const int status = answered(parsed, argv[0]); status >= 0)
        return status;

    // The standard buttons of the message boxes speak German, as the program does.
    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale(QLocale::German), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator);

    Form1::Options options;
    options.programDir = QApplication::applicationDirPath();
    options.iniPath = ini::settingsPath(options.programDir,
                                        QFileInfo(QApplication::applicationFilePath()).completeBaseName());
    options.commandLine = parsed.directory;
    options.installed = ini::installedProgram(options.programDir);

    Launcher launcher(options);
    launcher.start();
    return QApplication::exec();
}
