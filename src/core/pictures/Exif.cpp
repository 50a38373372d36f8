#include "core/pictures/Exif.h"

#include "core/platform/FileNames.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <unistd.h>

namespace exif {

namespace {

// A bounds-checked view of a TIFF structure in either byte order.
class Tiff {
public:
    Tiff(const uchar *data, qint64 size) : m_d(data), m_size(size)
    {
        if (m_size < 8)
            return;
        if (m_d[0] == 'I' && m_d[1] == 'I')
            m_little = true;
        else if (m_d[0] == 'M' && m_d[1] == 'M')
            m_little = false;
        else
            return;
        m_valid = u16(2) == 42;
    }
    bool valid() const { return m_valid; }
    qint64 size() const { return m_size; }
    const uchar *data() const { return m_d; }

    bool has(qint64 offset, qint64 length) const
    {
        return offset >= 0 && length >= 0 && offset <= m_size && length <= m_size - offset;
    }
    quint32 u16(qint64 o) const
    {
        if (!has(o, 2))
            return 0;
        return m_little ? quint32(m_d[o]) | quint32(m_d[o + 1]) << 8
                        : quint32(m_d[o]) << 8 | quint32(m_d[o + 1]);
    }
    quint32 u32(qint64 o) const
    {
        if (!has(o, 4))
            return 0;
        return m_little ? u16(o) | u16(o + 2) << 16 : u16(o) << 16 | u16(o + 2);
    }

private:
    const uchar *m_d;
    qint64 m_size;
    bool m_little = true;
    bool m_valid = false;
};

struct Entry {
    quint32 tag;
    quint32 type;
    quint32 count;
    qint64 valueAt; // offset of the 4-byte value field
};

// Calls f for each entry of the IFD at offset; returns the offset of the next
// IFD (0 when none or when the IFD does not fit).
template <typename F> quint32 forEachEntry(const Tiff &t, quint32 offset, F f)
{
    if (offset < 8 || !t.has(offset, 2))
        return 0;
    const quint32 count = t.u16(offset);
    const qint64 first = qint64(offset) + 2;
    if (!t.has(first, qint64(count) * 12 + 4))
        return 0;
    for (quint32 i = 0; i < count; ++i) {
        const qint64 at = first + qint64(i) * 12;
        f(Entry{t.u16(at), t.u16(at + 2), t.u32(at + 4), at + 8});
    }
    return t.u32(first + qint64(count) * 12);
}

// An integer value of a SHORT or LONG entry.
qint64 integer(const Tiff &t, const Entry &e)
{
    if (e.count < 1)
        return -1;
    if (e.type == 3)
        return t.u16(e.valueAt);
    if (e.type == 4)
        return t.u32(e.valueAt);
    return -1;
}

// The text of an ASCII entry, up to its first NUL, trimmed; empty when the
// entry is of another type, longer than any date value, or lies outside. A
// value of up to four bytes sits in the entry itself.
QString ascii(const Tiff &t, const Entry &e)
{
    constexpr quint32 MaxText = 64;
    if (e.type != 2 || e.count < 1 || e.count > MaxText)
        return QString();
    const qint64 at = e.count <= 4 ? e.valueAt : qint64(t.u32(e.valueAt));
    if (!t.has(at, e.count))
        return QString();
    const char *s = reinterpret_cast<const char *>(t.data() + at);
    return QString::fromLatin1(s, qsizetype(qstrnlen(s, e.count))).trimmed();
}

void parseTiff(const Tiff &t, qint64 tiffInFile, JpegInfo &info)
{
    quint32 exifIfd = 0;
    const quint32 ifd0 = t.u32(4);
    const quint32 ifd1 = forEachEntry(t, ifd0, [&](const Entry &e) {
        if (e.tag == 0x0112) {
            const qint64 o = integer(t, e);
            info.orientation = (o >= 1 && o <= 8) ? int(o) : 1;
        } else if (e.tag == 0x8769) {
            exifIfd = quint32(qMax<qint64>(0, integer(t, e)));
        } else if (e.tag == 0x0132) {
            info.dates.dateTime = ascii(t, e);
        }
    });

    // IFD1 holds the thumbnail. A chain that points back at IFD0 is ignored; no
    // chain is followed further than this one step.
    if (ifd1 != 0 && ifd1 != ifd0) {
        qint64 offset = -1, length = -1;
        forEachEntry(t, ifd1, [&](const Entry &e) {
            if (e.tag == 0x0201)
                offset = integer(t, e);
            else if (e.tag == 0x0202)
                length = integer(t, e);
        });
        // The thumbnail must lie inside the EXIF block, as the format requires.
        if (offset > 0 && length > 4 && t.has(offset, length)) {
            info.thumbnailOffset = tiffInFile + offset;
            info.thumbnailLength = length;
        }
    }

    if (exifIfd != 0 && exifIfd != ifd0) {
        forEachEntry(t, exifIfd, [&](const Entry &e) {
            DateTags &d = info.dates;
            switch (e.tag) {
            case 0x9003:
                info.dateTimeOriginal = ascii(t, e);
                break;
            case 0x9004:
                d.dateTimeDigitized = ascii(t, e);
                break;
            case 0x9290:
                d.subSec = ascii(t, e);
                break;
            case 0x9291:
                d.subSecOriginal = ascii(t, e);
                break;
            case 0x9292:
                d.subSecDigitized = ascii(t, e);
                break;
            case 0x9010:
                d.offset = ascii(t, e);
                break;
            case 0x9011:
                d.offsetOriginal = ascii(t, e);
                break;
            case 0x9012:
                d.offsetDigitized = ascii(t, e);
                break;
            default:
                break;
            }
        });
    }
}

// The value of property name (such as "xmp:CreateDate") in an XMP packet,
// written either as an attribute (name="value") or as an element's text
// (<name>value</name>); empty when it is in neither form. Each step of the
// search moves forward, and a value is at most MaxValue bytes long.
QString xmpValue(const char *d, qint64 size, const char *name)
{
    constexpr qint64 MaxValue = 64;
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    const qint64 nameLength = qint64(qstrlen(name));
    qint64 pos = 1;
    while (pos < size) {
        const void *hit = memchr(d + pos, name[0], size_t(size - pos));
        if (!hit)
            break;
        const qint64 at = static_cast<const char *>(hit) - d;
        pos = at + 1;
        if (at + nameLength > size || memcmp(d + at, name, size_t(nameLength)) != 0)
            continue;
        // An attribute follows a blank, an element its "<"; anything else (a
        // closing tag, a longer name that ends in this one) is not the property.
        const bool element = d[at - 1] == '<';
        if (!element && !blank(d[at - 1]))
            continue;
        qint64 q = at + nameLength;
        while (q < size && blank(d[q]))
            ++q;
        if (q >= size)
            break;
        char end = '<';
        if (element && d[q] == '>') {
            ++q;
        } else if (!element && d[q] == '=') {
            ++q;
            while (q < size && blank(d[q]))
                ++q;
            if (q >= size || (d[q] != '"' && d[q] != '\''))
                continue;
            end = d[q++];
        } else {
            continue;
        }
        const qint64 limit = qMin(size, q + MaxValue + 1);
        const void *close = q < limit ? memchr(d + q, end, size_t(limit - q)) : nullptr;
        if (!close)
            continue;
        const QString value =
            QString::fromUtf8(d + q, qsizetype(static_cast<const char *>(close) - (d + q))).trimmed();
        if (!value.isEmpty())
            return value;
    }
    return QString();
}

// The capture dates an XMP packet (the bytes after its APP1 header) names.
void parseXmp(const char *d, qint64 size, JpegInfo &info)
{
    info.dates.xmpDateCreated = xmpValue(d, size, "photoshop:DateCreated");
    info.dates.xmpDateTimeOriginal = xmpValue(d, size, "exif:DateTimeOriginal");
    info.dates.xmpCreateDate = xmpValue(d, size, "xmp:CreateDate");
}

// The start of an APP1 block that holds an XMP packet, its NUL included.
constexpr std::string_view XmpHeader("http://ns.adobe.com/xap/1.0/\0", 29);

// Frame headers the decoder decodes: baseline and extended sequential, and
// progressive, each with Huffman or arithmetic coding.
bool isDecodedFrame(int m)
{
    return m == 0xC0 || m == 0xC1 || m == 0xC2 || m == 0xC9 || m == 0xCA;
}

// Markers the decoder reads past by their length.
bool isSkippedByLength(int m)
{
    return m == 0xC4 || m == 0xCC || m == 0xDB || m == 0xDC || m == 0xDD || (m >= 0xE0 && m <= 0xEF) ||
           m == 0xFE;
}

// The bytes of a head held in memory.
class MemorySource {
public:
    explicit MemorySource(const QByteArray &bytes)
        : m_d(reinterpret_cast<const uchar *>(bytes.constData())),
          m_size(qMin<qint64>(bytes.size(), HeadSize))
    {
    }
    int at(qint64 pos) const { return pos >= 0 && pos < m_size ? m_d[pos] : -1; }
    // The position of the next 0xFF from pos on; -1 when there is none.
    qint64 findFF(qint64 pos) const
    {
        if (pos < 0 || pos >= m_size)
            return -1;
        const void *hit = memchr(m_d + pos, 0xFF, size_t(m_size - pos));
        return hit ? static_cast<const uchar *>(hit) - m_d : -1;
    }
    // The bytes from pos on, at most length of them; null when pos lies outside.
    const uchar *span(qint64 pos, qint64 length, qint64 *available) const
    {
        if (pos < 0 || pos >= m_size)
            return nullptr;
        *available = qMin(length, m_size - pos);
        return m_d + pos;
    }

private:
    const uchar *m_d;
    qint64 m_size;
};

// A file read through a window: for the walk through the whole file before the
// decode, and for the rare file whose markers go on beyond the head. Only the
// markers, their lengths and the frame and scan headers are looked at; a scan's
// data is passed over by searching for its end.
class FileSource {
public:
    explicit FileSource(QIODevice &file) : m_file(file) {}
    int at(qint64 pos)
    {
        if (pos < m_start || pos >= m_start + m_window.size()) {
            if (pos < 0 || !m_file.seek(pos))
                return -1;
            m_start = pos;
            m_window = m_file.read(WindowSize);
            if (m_window.isEmpty())
                return -1;
        }
        return uchar(m_window[pos - m_start]);
    }
    qint64 findFF(qint64 pos)
    {
        while (at(pos) >= 0) {
            const qint64 offset = pos - m_start;
            const void *hit = memchr(m_window.constData() + offset, 0xFF, size_t(m_window.size() - offset));
            if (hit)
                return m_start + (static_cast<const char *>(hit) - m_window.constData());
            pos = m_start + m_window.size();
        }
        return -1;
    }
    const uchar *span(qint64 pos, qint64 length, qint64 *available)
    {
        if (at(pos) < 0)
            return nullptr;
        if (pos + length > m_start + m_window.size() && m_window.size() == WindowSize) {
            m_start = -1; // read again from pos, so the span lies in one window
            m_window.clear();
            if (at(pos) < 0)
                return nullptr;
        }
        *available = qMin(length, m_start + m_window.size() - pos);
        return reinterpret_cast<const uchar *>(m_window.constData()) + (pos - m_start);
    }

private:
    static constexpr qint64 WindowSize = 64 * 1024;
    QIODevice &m_file;
    qint64 m_start = -1;
    QByteArray m_window;
};

// Reads the frame header at data (the bytes after the marker's length) the way
// the decoder does; false when the decoder would refuse it.
template <typename Source> bool readFrame(Source &src, qint64 data, qint64 length, int marker, JpegInfo &info)
{
    qint64 available = 0;
    const uchar *d = src.span(data, 6 + 3 * MaxComponents, &available);
    if (!d || available < 6)
        return false;
    const int precision = d[0];
    const int height = d[1] << 8 | d[2];
    const int width = d[3] << 8 | d[4];
    const int components = d[5];
    if (precision != 8 || width == 0 || height == 0 || components == 0 || components > MaxComponents ||
        length != 8 + 3 * components || available < 6 + 3 * components)
        return false;
    std::array<Sampling, MaxComponents> sampling{};
    for (int c = 0; c < components; ++c) {
        const int factors = d[6 + 3 * c + 1];
        sampling[c] = Sampling{factors >> 4, factors & 15};
        if (sampling[c].h < 1 || sampling[c].h > 4 || sampling[c].v < 1 || sampling[c].v > 4)
            return false;
    }
    info.frameSize = QSize(width, height);
    info.progressive = marker == 0xC2 || marker == 0xCA;
    info.components = components;
    info.sampling = sampling;
    return true;
}

// Walks the markers from the start of the image as the decoder reads them: up to
// the first scan, or with throughScans on through every scan's data to the end
// of the image. Every step moves forward, so the walk ends on any input.
template <typename Source> void walkMarkers(Source &src, JpegInfo &info, bool withExif, bool throughScans)
{
    info.headers = Headers::Incomplete;
    bool frameSeen = false;
    bool exifSeen = false;
    bool xmpSeen = false;
    qint64 pos = 2;
    for (;;) {
        // The decoder skips anything up to the next 0xFF, then fill bytes; a
        // stuffed zero is no marker. In a scan's data the same finds the end of
        // the scan, passing its restart markers.
        int marker = 0;
        while (marker == 0 || (info.scans > 0 && marker >= 0xD0 && marker <= 0xD7)) {
            pos = src.findFF(pos);
            if (pos < 0)
                return;
            while (src.at(pos) == 0xFF)
                ++pos;
            marker = src.at(pos);
            if (marker < 0)
                return;
            ++pos;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue; // no length follows
        if (marker != 0xDA && !isDecodedFrame(marker) && !isSkippedByLength(marker)) {
            // A second start, the end, or a marker the decoder rejects: in front
            // of the first scan the decoder has no picture then.
            if (info.scans == 0)
                info.headers = Headers::Refused;
            return;
        }
        const int high = src.at(pos);
        const int low = src.at(pos + 1);
        if (high < 0 || low < 0)
            return;
        const qint64 length = qint64(high) << 8 | low;
        const qint64 data = pos + 2;
        if (marker == 0xDA) {
            const int inScan = src.at(data);
            if (!frameSeen) {
                info.headers = Headers::Refused;
                return;
            }
            if (inScan < 0)
                return;
            if (info.scans++ == 0) {
                info.firstScanComponents = inScan;
                info.headers = Headers::Complete;
                if (!throughScans)
                    return;
            }
            pos = data + qMax<qint64>(0, length - 2);
            continue;
        }
        if (isDecodedFrame(marker)) {
            if (frameSeen || !readFrame(src, data, length, marker, info)) {
                if (info.scans > 0)
                    return; // the decoder stops here; what it read stands
                info.headers = Headers::Refused;
                return;
            }
            frameSeen = true;
        } else if (marker == 0xFE || marker == 0xE1 || marker == 0xE2) {
            ++info.keptMarkers;
            info.keptMarkerBytes += qMax<qint64>(0, length - 2);
        }
        if (withExif && marker == 0xE1 && length >= 16) {
            qint64 available = 0;
            const uchar *d = src.span(data, length - 2, &available);
            if (d && !exifSeen && available >= 14 && memcmp(d, "Exif\0\0", 6) == 0) {
                exifSeen = true;
                const Tiff tiff(d + 6, available - 6);
                if (tiff.valid())
                    parseTiff(tiff, data + 6, info);
            } else if (d && !xmpSeen && available > qint64(XmpHeader.size()) &&
                       memcmp(d, XmpHeader.data(), XmpHeader.size()) == 0) {
                xmpSeen = true;
                parseXmp(reinterpret_cast<const char *>(d) + XmpHeader.size(),
                         available - qint64(XmpHeader.size()), info);
            }
        }
        // A length below 2 makes the decoder read on right after it.
        pos = data + qMax<qint64>(0, length - 2);
    }
}

} // namespace

JpegInfo parseHead(const QByteArray &headBytes)
{
    JpegInfo info;
    MemorySource src(headBytes);
    if (src.at(0) != 0xFF || src.at(1) != 0xD8 || src.at(3) < 0)
        return info;
    info.status = HeadStatus::Jpeg;
    walkMarkers(src, info, true, false);
    return info;
}

FileHead readHead(QIODevice &file)
{
    FileHead h;
    if (!file.isOpen() || !file.seek(0))
        return h;
    h.readable = true;
    h.fileSize = file.size();
    h.head = file.read(HeadSize);
    h.info = parseHead(h.head);
    if (h.info.status == HeadStatus::Jpeg && h.info.headers == Headers::Incomplete &&
        h.fileSize > h.head.size()) {
        // Only the frame is taken from the longer walk: the embedded thumbnail
        // and the other EXIF values count only where they lie in the head.
        JpegInfo whole;
        FileSource src(file);
        walkMarkers(src, whole, false, false);
        h.info.frameSize = whole.frameSize;
        h.info.progressive = whole.progressive;
        h.info.headers = whole.headers;
        h.info.components = whole.components;
        h.info.sampling = whole.sampling;
        h.info.firstScanComponents = whole.firstScanComponents;
        h.info.keptMarkers = whole.keptMarkers;
        h.info.keptMarkerBytes = whole.keptMarkerBytes;
        h.info.scans = whole.scans;
    }
    return h;
}

JpegInfo walkFile(QIODevice &file)
{
    JpegInfo info;
    FileSource src(file);
    if (src.at(0) != 0xFF || src.at(1) != 0xD8 || src.at(3) < 0)
        return info;
    info.status = HeadStatus::Jpeg;
    walkMarkers(src, info, false, true);
    return info;
}

int openPicture(QFile &file, const QString &path, QIODevice::OpenMode mode)
{
    const int fd = platform::openForReading(path);
    if (fd < 0)
        return errno;
    // The QFile owns the descriptor only once it opened it.
    if (!file.open(fd, mode | QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return EIO;
    }
    return 0;
}

FileHead readHead(const QString &path)
{
    QFile f;
    const int error = openPicture(f, path);
    if (error != 0) {
        FileHead h;
        h.error = error;
        return h;
    }
    return readHead(f);
}

} // namespace exif
