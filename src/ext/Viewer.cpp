#include "ext/Viewer.h"

#include <QDir>
#include <QFileInfo>

namespace viewer {

Command viewerCommand(const QString &path)
{
    if (path.isEmpty())
        return {};
    // A relative path could start with '-'; an absolute one starts with the root.
    const QString absolute = QDir::isAbsolutePath(path) ? path : QFileInfo(path).absoluteFilePath();
#ifdef Q_OS_WIN
    return {QStringLiteral("explorer.exe"), {QDir::toNativeSeparators(absolute)}};
#else
    return {QStringLiteral("xdg-open"), {absolute}};
#endif
}

} // namespace viewer
