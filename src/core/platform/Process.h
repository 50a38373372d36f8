#pragma once

#include <QString>
#include <QStringList>
#include <functional>

// Starting another program: always with an argument list, never through a shell.
namespace platform {

using StartHandler = std::function<bool(const QString &program, const QStringList &args)>;

// Starts program detached (without waiting; it outlives this process and is
// never left as a zombie). A program without "/" is looked up in PATH. The
// program and every argument reach it as the bytes platform::encodeName gives,
// so a path whose name is not valid UTF-8 arrives as the name on disk. True when
// the program was started (its exec succeeded).
bool startDetached(const QString &program, const QStringList &args);

// Replaces the real start by handler (tests); an empty handler restores it.
void setStartHandler(StartHandler handler);

} // namespace platform
