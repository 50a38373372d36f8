// Fills a page of 53 large camera pictures in a real window and sets the
// thumbnail pass beside what bounds it, all measured in the same run: the
// decoder alone on the pool's threads (the floor for the second stage), the
// naive pass (full-size decode, then scale, one picture after the other on the
// GUI thread, yielding between pictures) and, where it is installed,
// vipsthumbnail on as many processes as the pool has threads.
//
// Every wait sleeps in the event loop until the signal it waits for, so the
// benchmark takes no processor from the decoders; the GUI thread's stalls are
// read from its own CPU clock, stretch by stretch (bench::StallMeter). With
// several runs each figure is the median of the runs (stall_ms: of each run's
// longest stretch), printed with its spread.
#include "Bench.h"
#include "Harness.h"
#include "Measure.h"
#include "Pictures.h"

#include "core/pages/PageModel.h"
#include "core/pictures/ThumbnailDecoder.h"
#include "core/platform/FileNames.h"
#include "core/settings/Settings.h"
#include "ui/pages/Thumbnails.h"
#include "ui/window/Controls.h"
#include "ui/window/Widgets.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>
#include <atomic>
#include <cstdio>
#include <functional>

namespace {

using bench::Window;

struct Run {
    double firstMs = 0; // every slot shows something
    double fullMs = 0;  // every slot shows its final picture
    double guiCpuMs = 0;
    double otherCpuMs = 0;
    double stallMs = 0; // longest busy stretch of the GUI thread
    double displayStallMs = 0;
    double laterStallMs = 0;
    double wallStallMs = 0;
    double heldStallMs = 0;
    double peakRssMb = 0;
    int done = 0; // pictures decoded (decoder, peer) or slots finished (window)
    bool ok = false;
};

// The median of one figure over several runs, with its spread.
struct Figure {
    double median = 0, min = 0, max = 0;
};
Figure figure(const QList<Run> &runs, double Run::*field)
{
    Figure f;
    QList<double> v;
    for (const Run &r : runs)
        v << r.*field;
    if (v.isEmpty())
        return f;
    f.median = bench::median(v);
    f.min = *std::min_element(v.begin(), v.end());
    f.max = *std::max_element(v.begin(), v.end());
    return f;
}
QString spread(const Figure &f)
{
    return QStringLiteral("%1 ms (%2-%3)")
        .arg(f.median, 0, 'f', 1)
        .arg(f.min, 0, 'f', 1)
        .arg(f.max, 0, 'f', 1);
}
bool allOk(const QList<Run> &runs)
{
    for (const Run &r : runs)
        if (!r.ok)
            return false;
    return !runs.isEmpty();
}

// decodeFile over the page's files on a pool of as many threads as the
// window's loader has, one job per picture: what the second stage costs without
// the window.
Run measureDecoder(const QStringList &paths, QSize box)
{
    QThreadPool pool;
    pool.setMaxThreadCount(qMax(1, QThread::idealThreadCount()));
    std::atomic_int decoded{0};
    Run r;
    bench::resetPeakRss();
    bench::CpuSplit cpu;
    cpu.start();
    for (const QString &path : paths)
        pool.start([path, box, &decoded] {
            if (thumbs::decodeFile(path, box).ok())
                ++decoded;
        });
    pool.waitForDone();
    cpu.stop();
    r.fullMs = r.firstMs = cpu.wallMs();
    r.guiCpuMs = cpu.guiCpuMs();
    r.otherCpuMs = cpu.otherCpuMs();
    r.peakRssMb = bench::peakRssMb();
    r.done = decoded;
    r.ok = decoded == paths.size();
    return r;
}

// Our pass: a display that reloads the page, with thumbnails on and nothing
// cached, until every slot has its final picture.
Run measureOurs(Window &w)
{
    Thumbnails &thumbs = w.thumbnails();
    const int slotTotal = w.slotCount();
    thumbs.cache().clear();
    w.form().settings().setBilderAnzeigen(true);

    QList<bool> seen(slotTotal, false);
    int seenCount = 0;
    bool finished = false;
    QElapsedTimer clock;
    Run r;
    const auto c1 = QObject::connect(&thumbs, &Thumbnails::pictureShown, [&](int slot, int) {
        if (slot < slotTotal && !seen[slot]) {
            seen[slot] = true;
            if (++seenCount == slotTotal)
                r.firstMs = clock.nsecsElapsed() / 1e6;
        }
    });
    const auto c2 = QObject::connect(&thumbs, &Thumbnails::passFinished, [&] {
        finished = true;
        r.fullMs = clock.nsecsElapsed() / 1e6;
    });

    bench::StallMeter meter;
    bench::CpuSplit cpu;
    bench::resetPeakRss();
    meter.start();
    cpu.start();
    clock.start();
    w.model().showPage(true);
    r.ok = bench::waitFor(
               &thumbs, &Thumbnails::passFinished, [&] { return finished; }, 120000) &&
           seenCount == slotTotal;
    cpu.stop();
    meter.stop();
    QObject::disconnect(c1);
    QObject::disconnect(c2);
    w.form().settings().setBilderAnzeigen(false);

    r.guiCpuMs = cpu.guiCpuMs();
    r.otherCpuMs = cpu.otherCpuMs();
    r.stallMs = meter.longestBusyMs();
    r.displayStallMs = meter.firstBusyMs();
    r.laterStallMs = meter.longestLaterBusyMs();
    r.wallStallMs = meter.longestWallMs();
    r.heldStallMs = meter.longestHeldMs();
    r.peakRssMb = bench::peakRssMb();
    r.done = seenCount;
    return r;
}

// The naive pass: the same display without thumbnails, then every picture
// decoded at full size and scaled on the GUI thread, one per turn of the event
// loop.
Run measureNaive(Window &w)
{
    Controls &c = w.controls();
    const PageModel &model = w.model();
    bench::Flag done;
    int next = 0;
    Run r;
    QElapsedTimer clock;
    std::function<void()> step = [&] {
        const int i = next++;
        QImage full(model.filePath(i));
        if (!full.isNull()) {
            c.Picture1[i]->setPicture(QPixmap::fromImage(full.scaled(
                c.Picture1[i]->devicePixelSize(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
            ++r.done;
        }
        if (next <= model.lastSlot()) {
            QTimer::singleShot(0, step);
        } else {
            r.fullMs = r.firstMs = clock.nsecsElapsed() / 1e6;
            done.raise();
        }
    };
    w.form().settings().setBilderAnzeigen(false);
    bench::StallMeter meter;
    bench::CpuSplit cpu;
    bench::resetPeakRss();
    meter.start();
    cpu.start();
    clock.start();
    w.model().showPage(true); // thumbnails off: placeholders, no pass
    QTimer::singleShot(0, step);
    r.ok = bench::waitFor(
               &done, &bench::Flag::raised, [&] { return done.isRaised(); }, 600000) &&
           r.done == model.lastSlot() + 1;
    cpu.stop();
    meter.stop();
    r.guiCpuMs = cpu.guiCpuMs();
    r.otherCpuMs = cpu.otherCpuMs();
    r.stallMs = meter.longestBusyMs();
    r.displayStallMs = meter.firstBusyMs();
    r.laterStallMs = meter.longestLaterBusyMs();
    r.wallStallMs = meter.longestWallMs();
    r.heldStallMs = meter.longestHeldMs();
    r.peakRssMb = bench::peakRssMb();
    return r;
}

// vipsthumbnail over the same files, stretched to the same box, on as many
// processes (of one thread each) as the pool has threads. Not run when it is not
// installed.
Run measurePeer(const QString &program, const QStringList &paths, QSize box)
{
    Run r;
    QTemporaryDir out;
    const int processes = qMax(1, QThread::idealThreadCount());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VIPS_CONCURRENCY"), QStringLiteral("1"));
    std::vector<std::unique_ptr<QProcess>> children;
    QElapsedTimer clock;
    clock.start();
    for (int p = 0; p < processes; ++p) {
        QStringList args{QStringLiteral("--size"),
                         QStringLiteral("%1x%2!").arg(box.width()).arg(box.height()), QStringLiteral("-o"),
                         platform::joinPath(out.path(), QStringLiteral("%s.jpg"))};
        for (int i = p; i < paths.size(); i += processes)
            args << paths[i];
        auto child = std::make_unique<QProcess>();
        child->setProcessEnvironment(env);
        child->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child->start(program, args);
        children.push_back(std::move(child));
    }
    r.ok = true;
    for (auto &child : children)
        r.ok = child->waitForFinished(600000) && child->exitStatus() == QProcess::NormalExit &&
               child->exitCode() == 0 && r.ok;
    r.fullMs = r.firstMs = clock.nsecsElapsed() / 1e6;
    r.done = int(QDir(out.path()).entryList(QDir::Files).size());
    r.ok = r.ok && r.done == paths.size();
    return r;
}

struct SetResult {
    QString label;
    double displayStallMs = 0, displayWallMs = 0;
    QList<Run> decoder, ours, naive, peer;
};

SetResult measureSet(const QString &label, const QString &dir, int runs, int naiveRuns, const QString &peer)
{
    SetResult s;
    s.label = label;
    Window w(dir, false);
    w.load();
    if (w.slotCount() != benchpics::PageSize || w.filledSlots() != benchpics::PageSize) {
        std::fprintf(stderr, "the window holds %d pictures in %d slots, not %d\n", w.filledSlots(),
                     w.slotCount(), benchpics::PageSize);
        return s;
    }
    {
        // A display without thumbnails first: the window's first paints and
        // font set-up are not the thumbnails' doing.
        bench::StallMeter meter;
        meter.start();
        w.model().showPage(true);
        bench::settle();
        meter.stop();
        s.displayStallMs = meter.longestBusyMs();
        s.displayWallMs = meter.longestWallMs();
    }
    const QSize box = w.controls().Picture1[0]->devicePixelSize();
    QStringList paths;
    for (int i = 0; i < benchpics::PageSize; ++i)
        paths << w.model().filePath(i);

    // Alternating, so that a change of the machine's load falls on both alike.
    for (int k = 0; k < runs; ++k) {
        s.decoder << measureDecoder(paths, box);
        s.ours << measureOurs(w);
        if (!peer.isEmpty())
            s.peer << measurePeer(peer, paths, box);
    }
    for (int k = 0; k < naiveRuns; ++k)
        s.naive << measureNaive(w);
    return s;
}

void print(const SetResult &s)
{
    const QByteArray bytes = s.label.toUtf8();
    const char *label = bytes.constData();
    std::printf("%s page display without thumbnails: GUI thread's longest busy stretch %.1f ms "
                "(wall clock %.1f ms)\n",
                label, s.displayStallMs, s.displayWallMs);
    std::printf("%s, median of %d runs (min-max):\n", label, int(s.ours.size()));
    std::printf("  decoder alone, %d threads:  %s; CPU of the pool %.0f ms%s\n", QThread::idealThreadCount(),
                qPrintable(spread(figure(s.decoder, &Run::fullMs))),
                figure(s.decoder, &Run::otherCpuMs).median,
                allOk(s.decoder) ? "" : "  (SOME PICTURES FAILED)");
    std::printf("  ours, first stage:         %s\n", qPrintable(spread(figure(s.ours, &Run::firstMs))));
    std::printf("  ours, full pass:           %s; CPU: GUI thread %.0f ms, other threads %.0f ms%s\n",
                qPrintable(spread(figure(s.ours, &Run::fullMs))), figure(s.ours, &Run::guiCpuMs).median,
                figure(s.ours, &Run::otherCpuMs).median, allOk(s.ours) ? "" : "  (DID NOT FINISH)");
    std::printf("  ours, GUI thread:          longest busy stretch %s (the display's own %.1f ms, "
                "the longest after it %.1f ms); held %.1f ms, wall clock %.1f ms\n",
                qPrintable(spread(figure(s.ours, &Run::stallMs))),
                figure(s.ours, &Run::displayStallMs).median, figure(s.ours, &Run::laterStallMs).median,
                figure(s.ours, &Run::heldStallMs).median, figure(s.ours, &Run::wallStallMs).median);
    std::printf("  naive, %d run(s):           %s; longest busy stretch %.1f ms, held %.1f ms, wall clock "
                "%.1f ms%s\n",
                int(s.naive.size()), qPrintable(spread(figure(s.naive, &Run::fullMs))),
                figure(s.naive, &Run::stallMs).max, figure(s.naive, &Run::heldStallMs).max,
                figure(s.naive, &Run::wallStallMs).max, allOk(s.naive) ? "" : "  (DID NOT FINISH)");
    if (!s.peer.isEmpty())
        std::printf("  vipsthumbnail, %d processes: %s%s\n", QThread::idealThreadCount(),
                    qPrintable(spread(figure(s.peer, &Run::fullMs))), allOk(s.peer) ? "" : "  (FAILED)");
    const double decode = figure(s.decoder, &Run::fullMs).median;
    const double full = figure(s.ours, &Run::fullMs).median;
    const double first = figure(s.ours, &Run::firstMs).median;
    const double naive = figure(s.naive, &Run::fullMs).median;
    std::printf("  ratios: full pass / decoder alone %.2f; naive / full pass %.2f; naive / first stage %.1f",
                full / decode, naive / full, naive / first);
    if (!s.peer.isEmpty())
        std::printf("; full pass / vipsthumbnail %.2f", full / figure(s.peer, &Run::fullMs).median);
    std::printf("\n");
}

void printResult(const char *tag, const SetResult &s)
{
    const double decode = figure(s.decoder, &Run::fullMs).median;
    const double full = figure(s.ours, &Run::fullMs).median;
    const double first = figure(s.ours, &Run::firstMs).median;
    const double naive = figure(s.naive, &Run::fullMs).median;
    const QString peer = s.peer.isEmpty() ? QStringLiteral("none")
                                          : QString::number(figure(s.peer, &Run::fullMs).median, 'f', 1);
    std::printf("%s size=%s first_ms=%.1f full_ms=%.1f naive_ms=%.1f first_ratio=%.1f full_ratio=%.2f "
                "stall_ms=%.1f naive_stall_ms=%.1f peak_rss_mb=%.1f decode_ms=%.1f pass_over_decode=%.2f "
                "peer_ms=%s gui_cpu_ms=%.1f worker_cpu_ms=%.1f stall_wall_ms=%.1f\n",
                tag, qPrintable(s.label), first, full, naive, naive / first, naive / full,
                figure(s.ours, &Run::stallMs).median, figure(s.naive, &Run::stallMs).median,
                figure(s.ours, &Run::peakRssMb).max, decode, full / decode, qPrintable(peer),
                figure(s.ours, &Run::guiCpuMs).median, figure(s.ours, &Run::otherCpuMs).median,
                figure(s.ours, &Run::wallStallMs).median);
}

int run(const QStringList &args)
{
    int runs = 3;
    int naiveRuns = 1;
    for (int i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--runs"))
            runs = qBound(1, args[i + 1].toInt(), 50);
        else if (args[i] == QLatin1String("--naive-runs"))
            naiveRuns = qBound(1, args[i + 1].toInt(), 50);
    }
    QElapsedTimer total;
    total.start();
    const benchpics::Place places[2] = {benchpics::prepare(args, benchpics::Set::Page12MP),
                                        benchpics::prepare(args, benchpics::Set::Page24MP)};
    const QString dirs[2] = {places[0].dir, places[1].dir};
    const QString labels[2] = {QStringLiteral("12MP"), QStringLiteral("24MP")};
    const QSize sizes[2] = {benchpics::Size12MP, benchpics::Size24MP};
    for (int k = 0; k < 2; ++k) {
        if (!places[k].ok()) {
            std::fprintf(stderr, "%s\n", qPrintable(places[k].problem));
            return 1;
        }
        qint64 bytes = 0;
        for (const QString &name : benchpics::pictureNames(dirs[k]))
            bytes += QFileInfo(platform::joinPath(dirs[k], name)).size();
        std::printf("%s: %d x %dx%d, %.1f MB per picture, in %s\n", qPrintable(labels[k]),
                    benchpics::PageSize, sizes[k].width(), sizes[k].height(),
                    bytes / double(benchpics::PageSize) / 1e6, qPrintable(dirs[k]));
        benchpics::warmPageCache(dirs[k]);
    }
    const QString peer = QStandardPaths::findExecutable(QStringLiteral("vipsthumbnail"));
    if (peer.isEmpty())
        std::printf("vipsthumbnail is not installed (Debian: libvips-tools): no peer figure\n");
    std::printf("load average at the start: %s (figures are only comparable on a quiet machine)\n",
                qPrintable(bench::loadAverage()));
    std::fflush(stdout);

    SetResult results[2];
    for (int k = 0; k < 2; ++k) {
        results[k] = measureSet(labels[k], dirs[k], runs, naiveRuns, peer);
        if (results[k].ours.isEmpty())
            return 1;
        print(results[k]);
        std::fflush(stdout);
    }
    std::printf("peak resident memory during a run: ours %.1f MB, the naive pass %.1f MB, the decoder alone "
                "%.1f MB\n",
                figure(results[1].ours, &Run::peakRssMb).max, figure(results[1].naive, &Run::peakRssMb).max,
                figure(results[1].decoder, &Run::peakRssMb).max);
    std::printf("load average at the end: %s\n", qPrintable(bench::loadAverage()));
    std::printf("whole benchmark: %.1f s\n", total.elapsed() / 1000.0);
    printResult("figures", results[0]);
    printResult("RESULT", results[1]);
    bool ok = true;
    for (const SetResult &s : results)
        ok = ok && allOk(s.ours) && allOk(s.naive) && allOk(s.decoder) && (s.peer.isEmpty() || allOk(s.peer));
    return ok ? 0 : 1;
}

} // namespace

NAMORA_BENCH(
    "thumbnails",
    "a page of 53 12-MP and 24-MP camera pictures: the pass in the window, the decoder alone, a naive "
    "pass and vipsthumbnail",
    run);
