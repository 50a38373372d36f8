// The JPEG head parser and the thumbnail decoder on any file: no crash, no read
// outside the data, and no decode the memory check did not admit (fuzz/run sets
// memory limits that a decode of a hostile header would pass).
#include "core/pictures/CaptureDate.h"
#include "core/pictures/Exif.h"
#include "core/pictures/ThumbnailDecoder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdlib>
#include <unistd.h>

namespace {
QString scratchFile()
{
    const QString base =
        QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    const QString dir = base + QStringLiteral("/namora-thumb-fuzz-") + QString::number(getpid());
    QDir().mkpath(dir);
    return dir + QStringLiteral("/p.jpg");
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv); // image plugins are found through it
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString path = scratchFile();
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const exif::JpegInfo info = exif::parseHead(bytes);
    if (info.hasThumbnail() &&
        (info.thumbnailOffset < 0 || info.thumbnailOffset + info.thumbnailLength > qint64(size)))
        std::abort(); // an embedded thumbnail said to lie outside the head
    if (info.orientation < 1 || info.orientation > 8)
        std::abort();
    // The head's dates: a date said to come from the picture is a real one.
    const dates::CaptureDate told = dates::fromHead(info);
    if (told.source != dates::Source::None &&
        (!told.fromPicture() || !told.date.isValid() || !told.time.isValid()))
        std::abort();

    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            std::abort();
    }
    const exif::FileHead head = exif::readHead(path);
    // Any file that exists has a date, its own or the file's time.
    if (!dates::readCaptureDate(path).valid())
        std::abort();
    const QSize box(160, 120);
    const thumbs::Result embedded = thumbs::fromEmbedded(head, box);
    if (embedded.ok() && embedded.image.size() != box)
        std::abort();
    const thumbs::Result main = thumbs::fromMain(path, head, box);
    if (main.ok() && main.image.size() != box)
        std::abort();
    // Nothing is decoded that the memory check did not see in full and admit.
    if (main.ok() && (head.info.headers != exif::Headers::Complete ||
                      thumbs::decodeBytes(head.info, thumbs::storedTarget(box, head.info.orientation)) >
                          thumbs::MaxDecodeBytes))
        std::abort();
    // Reading the head from the decoder's own open file changes nothing.
    if (thumbs::decodeFile(path, box).status != main.status)
        std::abort();
    return 0;
}
