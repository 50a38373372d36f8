#include "app/Ini.h"

// Placeholder bodies; the real reader and writer follow.
namespace ini {
QString IniRead(const QString &, const QString &, const QString &, const QString &defaultValue)
{
    return defaultValue;
}
WriteResult IniWrite(const QString &, const QString &, const QString &, const QString &, bool)
{
    return {};
}
QString settingsPath(const QString &programDir, const QString &exeName)
{
    return programDir + QLatin1Char('/') + exeName + QLatin1String(".ini");
}
} // namespace ini
