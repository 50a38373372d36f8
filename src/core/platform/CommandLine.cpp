#include "core/platform/CommandLine.h"

#include "core/platform/FileNames.h"

#include <QStringList>

namespace commandline {

namespace {
QString joined(const QList<QByteArray> &args, qsizetype from)
{
    QStringList words;
    for (qsizetype i = from; i < args.size(); ++i)
        words << platform::decodeName(args.at(i));
    return words.join(QLatin1Char(' '));
}
} // namespace

Parsed parse(const QList<QByteArray> &args, const std::function<bool(const QString &)> &isDirectory)
{
    Parsed p;
    if (args.isEmpty())
        return p;
    if (args.first() == "--") {
        p.directory = joined(args, 1);
        return p;
    }
    p.directory = joined(args, 0);
    if (isDirectory && isDirectory(p.directory.trimmed()))
        return p;
    if (args.size() == 1) {
        const QByteArray &a = args.first();
        if (a == "--help" || a == "-h" || a == "-?") {
            p.action = Action::Help;
            p.directory.clear();
        } else if (a == "--version" || a == "-v") {
            p.action = Action::Version;
            p.directory.clear();
        }
    }
    const QByteArray &first = args.first();
    if (p.action == Action::Run && first.size() > 1 && first.startsWith('-')) {
        p.action = Action::Unknown;
        p.directory = QString::fromLocal8Bit(first);
    }
    return p;
}

QString unknownOption(const QString &programName, const QString &option)
{
    return QStringLiteral("%1: unbekannte Option „%2“\n"
                          "Ein Verzeichnis, dessen Name mit - beginnt: %1 -- VERZEICHNIS\n"
                          "Mehr dazu: %1 --help\n")
        .arg(programName, option);
}

QString usage(const QString &programName, const QString &settingsFile, const QString &journalDirectory)
{
    return QStringLiteral("Usage: %1 [--] [directory | picture]\n"
                          "Renames the JPEG pictures of a directory, page by page.\n\n"
                          "  directory      the picture directory to open; every word after the\n"
                          "                 program's name belongs to it, blanks included\n"
                          "  picture        a picture: its directory opens at the page holding it\n"
                          "  --             ends the options: what follows is the directory\n"
                          "  -h, --help     prints this text\n"
                          "  -v, --version  prints the version\n\n"
                          "Settings file:   %2\n"
                          "Renaming journal (puts files back after a crash): %3\n")
        .arg(programName, settingsFile, journalDirectory);
}

} // namespace commandline
