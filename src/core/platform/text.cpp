#include "core/platform/text.h"

namespace text {
namespace {
const QChar Backslash(u'\\');
const QChar Slash(u'/');
const QChar Quote(u'"');
const QChar Blank(u' ');
} // namespace

QString GetFileName(const QString &path)
{
    // A path with both kinds is cut at its last backslash only.
    const QChar separator = (!path.contains(Backslash) && path.contains(Slash)) ? Slash : Backslash;
    const qsizetype at = path.lastIndexOf(separator);
    return at < 0 ? path : path.mid(at + 1);
}

QString AddSeparator(const QString &path)
{
    if (path.isEmpty())
        return path;
    QString body = path;
    const bool quoted = body.endsWith(Quote);
    if (quoted)
        body.chop(1);
    if (body.contains(Backslash)) {
        if (!body.endsWith(Backslash))
            body += Backslash;
    } else if (body.contains(Slash)) {
        if (!body.endsWith(Slash))
            body += Slash;
    }
    if (quoted)
        body += Quote;
    return body;
}

QString QuoteIfSpaces(const QString &t)
{
    qsizetype begin = 0;
    qsizetype end = t.size();
    while (begin < end && t.at(begin) == Blank)
        ++begin;
    while (end > begin && t.at(end - 1) == Blank)
        --end;
    if (begin == end)
        return t;
    const QString trimmed = t.mid(begin, end - begin);
    if (trimmed.contains(Quote) || !trimmed.contains(Blank))
        return trimmed;
    return Quote + trimmed + Quote;
}

QString CleanName(const QString &t)
{
    QString r;
    r.reserve(t.size());
    for (const QChar c : t) {
        switch (c.unicode()) {
        case u':':
        case u'\\':
        case u'/':
            r += QChar(u'_');
            break;
        case u'"':
            r += QChar(u'\'');
            break;
        case u'\r':
        case u'\n':
            break;
        default:
            r += c;
        }
    }
    return r;
}

} // namespace text
