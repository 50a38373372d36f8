#pragma once

#include <QString>
#include <QStringList>

// Which program opens a picture outside this program, and how it is called.
namespace viewer {

struct Command {
    QString program;       // empty: nothing to open
    QStringList arguments; // the picture's path as the only argument
};

// The viewer command for a picture: the desktop's opener with the absolute path as
// one argument, so blanks, quotes, '$' or ';' in the path reach it unchanged and a
// path can never be read as an option. An empty path gives an empty command.
Command viewerCommand(const QString &path);

} // namespace viewer
