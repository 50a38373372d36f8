#include "app/text.h"

// Placeholder bodies; the real routines follow.
namespace text {
QString GetFileName(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}
QString AddSeparator(const QString &path)
{
    return path.endsWith(QLatin1Char('/')) || path.isEmpty() ? path : path + QLatin1Char('/');
}
QString QuoteIfSpaces(const QString &t)
{
    return t;
}
QString CleanName(const QString &t)
{
    return t;
}
} // namespace text
