#include "core/pictures/CaptureDate.h"

#include "core/platform/FileNames.h"
#include "core/platform/text.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace dates {

namespace {

// The first read: the EXIF block and, for most files, the XMP packet behind it.
constexpr qint64 FirstRead = 64 * 1024;

// Digits at s[from..from+count) as a number; -1 when any is no digit.
int digits(const QString &s, int from, int count)
{
    if (from < 0 || from + count > s.size())
        return -1;
    int n = 0;
    for (int i = from; i < from + count; ++i) {
        const QChar c = s.at(i);
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
        n = n * 10 + (c.unicode() - '0');
    }
    return n;
}

// "+02:00", "-0530", "Z" as seconds east of UTC; empty when malformed.
std::optional<int> parseOffset(const QString &s)
{
    if (s == QLatin1String("Z"))
        return 0;
    if (s.size() != 6 && s.size() != 5)
        return std::nullopt;
    const QChar sign = s.at(0);
    if (sign != QLatin1Char('+') && sign != QLatin1Char('-'))
        return std::nullopt;
    const int hours = digits(s, 1, 2);
    const int minutes = digits(s, s.size() == 6 ? 4 : 3, 2);
    if (hours < 0 || hours > 14 || minutes < 0 || minutes > 59 ||
        (s.size() == 6 && s.at(3) != QLatin1Char(':')))
        return std::nullopt;
    const int seconds = (hours * 60 + minutes) * 60;
    return sign == QLatin1Char('-') ? -seconds : seconds;
}

// Milliseconds from the digits of a second's fraction ("54" is 540 ms); empty
// when there are none or anything else is in them.
std::optional<int> parseFraction(const QString &s)
{
    if (s.isEmpty() || s.size() > 9 || digits(s, 0, int(s.size())) < 0)
        return std::nullopt;
    const QString ms = (s + QStringLiteral("00")).left(3);
    return digits(ms, 0, 3);
}

} // namespace

QDateTime CaptureDate::dateTime() const
{
    if (offsetSeconds)
        return QDateTime(date, time, Qt::OffsetFromUTC, *offsetSeconds);
    // The clock as shot, in no time zone: a time that the zone of this
    // computer skips (a summer-time change) is still the time shown.
    return QDateTime(date, time, Qt::UTC);
}

qint64 CaptureDate::sortKey() const
{
    return QDateTime(date, time, Qt::UTC).toMSecsSinceEpoch();
}

std::optional<CaptureDate> parseDateTime(const QString &raw, Source source, const QString &subSec,
                                         const QString &offset)
{
    const QString v = raw.trimmed();
    // YYYY?MM?DD with ':' (EXIF) or '-' (XMP) between, nothing else: a value
    // of only a year or a month is no day to name a picture by.
    const int year = digits(v, 0, 4);
    const int month = digits(v, 5, 2);
    const int day = digits(v, 8, 2);
    if (year < 1 || month < 0 || day < 0)
        return std::nullopt;
    const QChar sep = v.at(4);
    if ((sep != QLatin1Char(':') && sep != QLatin1Char('-')) || v.at(7) != sep)
        return std::nullopt;
    CaptureDate d;
    d.source = source;
    d.date = QDate(year, month, day);
    d.time = QTime(0, 0);
    if (!d.date.isValid())
        return std::nullopt;
    if (v.size() == 10) {
        if (auto o = parseOffset(offset))
            d.offsetSeconds = o;
        return d;
    }
    // Then " " or "T", hh:mm, optionally :ss, a fraction and an offset.
    if (v.at(10) != QLatin1Char(' ') && v.at(10) != QLatin1Char('T'))
        return std::nullopt;
    const int hour = digits(v, 11, 2);
    const int minute = digits(v, 14, 2);
    if (hour < 0 || minute < 0 || v.size() < 16 || v.at(13) != QLatin1Char(':'))
        return std::nullopt;
    int pos = 16;
    int second = 0;
    if (pos < v.size() && v.at(pos) == QLatin1Char(':')) {
        second = digits(v, 17, 2);
        if (second < 0)
            return std::nullopt;
        pos = 19;
    }
    int ms = 0;
    if (pos < v.size() && (v.at(pos) == QLatin1Char('.') || v.at(pos) == QLatin1Char(','))) {
        int end = pos + 1;
        while (end < v.size() && v.at(end).isDigit())
            ++end;
        const auto fraction = parseFraction(v.mid(pos + 1, end - pos - 1));
        if (!fraction)
            return std::nullopt;
        ms = *fraction;
        pos = end;
    } else if (const auto fraction = parseFraction(subSec.trimmed())) {
        ms = *fraction;
    }
    d.time = QTime(hour, minute, second, ms);
    if (!d.time.isValid())
        return std::nullopt;
    const QString zone = v.mid(pos).trimmed();
    if (!zone.isEmpty()) {
        d.offsetSeconds = parseOffset(zone);
        if (!d.offsetSeconds)
            return std::nullopt;
    } else if (auto o = parseOffset(offset.trimmed())) {
        d.offsetSeconds = o;
    }
    return d;
}

CaptureDate fromHead(const exif::JpegInfo &info)
{
    const exif::DateTags &t = info.dates;
    const struct {
        const QString &value;
        Source source;
        const QString &subSec;
        const QString &offset;
    } candidates[] = {
        {info.dateTimeOriginal, Source::ExifOriginal, t.subSecOriginal, t.offsetOriginal},
        {t.dateTimeDigitized, Source::ExifDigitized, t.subSecDigitized, t.offsetDigitized},
        {t.xmpDateCreated, Source::XmpDateCreated, QString(), QString()},
        {t.xmpDateTimeOriginal, Source::XmpDateTimeOriginal, QString(), QString()},
        {t.xmpCreateDate, Source::XmpCreateDate, QString(), QString()},
        {t.dateTime, Source::ExifDateTime, t.subSec, t.offset},
    };
    for (const auto &c : candidates) {
        if (c.value.isEmpty())
            continue;
        if (auto d = parseDateTime(c.value, c.source, c.subSec, c.offset))
            return *d;
    }
    return CaptureDate{};
}

CaptureDate readCaptureDate(const QString &path, thumbs::FileKey *key)
{
    if (key)
        *key = thumbs::FileKey{};
    const int fd = platform::openForReading(path);
    if (fd < 0)
        return CaptureDate{};
    const thumbs::FileKey identity = thumbs::fileKeyOf(fd);
    if (key)
        *key = identity;

    QByteArray head(FirstRead, Qt::Uninitialized);
    qint64 got = 0;
    const auto readUpTo = [&](qint64 size) {
        while (got < size) {
            const ssize_t n = ::pread(fd, head.data() + got, size_t(size - got), off_t(got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += n;
        }
    };
    readUpTo(FirstRead);
    head.truncate(got);
    exif::JpegInfo info = exif::parseHead(head);
    CaptureDate date = fromHead(info);
    // The blocks in front of the picture go on past the first read (a large
    // EXIF block, the XMP packet behind it): the rest of the head, once.
    if (!date.valid() && info.status == exif::HeadStatus::Jpeg && got == FirstRead &&
        info.headers == exif::Headers::Incomplete) {
        head.resize(exif::HeadSize);
        readUpTo(exif::HeadSize);
        head.truncate(got);
        info = exif::parseHead(head);
        date = fromHead(info);
    }
    ::close(fd);
    if (date.valid() || !identity.valid())
        return date;

    // The file's time, as this computer's clock shows it.
    const QDateTime modified = QDateTime::fromMSecsSinceEpoch(identity.mtimeNs / 1000000);
    date.source = Source::FileTime;
    date.date = modified.date();
    date.time = modified.time();
    date.offsetSeconds = modified.offsetFromUtc();
    return date;
}

QString sourceName(Source source)
{
    switch (source) {
    case Source::ExifOriginal:
        return QStringLiteral("EXIF DateTimeOriginal");
    case Source::ExifDigitized:
        return QStringLiteral("EXIF DateTimeDigitized");
    case Source::XmpDateCreated:
        return QStringLiteral("XMP photoshop:DateCreated");
    case Source::XmpDateTimeOriginal:
        return QStringLiteral("XMP exif:DateTimeOriginal");
    case Source::XmpCreateDate:
        return QStringLiteral("XMP xmp:CreateDate");
    case Source::ExifDateTime:
        return QStringLiteral("EXIF DateTime (Änderungsdatum im Bild)");
    case Source::FileTime:
        return QStringLiteral("Änderungszeit der Datei");
    case Source::None:
        break;
    }
    return QString();
}

QString describe(const CaptureDate &date)
{
    if (!date.valid())
        return QStringLiteral("Kein Datum: die Datei kann nicht gelesen werden.");
    QString when = date.date.toString(QStringLiteral("dd.MM.yyyy")) + QLatin1Char(' ') +
                   date.time.toString(QStringLiteral("HH:mm:ss"));
    if (date.offsetSeconds && date.source != Source::FileTime) {
        const int minutes = qAbs(*date.offsetSeconds) / 60;
        when += QStringLiteral(" %1%2:%3")
                    .arg(*date.offsetSeconds < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                    .arg(minutes / 60, 2, 10, QLatin1Char('0'))
                    .arg(minutes % 60, 2, 10, QLatin1Char('0'));
    }
    if (date.source == Source::FileTime)
        return QStringLiteral("Datum: %1\nQuelle: %2\nAchtung: Das Bild nennt kein Aufnahmedatum; "
                              "die Änderungszeit der Datei ist oft falsch.")
            .arg(when, sourceName(date.source));
    return QStringLiteral("Aufnahmedatum: %1\nQuelle: %2").arg(when, sourceName(date.source));
}

QString defaultFormat()
{
    return QStringLiteral("yyyy.MM.dd");
}

bool isUsableFormat(const QString &format)
{
    // Every format is some text to Qt; one that writes two moments differing in
    // every field the same way shows no date (only quoted text, or nothing).
    if (format.trimmed().isEmpty() || format.size() > 64)
        return false;
    const QDateTime a(QDate(2001, 2, 3), QTime(4, 5, 6), Qt::UTC);
    const QDateTime b(QDate(2012, 11, 24), QTime(15, 46, 57), Qt::UTC);
    const QString ta = a.toString(format);
    if (ta == b.toString(format) || ta.trimmed().isEmpty())
        return false;
    return std::none_of(ta.cbegin(), ta.cend(), [](QChar c) { return c.category() == QChar::Other_Control; });
}

QString separatorFor(const QString &jahrText)
{
    if (jahrText.isEmpty() || jahrText.back().isLetterOrNumber())
        return QStringLiteral("_");
    return QString(jahrText.back());
}

QString prefixFor(const CaptureDate &date, const QString &format, const QString &separator)
{
    return text::CleanName(date.dateTime().toString(format)) + separator;
}

QList<int> captureOrder(const QList<std::optional<CaptureDate>> &dates)
{
    QList<int> order(dates.size());
    for (int i = 0; i < dates.size(); ++i)
        order[i] = i;
    const auto own = [&](int i) { return dates.at(i) && dates.at(i)->fromPicture(); };
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        if (own(a) != own(b))
            return own(a);
        return own(a) && dates.at(a)->sortKey() < dates.at(b)->sortKey();
    });
    return order;
}

} // namespace dates
