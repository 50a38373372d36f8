// The capture-date reading on any bytes: as the XMP packet and as the EXIF
// block of a JPEG head, as a date value, and as a date format. No crash, no
// read outside the data, and a date that is said to be valid is one.
#include "core/pictures/CaptureDate.h"
#include "core/pictures/Exif.h"

#include <QDateTime>
#include <QString>

#include <cstdlib>

namespace {

QByteArray segment(char marker, const QByteArray &payload)
{
    const QByteArray body = payload.left(0xFFFF - 2);
    QByteArray out("\xFF", 1);
    out.append(marker);
    const int length = int(body.size()) + 2;
    out.append(char(length >> 8)).append(char(length & 0xFF));
    return out + body;
}

void check(const dates::CaptureDate &d)
{
    if (d.source == dates::Source::FileTime)
        std::abort(); // the head alone never tells the file's time
    if (d.source != dates::Source::None && (!d.date.isValid() || !d.time.isValid() || d.date.year() < 1))
        std::abort();
    if (d.valid() &&
        (dates::describe(d).isEmpty() || dates::prefixFor(d, dates::defaultFormat(), {}).size() < 10))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QByteArray soi("\xFF\xD8", 2);
    const QByteArray eoi("\xFF\xD9", 2);

    // As an XMP packet, and as the EXIF block (TIFF) of a head.
    const QByteArray xmp =
        soi + segment('\xE1', QByteArray("http://ns.adobe.com/xap/1.0/\0", 29) + bytes) + eoi;
    check(dates::fromHead(exif::parseHead(xmp)));
    const QByteArray tiff = soi + segment('\xE1', QByteArray("Exif\0\0", 6) + bytes) + eoi;
    const exif::JpegInfo info = exif::parseHead(tiff);
    check(dates::fromHead(info));
    if (info.orientation < 1 || info.orientation > 8)
        std::abort();

    // As a value, with itself as fraction and offset, and as a format.
    const QString text = QString::fromUtf8(bytes.left(256));
    if (const auto d = dates::parseDateTime(text, dates::Source::XmpCreateDate, text, text))
        check(*d);
    if (dates::isUsableFormat(text)) {
        const auto d =
            dates::parseDateTime(QStringLiteral("2008:05:30 10:00:00"), dates::Source::ExifOriginal);
        if (!d || dates::prefixFor(*d, text, QStringLiteral("_")).isEmpty())
            std::abort();
    }
    return 0;
}
