// Reading the capture dates of 1,000 pictures, with no date kept from before
// and the files in the page cache, next to the least any reader of the head
// must do: open each file and read its first 64 KiB. Also the whole directory
// through the reader's pool, as the window sorts by date.
#include "Bench.h"
#include "TestPictures.h"
#include "core/pictures/CaptureDate.h"
#include "core/pictures/DateReader.h"
#include "core/platform/FileNames.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int Distinct = 16;

// Camera-like pictures larger than the head, every file its own inode.
bool makePictures(const QString &dir, int count, QStringList &paths)
{
    for (int i = 0; i < Distinct; ++i) {
        testpics::CameraOptions o;
        o.noise = 12;
        o.dateTimeOriginal = QStringLiteral("2024:05:%1 12:%2:00")
                                 .arg(i + 1, 2, 10, QLatin1Char('0'))
                                 .arg(i, 2, 10, QLatin1Char('0'));
        o.exifText = {{0x9004, o.dateTimeOriginal}, {0x9291, QStringLiteral("42")}};
        // Every fourth one edited: an XMP packet behind the EXIF block.
        if (i % 4 == 3)
            o.xmp =
                QStringLiteral("<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF><rdf:Description "
                               "xmp:CreateDate=\"2024-05-01T12:00:00\" photoshop:DateCreated=\"2024-05-01\"/>"
                               "</rdf:RDF></x:xmpmeta>") +
                QString(2000, QLatin1Char(' '));
        if (!testpics::writeCameraPhoto(QDir(dir).filePath(QStringLiteral("d%1.jpg").arg(i)),
                                        QSize(1024, 768), i, o))
            return false;
    }
    for (int i = 0; i < count; ++i) {
        const QString path = QDir(dir).filePath(QStringLiteral("IMG_%1.jpg").arg(i, 4, 10, QLatin1Char('0')));
        if (!QFile::copy(QDir(dir).filePath(QStringLiteral("d%1.jpg").arg(i % Distinct)), path))
            return false;
        paths << path;
    }
    return true;
}

qint64 readHeads(const QStringList &paths)
{
    static char buffer[64 * 1024];
    qint64 total = 0;
    for (const QString &p : paths) {
        const int fd = ::open(platform::encodeName(p).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        total += n > 0 ? n : 0;
        ::close(fd);
    }
    return total;
}

template <typename F> double bestMs(int rounds, F &&f)
{
    double best = 1e300;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer t;
        t.start();
        f();
        best = std::min(best, double(t.nsecsElapsed()) / 1e6);
    }
    return best;
}

int benchDates(const QStringList &args)
{
    const int files = args.isEmpty() ? 1000 : args.first().toInt();
    const int rounds = 5;
    QTemporaryDir dir;
    QStringList paths;
    if (!dir.isValid() || files <= 0 || !makePictures(dir.path(), files, paths)) {
        std::fprintf(stderr, "dates: cannot make the pictures (or bad count)\n");
        return 1;
    }
    readHeads(paths); // into the page cache, for both
    for (const QString &p : paths) {
        QFile f(p);
        if (f.open(QIODevice::ReadOnly))
            f.readAll();
    }

    qint64 bytes = 0;
    int fromPicture = 0;
    const double readMs = bestMs(rounds, [&] { bytes = readHeads(paths); });
    // No cache of our own: every date read from its file.
    const double datesMs = bestMs(rounds, [&] {
        fromPicture = 0;
        for (const QString &p : paths)
            fromPicture += dates::readCaptureDate(p).fromPicture() ? 1 : 0;
    });
    if (fromPicture != files) {
        std::fprintf(stderr, "dates: %d of %d pictures gave their own date\n", fromPicture, files);
        return 1;
    }

    // The window's way: the pool, a fresh reader each round, results handed
    // over through the event loop.
    const double poolMs = bestMs(rounds, [&] {
        dates::DateReader reader;
        bool done = false;
        QObject::connect(&reader, &dates::DateReader::finished, [&] { done = true; });
        reader.read(paths);
        while (!done)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    });

    std::printf("%d pictures of about %lld KiB; best of %d rounds, page cache warm, no dates kept\n", files,
                static_cast<long long>(QFileInfo(paths.first()).size() / 1024), rounds);
    std::printf("  open + read first 64 KiB      %8.1f ms  (%.1f us a file, %lld bytes)\n", readMs,
                readMs * 1000 / files, static_cast<long long>(bytes));
    std::printf("  capture dates, one thread     %8.1f ms  (%.1f us a file)\n", datesMs,
                datesMs * 1000 / files);
    std::printf("  capture dates, reader's pool  %8.1f ms\n", poolMs);
    std::printf("RESULT files=%d dates_ms=%.1f read_ms=%.1f ratio=%.2f pool_ms=%.1f\n", files, datesMs,
                readMs, datesMs / readMs, poolMs);
    return 0;
}

} // namespace

NAMORA_BENCH("dates", "capture dates of 1,000 pictures against reading their first 64 KiB [COUNT]",
             benchDates);
