#include "core/platform/CommandLine.h"
#include "core/platform/FileNames.h"
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

// Prints what help or version asks for; false when the words ask to run.
bool answered(const commandline::Parsed &parsed, const char *argv0)
{
    switch (parsed.action) {
    case commandline::Action::Help:
        std::fputs(qPrintable(commandline::usage(QFileInfo(QString::fromLocal8Bit(argv0)).fileName())),
                   stdout);
        return true;
    case commandline::Action::Version:
        std::printf("namora %s\n", NAMORA_VERSION);
        return true;
    case commandline::Action::Run:
        break;
    }
    return false;
}
} // namespace

int main(int argc, char *argv[])
{
    // Help and version are answered before any window system is needed.
    if (answered(commandline::parse(wordsOf(argc, argv), &platform::isDirectory), argv[0]))
        return 0;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("namora"));
    QApplication::setApplicationVersion(QStringLiteral(NAMORA_VERSION));
    // Fusion honours the back colours the controls are designed with.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    // The words as bytes, after Qt took its own options (-platform, -style...)
    // out; the arguments Qt hands out are decoded with U+FFFD for names that are
    // not UTF-8.
    const commandline::Parsed parsed = commandline::parse(wordsOf(argc, argv), &platform::isDirectory);
    if (answered(parsed, argv[0]))
        return 0;

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

    Launcher launcher(options);
    launcher.start();
    return QApplication::exec();
}
