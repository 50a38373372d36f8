#pragma once

#include <QString>
#include <QStringList>
#include <functional>

// Starting another program: always with an argument list, never through a shell.
namespace platform {

// fd is the open program file of a start by descriptor, -1 for a start by path.
using StartHandler = std::function<bool(const QString &program, const QStringList &args, int fd)>;

// Starts program detached (without waiting; it outlives this process and is
// never left as a zombie). A program without "/" is looked up in PATH. The
// program and every argument reach it as the bytes platform::encodeName gives,
// so a path whose name is not valid UTF-8 arrives as the name on disk. True when
// the program was started (its exec succeeded).
bool startDetached(const QString &program, const QStringList &args);

// Starts the program file open as fd, detached, exactly that file: what was
// checked through the descriptor is what runs, whatever is renamed over its
// path in between. program is its name for argv[0] and messages. A script runs
// too, its interpreter reading it through /proc/self/fd (so its $0 is that
// path). The caller keeps fd and closes it afterwards.
bool startDetachedFile(int fd, const QString &program, const QStringList &args);

// Replaces the real start by handler (tests); an empty handler restores it.
void setStartHandler(StartHandler handler);

} // namespace platform
