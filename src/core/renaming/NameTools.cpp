#include "core/renaming/NameTools.h"

#include <QLocale>
#include <cmath>

namespace names {

namespace {

constexpr int Int16Min = -32768;
constexpr int Int16Max = 32767;

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

QString foldCase(const QString &text)
{
    // One unit at a time and never through the full (length-changing) mapping,
    // so a position in the copy is the same position in the text.
    QString folded = text;
    for (QChar &c : folded)
        c = c.toUpper();
    return folded;
}

QStringList affixNames(const QStringList &names, const QList<bool> &filled, const QString &prefix,
                       const QString &suffix)
{
    QStringList out = names;
    for (int i = 0; i < out.size(); ++i) {
        if (i < filled.size() && filled.at(i))
            out[i] = prefix + out.at(i) + suffix;
    }
    return out;
}

} // namespace

std::optional<double> readDecimal(const QString &text)
{
    int begin = 0;
    int end = text.size();
    while (begin < end && isBlank(text.at(begin)))
        ++begin;
    while (end > begin && isBlank(text.at(end - 1)))
        --end;

    // Rebuilt in the C locale's notation, so the conversion itself never depends
    // on the system's locale.
    QString canonical;
    int i = begin;
    if (i < end && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-'))) {
        if (text.at(i) == QLatin1Char('-'))
            canonical += QLatin1Char('-');
        ++i;
    }
    int digits = 0;
    bool separatorSeen = false;
    for (; i < end; ++i) {
        const QChar c = text.at(i);
        if (isAsciiDigit(c)) {
            canonical += c;
            ++digits;
        } else if ((c == QLatin1Char('.') || c == QLatin1Char(',')) && !separatorSeen) {
            canonical += QLatin1Char('.');
            separatorSeen = true;
        } else {
            return std::nullopt;
        }
    }
    if (digits == 0)
        return std::nullopt;
    bool ok = false;
    const double value = QLocale::c().toDouble(canonical, &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<int> roundToInt16(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    double whole = std::floor(value);
    const double fraction = value - whole;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0))
        whole += 1.0;
    if (whole < Int16Min || whole > Int16Max)
        return std::nullopt;
    return int(whole);
}

std::optional<int> readInt16(const QString &text)
{
    const std::optional<double> value = readDecimal(text);
    if (!value)
        return std::nullopt;
    return roundToInt16(*value);
}

int startNumberOf(const QString &text)
{
    return readInt16(text).value_or(1);
}

QString padNumber(qint64 number, int width)
{
    QString s = QString::number(number);
    if (s.size() < width)
        s.prepend(QString(width - s.size(), QLatin1Char('0')));
    return s;
}

QString normaliseStartNumber(const QString &text)
{
    return padNumber(startNumberOf(text), int(text.size()));
}

StartNumberStep nextPageStartNumber(const QString &text, int lastSlot)
{
    const std::optional<double> value = readDecimal(text);
    if (!value)
        return {false, text};
    const std::optional<int> next = roundToInt16(*value + lastSlot + 1);
    if (!next)
        return {false, text};
    return {true, padNumber(*next, int(text.size()))};
}

StartNumberStep previousPageStartNumber(const QString &text, int lastSlot)
{
    const std::optional<int> value = readInt16(text);
    if (!value)
        return {false, text};
    // 16-bit arithmetic: a result below the range is an overflow, not a wrap.
    const qint64 previous = qint64(*value) - lastSlot - 1;
    if (previous < Int16Min || previous > Int16Max)
        return {false, text};
    return {true, padNumber(previous, int(text.size()))};
}

QStringList prefixNames(const QStringList &names, const QList<bool> &filled, const QString &prefix)
{
    return affixNames(names, filled, prefix, QString());
}

QStringList suffixNames(const QStringList &names, const QList<bool> &filled, const QString &suffix)
{
    return affixNames(names, filled, QString(), suffix);
}

QStringList numberNames(const QStringList &names, const QString &startText)
{
    const int width = int(startText.size());
    const qint64 start = startNumberOf(startText);
    QStringList out = names;
    for (int i = 0; i < out.size(); ++i)
        out[i] += padNumber(start + i, width);
    return out;
}

QString ReplaceNoCase(const QString &text, const QString &search, const QString &replacement)
{
    if (search.isEmpty())
        return text;
    const QString foldedSearch = foldCase(search);
    const QString foldedReplacement = foldCase(replacement);
    QString result = text;
    QString folded = foldCase(text);
    qsizetype from = 0;
    while (from <= result.size()) {
        const qsizetype at = folded.indexOf(foldedSearch, from, Qt::CaseSensitive);
        if (at < 0)
            break;
        result.replace(at, search.size(), replacement);
        // Folding works unit by unit, so the folded copy can follow the text by
        // the same replacement instead of being folded again.
        folded.replace(at, search.size(), foldedReplacement);
        // Every round either moves past a non-empty replacement or shortens the
        // text, so the loop always ends.
        from = at + replacement.size();
    }
    return result;
}

Selection nameSelectionOnFocus(const QString &name, const QString &prefix)
{
    const int length = int(name.size());
    const bool found = prefix.isEmpty() ? !name.isEmpty() : name.contains(prefix, Qt::CaseSensitive);
    if (!found)
        return {0, length};
    const int offset = int(prefix.size()) + 1;
    if (length <= offset)
        return {length, 0};
    return {offset, length - offset};
}

Selection prefixSelectionOnFocus(const QString &text)
{
    const int length = int(text.size());
    if (length <= 2)
        return {length, 0};
    return {2, length - 2};
}

QString toggledName(const QString &current, const QString &shownName)
{
    return current.isEmpty() ? shownName : QString();
}

} // namespace names
