#include "pages/ThumbnailDecoder.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QTransform>
#include <cmath>

namespace thumbs {

namespace {

// The JPEG decoder asks its device for more data when the picture's data runs
// out before its end marker, and on its own only warns and fills the rest with
// grey. A read that finds nothing left therefore tells that the file was cut
// short: such a file is shown as damaged rather than half grey.
class EndWatchingFile : public QFile {
public:
    using QFile::QFile;
    bool ranPastEnd() const { return m_ranPastEnd; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 n = QFile::readData(data, maxSize);
        if (n == 0 && maxSize > 0)
            m_ranPastEnd = true;
        return n;
    }

private:
    bool m_ranPastEnd = false;
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
    if (!plausibleSize(info.frameSize, head.fileSize))
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

Result fromMain(const QString &path, const exif::FileHead &head, QSize box)
{
    const exif::JpegInfo &info = head.info;
    if (!head.readable)
        return {Status::Unreadable, {}};
    if (info.status != exif::HeadStatus::Jpeg)
        return {Status::NotJpeg, {}};
    if (box.isEmpty())
        return {Status::Damaged, {}};

    EndWatchingFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return {Status::Unreadable, {}};
    QImageReader reader(&file, "jpeg");
    reader.setDecideFormatFromContent(false);
    reader.setAutoTransform(false);

    // The decoder's own reading of the header allocates nothing large; the size
    // found in the head is checked first, the decoder's as well (a frame header
    // may lie beyond the head).
    QSize frame = info.frameSize;
    if (frame.isValid() && !plausibleSize(frame, file.size()))
        return {Status::TooLarge, {}};
    const QSize decoderFrame = reader.size();
    if (!decoderFrame.isValid())
        return {Status::Damaged, {}};
    if (!plausibleSize(decoderFrame, file.size()))
        return {Status::TooLarge, {}};
    frame = decoderFrame;

    // Asking for the stored-orientation target makes the decoder pick the
    // smallest DCT scale that still covers it and scale the rest smoothly.
    const QSize target = storedTarget(box, info.orientation);
    reader.setScaledSize(target);
    QImage stored = reader.read();
    if (stored.isNull() || file.ranPastEnd())
        return {Status::Damaged, {}};
    return {Status::Ok, finish(std::move(stored), box, info.orientation)};
}

Result decodeFile(const QString &path, QSize box)
{
    return fromMain(path, exif::readHead(path), box);
}

} // namespace thumbs
