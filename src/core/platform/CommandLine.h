#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>

// What the words behind the program's name ask for. The program has always
// taken everything behind its name as one directory, so a path with blanks typed
// without quotes still names one directory, and a directory may begin with "-".
namespace commandline {

enum class Action {
    Run,     // open the window; directory may be empty
    Help,    // print the usage and end
    Version, // print the version and end
    Unknown, // an option the program does not know: say so and end with status 2
};

struct Parsed {
    Action action = Action::Run;
    QString directory; // the words joined by blanks, decoded as file names
};

// args are the words as the system passed them (bytes; names need not be
// UTF-8). The rules, in this order: no words, no directory; "--" first, the words
// after it are the directory; words that name an existing directory are the
// directory; a lone "--help"/"-h"/"-?" or "--version"/"-v" asks for that;
// any other first word beginning with "-" is an unknown option (a directory of
// such a name that does not exist yet is reached with "--"); anything else is
// the directory, which start-up then tests like any other.
Parsed parse(const QList<QByteArray> &args, const std::function<bool(const QString &)> &isDirectory);

// The text --help prints.
QString usage(const QString &programName, const QString &settingsFile, const QString &journalDirectory);

// What an unknown option prints on standard error.
QString unknownOption(const QString &programName, const QString &option);

// The version the program shows in its title bar and prints for --version.
inline constexpr const char *DisplayVersion = "1.3b";

} // namespace commandline
