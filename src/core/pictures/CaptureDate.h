#pragma once

#include "core/pictures/Exif.h"
#include "core/pictures/ThumbnailCache.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

// When a picture was taken, and where that was read: the picture's own EXIF
// and XMP values first, the file's modification time last. A value that is
// empty, a placeholder ("0000:00:00 00:00:00") or an impossible date is no
// date, and the next source is asked.
namespace dates {

// In the order they are asked.
enum class Source {
    None,                // not even the file could be looked at
    ExifOriginal,        // EXIF DateTimeOriginal
    ExifDigitized,       // EXIF DateTimeDigitized
    XmpDateCreated,      // XMP photoshop:DateCreated
    XmpDateTimeOriginal, // XMP exif:DateTimeOriginal
    XmpCreateDate,       // XMP xmp:CreateDate
    ExifDateTime,        // EXIF DateTime (IFD0): when the file was last changed
    FileTime,            // the file's modification time
};

struct CaptureDate {
    Source source = Source::None;
    QDate date;
    QTime time;                       // 00:00 when the value named only the day
    std::optional<int> offsetSeconds; // east of UTC, where the picture tells it

    bool valid() const { return source != Source::None && date.isValid(); }
    // The picture itself tells the date (not the file system).
    bool fromPicture() const { return valid() && source != Source::FileTime; }
    // The clock time where the picture was taken, with its offset where known.
    QDateTime dateTime() const;
    // Orders by the clock time as shot, milliseconds included; the offsets are
    // left out, as two cameras on one trip keep the same local time.
    qint64 sortKey() const;
    friend bool operator==(const CaptureDate &a, const CaptureDate &b)
    {
        return a.source == b.source && a.date == b.date && a.time == b.time &&
               a.offsetSeconds == b.offsetSeconds;
    }
};

// A date and time as EXIF ("2008:05:30 10:00:00") or XMP ("2008-05-30T10:00:00.5+02:00",
// "2008-05-30") write it; subSec and offset are EXIF's separate fraction and offset
// values, which are ignored when malformed. Empty when value holds no whole,
// possible date.
std::optional<CaptureDate> parseDateTime(const QString &value, Source source, const QString &subSec = {},
                                         const QString &offset = {});

// The first usable date the head's values tell, in the order of Source; an
// invalid date (source None) when the picture tells none.
CaptureDate fromHead(const exif::JpegInfo &info);

// The date of the picture at path: its head read from the file's first 64 KiB
// (up to 128 KiB where the blocks in front of the picture go on), else the
// file's modification time. key receives the identity of the file read.
CaptureDate readCaptureDate(const QString &path, thumbs::FileKey *key = nullptr);

// What the tooltip of a picture's name box says about its date, in German;
// a date from the file time is marked as such.
QString describe(const CaptureDate &date);
QString sourceName(Source source);

// The prefix format, and whether a format shows a date at all.
QString defaultFormat(); // "yyyy.MM.dd"
bool isUsableFormat(const QString &format);

// What goes between the date and the name: the last character of the date
// prefix box when it is neither a letter nor a digit, else "_".
QString separatorFor(const QString &jahrText);

// The date written with format, cleaned like the date prefix (a ':' or '/' in
// a format becomes "_"), followed by separator.
QString prefixFor(const CaptureDate &date, const QString &format, const QString &separator);

// The list order by capture date of pictures given in name order: those whose
// own date is known by that date, the others after them; equal dates, and the
// pictures without a date of their own, keep their name order. Returns the
// indexes into dates in their new order.
QList<int> captureOrder(const QList<std::optional<CaptureDate>> &dates);

} // namespace dates
