#include "app/Form1.h"
#include "app/Ini.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QStyleFactory>
#include <QTranslator>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("namora"));
    QApplication::setApplicationVersion(QStringLiteral(NAMORA_VERSION));
    // Fusion honours the back colours the controls are designed with.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Renames the JPEG pictures of a directory, page by page."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("directory"),
                                 QStringLiteral("The picture directory to open (optional)."),
                                 QStringLiteral("[directory]"));
    parser.process(app);

    // The standard buttons of the message boxes speak German, as the program does.
    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale(QLocale::German), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator);

    Form1::Options options;
    options.programDir = QApplication::applicationDirPath();
    options.iniPath =
        ini::settingsPath(options.programDir, QFileInfo(QApplication::applicationFilePath()).completeBaseName());
    // Everything behind the program name is one directory, as it always was: a
    // path with blanks typed without quotes still names one directory.
    options.commandLine = parser.positionalArguments().join(QLatin1Char(' '));

    Form1 form(options);
    form.Form_Load();
    return QApplication::exec();
}
