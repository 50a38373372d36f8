#include "pages/Exif.h"

#include <QFile>

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
            if (e.tag != 0x9003 || e.type != 2 || e.count < 19 || e.count > 64)
                return;
            const qint64 at = t.u32(e.valueAt);
            if (!t.has(at, e.count))
                return;
            const char *s = reinterpret_cast<const char *>(t.data() + at);
            info.dateTimeOriginal = QString::fromLatin1(s, qstrnlen(s, e.count)).trimmed();
        });
    }
}

bool isFrameMarker(uchar m)
{
    return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
}

} // namespace

JpegInfo parseHead(const QByteArray &headBytes)
{
    JpegInfo info;
    const auto *d = reinterpret_cast<const uchar *>(headBytes.constData());
    const qint64 size = qMin<qint64>(headBytes.size(), HeadSize);
    if (size < 4 || d[0] != 0xFF || d[1] != 0xD8)
        return info;
    info.status = HeadStatus::Jpeg;

    bool exifSeen = false;
    qint64 pos = 2;
    while (pos + 4 <= size) {
        if (d[pos] != 0xFF)
            break; // not a marker: the header is damaged, stop looking
        const uchar marker = d[pos + 1];
        if (marker == 0xFF) { // fill byte
            ++pos;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
            pos += 2;
            continue;
        }
        if (marker == 0xD9 || marker == 0xDA)
            break; // end of image, or the scan data begins: no header follows
        const qint64 length = qint64(d[pos + 2]) << 8 | d[pos + 3];
        if (length < 2)
            break;
        const qint64 data = pos + 4;
        const qint64 available = qMin(length - 2, size - data);

        if (isFrameMarker(marker) && available >= 5 && !info.frameSize.isValid()) {
            const int height = d[data + 1] << 8 | d[data + 2];
            const int width = d[data + 3] << 8 | d[data + 4];
            info.frameSize = QSize(width, height);
            info.progressive = marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE;
        } else if (marker == 0xE1 && !exifSeen && available >= 14 && memcmp(d + data, "Exif\0\0", 6) == 0) {
            exifSeen = true;
            const Tiff tiff(d + data + 6, available - 6);
            if (tiff.valid())
                parseTiff(tiff, data + 6, info);
        }
        pos += 2 + length;
    }
    return info;
}

FileHead readHead(const QString &path)
{
    FileHead h;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return h;
    h.readable = true;
    h.fileSize = f.size();
    h.head = f.read(HeadSize);
    h.info = parseHead(h.head);
    return h;
}

} // namespace exif
