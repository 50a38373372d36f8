#include "core/pictures/ThumbnailDecoder.h"

#include "core/platform/Priority.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QTransform>
#include <cmath>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace thumbs {

namespace {

// The JPEG decoder asks its device for more data when the picture's data runs
// out before its end marker, and on its own only warns and fills the rest with
// grey. A read that finds nothing left therefore tells that the file was cut
// short: such a file is shown as damaged rather than half grey.
// Once the caller cancels, every read finds nothing: the decoder then takes the
// file as ended and finishes within the picture it holds.
// It watches the reads of another device: the file itself, or its bytes read
// into memory beforehand.
class EndWatchingDevice : public QIODevice {
public:
    EndWatchingDevice(QIODevice &source, const std::atomic_bool *cancelled, bool standAside)
        : m_source(source), m_cancelled(cancelled), m_standAside(standAside)
    {
        QIODevice::open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool ranPastEnd() const { return m_ranPastEnd; }
    bool stopped() const { return m_stopped; }
    // The head is read before the decoder starts; only the decoder's reads count.
    void startWatching() { m_ranPastEnd = false; }

    bool isSequential() const override { return false; }
    qint64 size() const override { return m_source.size(); }
    bool seek(qint64 pos) override { return m_source.seek(pos) && QIODevice::seek(pos); }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        if (m_standAside)
            platform::standAsideForTheUser();
        if (m_cancelled && *m_cancelled) {
            m_stopped = true;
            return 0;
        }
        const qint64 n = m_source.read(data, maxSize);
        if (n == 0 && maxSize > 0)
            m_ranPastEnd = true;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QIODevice &m_source;
    const std::atomic_bool *m_cancelled;
    bool m_standAside;
    bool m_ranPastEnd = false;
    bool m_stopped = false;
};

// Scales a decoded stored picture to the box (stretching) and turns it upright.
QImage finish(QImage stored, QSize box, int orientation)
{
    const QSize target = storedTarget(box, orientation);
    if (stored.size() != target)
        stored = stored.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QImage upright = orient(stored, orientation);
    if (upright.format() != QImage::Format_RGB32 && upright.format() != QImage::Format_ARGB32_Premultiplied)
        upright = upright.convertToFormat(QImage::Format_RGB32);
    return upright;
}

bool isCancelled(const DecodeControl &control)
{
    return control.cancelled && *control.cancelled;
}

// Whether decoding a picture of these headers for box is refused for what it
// would cost; orientation is the picture's, fileSize the whole file's.
bool tooLarge(const exif::JpegInfo &info, int orientation, qint64 fileSize, QSize box)
{
    return !plausibleSize(info.frameSize, fileSize) || info.keptMarkers > MaxKeptMarkers ||
           info.scans > MaxScans || decodeBytes(info, storedTarget(box, orientation)) > MaxDecodeBytes;
}

// The checks every decode of the main picture passes before the file is handed
// to the decoder; Ok when it may go on.
Status admit(const exif::FileHead &head, QSize box)
{
    const exif::JpegInfo &info = head.info;
    if (!head.readable)
        return Status::Unreadable;
    if (info.status != exif::HeadStatus::Jpeg)
        return Status::NotJpeg;
    if (box.isEmpty())
        return Status::Damaged;
    if (info.frameSize.isValid() && tooLarge(info, info.orientation, head.fileSize, box))
        return Status::TooLarge;
    // The decoder stops at such headers, or the file ends before its picture
    // begins: nothing to decode.
    if (info.headers != exif::Headers::Complete)
        return Status::Damaged;
    return Status::Ok;
}

// The decoder's own run over file: the stored picture scaled to target, as long
// as the decoder finds the frame that was checked.
Result readScaled(EndWatchingDevice &file, QSize frame, QSize target)
{
    QImageReader reader(&file, "jpeg");
    reader.setDecideFormatFromContent(false);
    reader.setAutoTransform(false);
    // The decoder reads the frame from its own header; a size other than the one
    // checked (a frame header the walk could not match) is never decoded.
    if (reader.size() != frame)
        return {file.stopped() ? Status::Cancelled : Status::Damaged, {}};
    // Asking for the stored-orientation target makes the decoder pick the
    // smallest DCT scale that still covers it and scale the rest smoothly.
    reader.setScaledSize(target);
    QImage stored = reader.read();
    if (file.stopped())
        return {Status::Cancelled, {}};
    if (stored.isNull() || file.ranPastEnd())
        return {Status::Damaged, {}};
    return {Status::Ok, std::move(stored)};
}

// glibc raises its threshold for giving large blocks their own mapping (up to
// 32 MB) each time it frees one, so the decoder's buffers of that size end up in
// the arena of the thread that decoded, and stay there when freed: with many
// workers, each would keep the buffers of its last large decode, beyond what
// the budget admitted (measured: 615 MB instead of 412 MB for eight workers).
// After a large decode they are given back.
constexpr qint64 LargeDecodeBytes = 32ll * 1024 * 1024;
void returnFreedMemory()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

// Decodes the main picture from file, which head was read from; held is what
// the caller holds of the file in memory meanwhile.
Result decodeOpened(EndWatchingDevice &file, const exif::FileHead &head, QSize box,
                    const DecodeControl &control, qint64 held)
{
    const Status admitted = admit(head, box);
    if (admitted != Status::Ok)
        return {admitted, {}};
    // The head told about the frame; the scans and the blocks between them,
    // which cost the decoder time and memory too, are seen only in the whole
    // file, walked as the decoder will read it.
    const exif::JpegInfo whole = exif::walkFile(file);
    if (isCancelled(control))
        return {Status::Cancelled, {}};
    if (whole.frameSize != head.info.frameSize || whole.headers != exif::Headers::Complete)
        return {Status::Damaged, {}};
    if (tooLarge(whole, head.info.orientation, head.fileSize, box))
        return {Status::TooLarge, {}};
    const QSize target = storedTarget(box, head.info.orientation);
    // Reading the header already allocates (the metadata blocks the reader
    // keeps), so the memory is reserved before the decoder sees the file.
    const qint64 cost = decodeBytes(whole, target);
    DecodeBudget::Reservation reservation;
    if (control.budget) {
        reservation = control.budget->reserve(cost + held, control.cancelled);
        if (!reservation.granted())
            return {Status::Cancelled, {}};
    }
    if (isCancelled(control) || !file.seek(0))
        return {isCancelled(control) ? Status::Cancelled : Status::Unreadable, {}};
    file.startWatching();

    Result decoded = readScaled(file, head.info.frameSize, target);
    if (cost >= LargeDecodeBytes)
        returnFreedMemory();
    if (!decoded.ok())
        return decoded;
    return {Status::Ok, finish(std::move(decoded.image), box, head.info.orientation)};
}

} // namespace

bool plausibleSize(QSize frame, qint64 fileSize)
{
    if (frame.width() <= 0 || frame.height() <= 0 || fileSize <= 0)
        return false;
    if (frame.width() > MaxSide || frame.height() > MaxSide)
        return false;
    const qint64 pixels = qint64(frame.width()) * frame.height();
    return pixels <= MaxPixelsPerByte * fileSize;
}

qint64 decodeBytes(const exif::JpegInfo &info, QSize target)
{
    if (!info.frameSize.isValid() || info.components < 1 || info.components > exif::MaxComponents ||
        target.isEmpty())
        return -1;
    const qint64 width = info.frameSize.width();
    const qint64 height = info.frameSize.height();
    int hMax = 1, vMax = 1;
    for (int c = 0; c < info.components; ++c) {
        const exif::Sampling s = info.sampling[c];
        if (s.h < 1 || s.h > 4 || s.v < 1 || s.v > 4)
            return -1;
        hMax = qMax(hMax, s.h);
        vMax = qMax(vMax, s.v);
    }
    const auto divUp = [](qint64 a, qint64 b) { return (a + b - 1) / b; };

    // The JPEG reader decodes at M/8 with the smallest M that still covers the
    // target, into a 32-bit picture of that size.
    const double f = qMin(double(width) / target.width(), double(height) / target.height());
    const qint64 m = qint64(qBound(1.0, std::ceil(8 / f), 8.0));
    const qint64 outWidth = divUp(width * m, 8);
    const qint64 outHeight = divUp(height * m, 8);
    qint64 bytes = outWidth * outHeight * 4;
    // Its scaled and turned copies, of the target's size.
    bytes += qint64(target.width()) * target.height() * 4 * 3;

    qint64 coefficients = 0;
    qint64 rows = 0;
    for (int c = 0; c < info.components; ++c) {
        const qint64 h = info.sampling[c].h;
        const qint64 v = info.sampling[c].v;
        // Blocks of the component, padded to whole MCUs.
        const qint64 blocksWide = divUp(divUp(width * h, hMax * 8), h) * h;
        const qint64 blocksHigh = divUp(divUp(height * v, vMax * 8), v) * v;
        coefficients += blocksWide * blocksHigh * 64 * 2;
        // A band of MCU rows of samples, with the context rows the upsampling
        // needs, counted at full scale.
        rows += blocksWide * 8 * v * 8 * 3;
    }
    if (info.keepsAllCoefficients())
        bytes += coefficients;
    bytes += rows + outWidth * vMax * 8 * 4;

    // The reader keeps every comment, APP1 and APP2 block, turns comments into
    // text several times over (the picture's texts, its description) and the
    // blocks into the EXIF and colour profile data.
    bytes += info.keptMarkerBytes * 6 + qint64(info.keptMarkers) * 512;
    // Tables, the decoder's state and the reader's buffers.
    bytes += 1024 * 1024;
    return bytes;
}

bool aspectMatches(QSize thumbnail, QSize frame)
{
    if (thumbnail.isEmpty() || frame.isEmpty())
        return false;
    const double t = double(thumbnail.width()) / thumbnail.height();
    const double f = double(frame.width()) / frame.height();
    return std::abs(t / f - 1.0) <= AspectTolerance;
}

QSize storedTarget(QSize box, int orientation)
{
    return (orientation >= 5 && orientation <= 8) ? box.transposed() : box;
}

int dctDenominator(QSize frame, QSize target)
{
    for (int d : {8, 4, 2}) {
        const int w = (frame.width() + d - 1) / d;
        const int h = (frame.height() + d - 1) / d;
        if (w >= target.width() && h >= target.height())
            return d;
    }
    return 1;
}

QImage orient(const QImage &stored, int orientation)
{
    switch (orientation) {
    case 2:
        return stored.mirrored(true, false);
    case 3:
        return stored.transformed(QTransform().rotate(180));
    case 4:
        return stored.mirrored(false, true);
    case 5: // transpose: turn right, then mirror left to right
        return stored.transformed(QTransform().rotate(90)).mirrored(true, false);
    case 6:
        return stored.transformed(QTransform().rotate(90));
    case 7: // transverse: turn right, then mirror top to bottom
        return stored.transformed(QTransform().rotate(90)).mirrored(false, true);
    case 8:
        return stored.transformed(QTransform().rotate(270));
    default:
        return stored;
    }
}

void loadDecoder()
{
    // Asking a reader for the format's handler finds the plugin and loads it.
    QBuffer empty;
    empty.open(QIODevice::ReadOnly);
    QImageReader reader(&empty, "jpeg");
    reader.setDecideFormatFromContent(false);
    Q_UNUSED(reader.canRead());
}

Result fromEmbedded(const exif::FileHead &head, QSize box)
{
    const exif::JpegInfo &info = head.info;
    if (!head.readable)
        return {Status::Unreadable, {}};
    if (info.status != exif::HeadStatus::Jpeg)
        return {Status::NotJpeg, {}};
    // Without a frame header in the head nothing can be compared: the second
    // stage decides about such a file.
    if (!info.frameSize.isValid())
        return {Status::NoThumbnail, {}};
    // A picture that is not decoded is not stood in for either.
    if (tooLarge(info, info.orientation, head.fileSize, box.isEmpty() ? QSize(1, 1) : box))
        return {Status::TooLarge, {}};
    if (!info.hasThumbnail() || box.isEmpty() || info.thumbnailOffset < 0 ||
        info.thumbnailOffset + info.thumbnailLength > head.head.size())
        return {Status::NoThumbnail, {}};

    QByteArray bytes = head.head.mid(info.thumbnailOffset, info.thumbnailLength);
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "jpeg");
    reader.setDecideFormatFromContent(false);
    reader.setAutoTransform(false);
    const QSize size = reader.size();
    // A thumbnail of another shape (cropped after capture, letterboxed, or out of
    // date) would show a different picture: then only the main picture counts.
    if (!size.isValid() || size.width() > 1024 || size.height() > 1024 ||
        !aspectMatches(size, info.frameSize))
        return {Status::NoThumbnail, {}};
    QImage stored = reader.read();
    if (stored.isNull())
        return {Status::NoThumbnail, {}};
    return {Status::Ok, finish(std::move(stored), box, info.orientation)};
}

namespace {

// The decode of a file open for reading: from memory when the file is small
// enough to read whole (a camera's picture always is), which spares the
// decoder thousands of small reads; from the file itself otherwise.
Result decodeFromFile(QFile &file, const exif::FileHead &head, QSize box, const DecodeControl &control)
{
    // Nothing of a file its head refuses is read beyond the head.
    const Status admitted = admit(head, box);
    if (admitted != Status::Ok)
        return {admitted, {}};
    const qint64 size = file.size();
    if (size > 0 && size <= MaxFileBytesInMemory && file.seek(0)) {
        QByteArray bytes;
        bytes.resize(size);
        qint64 done = 0;
        while (done < size) {
            const qint64 n = file.read(bytes.data() + done, size - done);
            if (n <= 0)
                break;
            done += n;
        }
        // A file cut short meanwhile is decoded as what it is now.
        bytes.resize(done);
        file.close();
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        EndWatchingDevice watched(buffer, control.cancelled, control.standAside);
        return decodeOpened(watched, head, box, control, bytes.size());
    }
    EndWatchingDevice watched(file, control.cancelled, control.standAside);
    return decodeOpened(watched, head, box, control, 0);
}

} // namespace

Result fromMain(const QString &path, const exif::FileHead &head, QSize box, const DecodeControl &control)
{
    const Status admitted = admit(head, box);
    if (admitted != Status::Ok)
        return {admitted, {}};
    QFile file;
    if (exif::openPicture(file, path) != 0)
        return {Status::Unreadable, {}};
    if (control.expected && fileKeyOf(file.handle()) != *control.expected)
        return {Status::Changed, {}};
    return decodeFromFile(file, head, box, control);
}

Result decodeFile(const QString &path, QSize box, const DecodeControl &control)
{
    if (isCancelled(control))
        return {Status::Cancelled, {}};
    QFile file;
    if (exif::openPicture(file, path) != 0)
        return {Status::Unreadable, {}};
    if (control.expected && fileKeyOf(file.handle()) != *control.expected)
        return {Status::Changed, {}};
    return decodeFromFile(file, exif::readHead(file), box, control);
}

} // namespace thumbs
