// Listing a directory of many pictures: listPictures (filter, decode, natural
// order) next to the least any listing can do, a bare readdir with a suffix
// check and std::sort of the byte strings, on the same directory in the same run.
#include "Bench.h"
#include "core/pictures/Companions.h"
#include "core/pictures/PictureList.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Names as cameras and people give them, so the natural order has digit runs,
// case differences, umlauts, ß and accents to deal with; every tenth file is no
// picture, and every tenth is the RAW companion of a picture.
std::string benchName(int i)
{
    char buf[64];
    switch (i % 10) {
    case 0:
        std::snprintf(buf, sizeof buf, "notes_%d.txt", i);
        break;
    case 1:
    case 2:
        std::snprintf(buf, sizeof buf, "IMG_%d.JPG", i);
        break;
    case 3:
        std::snprintf(buf, sizeof buf, "DSC%06d.jpg", i);
        break;
    case 4:
        std::snprintf(buf, sizeof buf, "Urlaub %d.jpg", i);
        break;
    case 5:
        std::snprintf(buf, sizeof buf, "Strand R\xC3\xBCgen_%d.jpg", i);
        break;
    case 6:
        std::snprintf(buf, sizeof buf, "PXL_20230712_%d.jpg", 100000 + i);
        break;
    case 8: // "Äpfel im Straßencafé"
        std::snprintf(buf, sizeof buf,
                      "\xC3\x84pfel im Stra\xC3\x9F"
                      "encaf\xC3\xA9 %d.jpg",
                      i);
        break;
    case 7: // beside "IMG_<i-6>.JPG"
        std::snprintf(buf, sizeof buf, "IMG_%d.CR2", i - 6);
        break;
    default:
        std::snprintf(buf, sizeof buf, "img_%d.jpg", i);
        break;
    }
    return buf;
}

size_t bareListing(const QByteArray &dir)
{
    std::vector<std::string> names;
    DIR *d = opendir(dir.constData());
    if (!d)
        return 0;
    while (const dirent *e = readdir(d)) {
        const size_t len = std::strlen(e->d_name);
        if (e->d_name[0] != '.' && len >= 4 && strcasecmp(e->d_name + len - 4, ".jpg") == 0)
            names.emplace_back(e->d_name, len);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names.size();
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

int benchListing(const QStringList &args)
{
    const int files = args.isEmpty() ? 100000 : args.first().toInt();
    const int rounds = 5;
    QTemporaryDir dir;
    if (!dir.isValid() || files <= 0) {
        std::fprintf(stderr, "listing: cannot make a scratch directory (or bad count)\n");
        return 1;
    }
    const QByteArray path = QFile::encodeName(dir.path());
    for (int i = 0; i < files; ++i) {
        const std::string p = path.toStdString() + '/' + benchName(i);
        const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT, 0644);
        if (fd < 0) {
            std::perror(p.c_str());
            return 1;
        }
        ::close(fd);
    }

    size_t bareCount = 0;
    qsizetype listCount = 0;
    bareListing(path); // warm the directory cache for both
    const double readdirMs = bestMs(rounds, [&] { bareCount = bareListing(path); });
    // As the program lists: the pictures, then each one's companions from the
    // same read.
    qsizetype companions = 0;
    const double listMs = bestMs(rounds, [&] {
        const pages::PictureListing listing = pages::listPictures(dir.path());
        listCount = listing.names.size();
        companions = 0;
        for (const QStringList &c : pages::companionsOf(listing.names, listing.companions))
            companions += c.size();
    });
    const double pictureOnlyMs = bestMs(rounds, [&] { (void)pages::listPictures(dir.path()).names.size(); });
    if (qsizetype(bareCount) != listCount) {
        std::fprintf(stderr, "listing: counts differ (%zu bare, %lld listed)\n", bareCount,
                     static_cast<long long>(listCount));
        return 1;
    }
    std::printf("directory of %d files, %lld pictures, %lld companions; best of %d rounds\n", files,
                static_cast<long long>(listCount), static_cast<long long>(companions), rounds);
    std::printf("  bare readdir + std::sort      %8.1f ms\n", readdirMs);
    std::printf("  listPictures (natural order)  %8.1f ms\n", pictureOnlyMs);
    std::printf("  ... and the companions        %8.1f ms\n", listMs);
    std::printf("RESULT files=%d list_ms=%.1f readdir_ms=%.1f ratio=%.2f companions_ms=%.1f\n", files, listMs,
                readdirMs, listMs / readdirMs, listMs - pictureOnlyMs);
    return 0;
}

} // namespace

NAMORA_BENCH("listing", "list and sort 100,000 files against bare readdir + std::sort [COUNT]", benchListing);
