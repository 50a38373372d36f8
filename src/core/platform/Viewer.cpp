#include "core/platform/Viewer.h"

#include "core/platform/FileNames.h"

#include <QDir>

namespace viewer {

Command viewerCommand(const QString &path)
{
    if (path.isEmpty())
        return {};
    // A relative path could start with '-'; an absolute one starts with the root.
    const QString absolute =
        path.startsWith(QLatin1Char('/')) ? path : platform::joinPath(platform::currentDirectory(), path);
#ifdef Q_OS_WIN
    return {QStringLiteral("explorer.exe"), {QDir::toNativeSeparators(absolute)}};
#else
    return {QStringLiteral("xdg-open"), {absolute}};
#endif
}

} // namespace viewer
