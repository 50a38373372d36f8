// The bulk tools on the whole directory: the prefix, the numbering and the
// replace applied to 10,000 names, and every name checked as the save would
// check it, next to merely building the same strings in the same run. Also one
// keystroke in a box and the re-check of the page's markers, in a directory of
// 1,000 and of 10,000 pictures: its time must not grow with the directory.
#include "Bench.h"
#include "core/pages/PageModel.h"
#include "core/renaming/NameTools.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

bool makeFiles(const QString &dir, int count)
{
    for (int i = 0; i < count; ++i) {
        const QByteArray path =
            QFile::encodeName(dir + QStringLiteral("/IMG_%1.jpg").arg(i, 5, 10, QLatin1Char('0')));
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT, 0644);
        if (fd < 0)
            return false;
        ::close(fd);
    }
    return true;
}

double msSince(const QElapsedTimer &t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

// A keystroke into the first box and the markers of a page of 53, best of many.
double keystrokeUs(PageModel &m)
{
    double best = 1e300;
    for (int r = 0; r < 200; ++r) {
        QElapsedTimer t;
        t.start();
        m.setName(0, QStringLiteral("Strand %1").arg(r));
        int problems = 0;
        for (int s = 0; s <= m.lastSlot(); ++s)
            problems += m.nameProblem(s).isEmpty() ? 0 : 1;
        best = std::min(best, double(t.nsecsElapsed()) / 1e3);
        if (problems > 53)
            return -1;
    }
    return best;
}

int benchWholeDir(const QStringList &args)
{
    const int files = args.isEmpty() ? 10000 : args.first().toInt();
    const int rounds = 5;
    QTemporaryDir dir, small;
    if (!dir.isValid() || !small.isValid() || files <= 0 || !makeFiles(dir.path(), files) ||
        !makeFiles(small.path(), files / 10)) {
        std::fprintf(stderr, "wholedir: cannot make the scratch directories\n");
        return 1;
    }

    double apply = 1e300, check = 1e300, base = 1e300;
    int problems = -1;
    for (int r = 0; r < rounds; ++r) {
        PageModel m;
        m.load(dir.path());
        m.setLastSlot(52);
        m.showPage(true);
        m.setWholeDirectory(true);
        m.setStartNumber(QStringLiteral("0001"));
        const QStringList names = m.pictureNames();

        // The least the tools can cost: the same three rounds of strings.
        QElapsedTimer t;
        t.start();
        QStringList built =
            names::prefixNames(names, QList<bool>(names.size(), true), QStringLiteral("2024_"));
        built = names::numberNames(built, QStringLiteral("0001"));
        for (QString &s : built)
            s = names::ReplaceNoCase(s, QStringLiteral("img"), QStringLiteral("Rom"));
        base = std::min(base, msSince(t));

        t.restart();
        m.addPrefix(QStringLiteral("2024_"));
        m.addNumbers();
        m.replaceText(QStringLiteral("img"), QStringLiteral("Rom"));
        apply = std::min(apply, msSince(t));
        if (m.pictureNames() != built) {
            std::fprintf(stderr, "wholedir: the tools gave other names than the plain lists\n");
            return 1;
        }
        t.restart();
        problems = m.problemCount();
        check = std::min(check, msSince(t));
    }

    PageModel large, few;
    for (auto [m, path] : {std::pair{&large, dir.path()}, std::pair{&few, small.path()}}) {
        m->load(path);
        m->setLastSlot(52);
        m->showPage(true);
        m->setWholeDirectory(true);
        m->addSuffix(QStringLiteral("_x")); // every name changed: every marker is checked
    }
    const double keyLarge = keystrokeUs(large);
    const double keySmall = keystrokeUs(few);

    const double ratio = (apply + check) / base;
    std::printf("%d names; best of %d rounds\n", files, rounds);
    std::printf("  building the strings alone      %8.2f ms\n", base);
    std::printf("  prefix + numbers + replace      %8.2f ms\n", apply);
    std::printf("  checking every name             %8.2f ms (%d refused)\n", check, problems);
    std::printf("  -> (apply + check) / base       %8.1f\n", ratio);
    std::printf("  a keystroke and a page of markers: %.1f us with %d pictures, %.1f us with %d\n", keySmall,
                files / 10, keyLarge, files);
    std::printf("RESULT files=%d apply_ms=%.2f check_ms=%.2f base_ms=%.2f ratio=%.1f keystroke_us=%.1f "
                "keystroke_small_us=%.1f\n",
                files, apply, check, base, ratio, keyLarge, keySmall);
    return 0;
}

} // namespace

NAMORA_BENCH("wholedir",
             "prefix, numbers and replace on 10,000 names and their check, against building the strings",
             benchWholeDir);
