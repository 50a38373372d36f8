#include "Bench.h"

#include "core/renaming/RenamePlan.h"
#include "core/renaming/RenameRun.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

// The renaming of a page of 53 pictures and of a plan of 10,000 files shifted by
// one (a chain of 10,000 renames), each timed from planning to the removed
// journal, next to a bare loop of plain rename calls over as many files in the
// same directory, measured in the same run.
namespace {

QString numbered(int i)
{
    return QStringLiteral("IMG_%1.jpg").arg(i, 5, 10, QLatin1Char('0'));
}

// A RAW file and a sidecar beside each picture.
const QStringList CompanionEndings{QStringLiteral(".CR2"), QStringLiteral(".jpg.xmp")};

bool makeFiles(const QString &dir, int count, bool companions = false)
{
    for (int i = 0; i < count; ++i) {
        QStringList names{numbered(i)};
        for (const QString &end : CompanionEndings)
            if (companions)
                names << numbered(i).chopped(4) + end;
        for (const QString &name : names) {
            QFile f(dir + name);
            if (!f.open(QIODevice::WriteOnly) || f.write("x") != 1)
                return false;
        }
    }
    return true;
}

struct Timing {
    double planMs = 0;
    double runMs = 0;
    double totalMs() const { return planMs + runMs; }
};

// Renames count files: to "Urlaub_i" (page) or each to its successor's name.
bool timeEngine(int count, bool shift, Timing *t, bool journal = true, bool companions = false)
{
    QTemporaryDir dir;
    const QString d = dir.path() + QLatin1Char('/');
    if (!makeFiles(d, count, companions))
        return false;
    QList<renaming::NameEdit> edits;
    for (int i = 0; i < count; ++i) {
        const QString typed = shift ? numbered(i + 1).chopped(4) : QStringLiteral("Urlaub_%1").arg(i);
        QStringList with;
        for (const QString &end : CompanionEndings)
            if (companions)
                with << numbered(i).chopped(4) + end;
        edits << renaming::NameEdit{renaming::slotLabel(i, numbered(i)), d + numbered(i), typed,
                                    QStringLiteral(".jpg"), with};
    }
    QElapsedTimer clock;
    clock.start();
    const renaming::Plan plan = renaming::planNameEdits(d, edits);
    t->planMs = double(clock.nsecsElapsed()) / 1e6;
    if (!plan.ok())
        return false;
    clock.restart();
    const renaming::RunResult run = renaming::runPlan(plan, journal);
    t->runMs = double(clock.nsecsElapsed()) / 1e6;
    return run.ok() && QFile::exists(d + numbered(count)) == shift;
}

// The same number of plain rename calls, without checks, order or journal.
double timeBareLoop(int count)
{
    QTemporaryDir dir;
    const QString d = dir.path() + QLatin1Char('/');
    if (!makeFiles(d, count))
        return -1;
    QList<QByteArray> from, to;
    for (int i = 0; i < count; ++i) {
        from << QFile::encodeName(d + numbered(i));
        to << QFile::encodeName(d + QStringLiteral("B_%1.jpg").arg(i));
    }
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < count; ++i)
        if (std::rename(from[i].constData(), to[i].constData()) != 0)
            return -1;
    return double(clock.nsecsElapsed()) / 1e6;
}

int benchRename(const QStringList &args)
{
    const int rounds = args.isEmpty() ? 5 : qMax(1, args.first().toInt());
    QTemporaryDir journals;
    renaming::setJournalDirectory(journals.path());

    // The best of several rounds: the machine is shared, the minimum is the
    // figure least disturbed by others.
    Timing page{1e18, 1e18}, pageWith{1e18, 1e18}, plan{1e18, 1e18}, planNoJournal{1e18, 1e18};
    double bare = 1e18, barePage = 1e18;
    for (int r = 0; r < rounds; ++r) {
        Timing t;
        if (!timeEngine(53, false, &t)) {
            std::fprintf(stderr, "page renaming failed\n");
            return 1;
        }
        if (t.totalMs() < page.totalMs())
            page = t;
        if (!timeEngine(53, false, &t, true, true)) {
            std::fprintf(stderr, "page renaming with companions failed\n");
            return 1;
        }
        if (t.totalMs() < pageWith.totalMs())
            pageWith = t;
        if (!timeEngine(10000, true, &t)) {
            std::fprintf(stderr, "plan of 10,000 failed\n");
            return 1;
        }
        if (t.totalMs() < plan.totalMs())
            plan = t;
        if (!timeEngine(10000, true, &t, false))
            return 1;
        if (t.totalMs() < planNoJournal.totalMs())
            planNoJournal = t;
        const double b = timeBareLoop(10000);
        const double bp = timeBareLoop(53);
        if (b < 0 || bp < 0) {
            std::fprintf(stderr, "bare rename loop failed\n");
            return 1;
        }
        bare = std::min(bare, b);
        barePage = std::min(barePage, bp);
    }

    const double pageUs = page.totalMs() * 1000 / 53;
    const double planUs = plan.totalMs() * 1000 / 10000;
    const double bareUs = bare * 1000 / 10000;
    const double barePageUs = barePage * 1000 / 53;
    std::printf("rounds: %d (best of each)\n", rounds);
    std::printf("page of 53:        %8.2f ms (plan %.2f, run with journal %.2f) = %7.2f us per rename\n",
                page.totalMs(), page.planMs, page.runMs, pageUs);
    std::printf("  bare loop of 53: %8.2f ms = %7.2f us per rename -> engine x%.1f\n", barePage, barePageUs,
                pageUs / barePageUs);
    const double pageWithUs = pageWith.totalMs() * 1000 / (53 * (1 + CompanionEndings.size()));
    std::printf("page of 53 with a RAW file and a sidecar each: %8.2f ms = %7.2f us per file renamed\n",
                pageWith.totalMs(), pageWithUs);
    std::printf("shift of 10,000:   %8.2f ms (plan %.2f, run with journal %.2f) = %7.2f us per rename\n",
                plan.totalMs(), plan.planMs, plan.runMs, planUs);
    std::printf("  without journal: %8.2f ms (run %.2f)\n", planNoJournal.totalMs(), planNoJournal.runMs);
    std::printf("  bare loop 10,000:%8.2f ms = %7.2f us per rename -> engine x%.1f\n", bare, bareUs,
                planUs / bareUs);
    std::printf("RESULT page53_us_per_rename=%.2f page53_bare_us=%.2f page53_ratio=%.1f "
                "page53_companions_us_per_file=%.2f shift10k_us_per_rename=%.2f shift10k_bare_us=%.2f "
                "shift10k_ratio=%.1f\n",
                pageUs, barePageUs, pageUs / barePageUs, pageWithUs, planUs, bareUs, planUs / bareUs);
    renaming::setJournalDirectory(QString());
    return 0;
}

} // namespace

NAMORA_BENCH("rename", "page of 53 and a shift of 10,000 files, against a bare rename loop", benchRename);
