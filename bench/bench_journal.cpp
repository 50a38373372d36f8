// A start that finds a planted, well-formed journal of 500,000 moves (57 MB)
// in the journal directory: the time and the peak memory of the recovery,
// against reading the same file into memory once. The journal's files do not
// exist, so nothing is renamed; what is measured is what the start costs.
#include "Bench.h"
#include "Measure.h"
#include "core/renaming/RenameRun.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

namespace {

QByteArray plantedJournal(const QString &dir, int moves)
{
    // Written compactly, as a planted journal would be to stay under the size
    // limit.
    QByteArray text = "{\"moves\":[";
    for (int i = 0; i < moves; ++i) {
        const QByteArray n = QByteArray::number(i);
        text += "        {\"device\": \"1\", \"from\": \"" + dir.toUtf8() + "/IMG_" + n +
                ".jpg\", \"inode\": \"" + QByteArray::number(i + 1) + "\", \"temps\": [], \"to\": \"" +
                dir.toUtf8() + "/Urlaub_" + n + ".jpg\"}" + (i + 1 < moves ? ",\n" : "\n");
    }
    text += "],\"version\":1}\n";
    return text;
}

int run(const QStringList &args)
{
    const int moves = args.isEmpty() ? 500000 : qMax(1, args.first().toInt());
    QTemporaryDir journals;
    // Short paths, so that the journal stays under the size limit as a
    // planted one would.
    const QByteArray text = plantedJournal(QStringLiteral("/p"), moves);
    const QString path = journals.filePath(QStringLiteral("rename-4242-1-1.json"));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size() ||
        !f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }
    f.close();
    std::printf("a journal of %d moves, %.1f MB; load average %s\n", moves, text.size() / 1e6,
                qPrintable(bench::loadAverage()));

    // The baseline: the file read into memory once.
    bench::resetPeakRss();
    const double before = bench::currentRssMb();
    QElapsedTimer clock;
    clock.start();
    QFile in(path);
    const qsizetype read = in.open(QIODevice::ReadOnly) ? in.readAll().size() : 0;
    const double readMs = clock.nsecsElapsed() / 1e6;
    const double readMb = bench::peakRssMb() - before;

    renaming::setJournalDirectory(journals.path());
    bench::resetPeakRss();
    const double before2 = bench::currentRssMb();
    clock.restart();
    const QList<renaming::Recovery> recovered = renaming::recoverJournals();
    const double startMs = clock.nsecsElapsed() / 1e6;
    const double startMb = bench::peakRssMb() - before2;
    const int lines = int(renaming::recoveryMessage(recovered).count(QLatin1Char('\n')));
    renaming::setJournalDirectory(QString());
    std::printf("reading the file:      %8.1f ms  %7.1f MB more (%lld bytes)\n", readMs, readMb,
                static_cast<long long>(read));
    std::printf("recovery at the start: %8.1f ms  %7.1f MB more, a message of %d lines\n", startMs, startMb,
                lines);
    std::printf("load average at the end: %s\n", qPrintable(bench::loadAverage()));
    std::printf("RESULT moves=%d start_ms=%.1f read_ms=%.1f ratio=%.2f start_mb=%.1f message_lines=%d\n",
                moves, startMs, readMs, startMs / qMax(readMs, 0.001), startMb, lines);
    return 0;
}

} // namespace

NAMORA_BENCH("journal", "the start with a planted journal of 500,000 moves, against reading it once [MOVES]",
             run);
