#pragma once

#include <QString>
#include <QStringList>
#include <functional>

// Starting another program: always with an argument list, never through a shell.
namespace platform {

using StartHandler = std::function<bool(const QString &program, const QStringList &args)>;

// Starts program detached (without waiting); true when it was started.
bool startDetached(const QString &program, const QStringList &args);

// Replaces the real start by handler (tests); an empty handler restores it.
void setStartHandler(StartHandler handler);

} // namespace platform
