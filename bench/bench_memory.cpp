// Peak resident memory of the window over a directory of 5,000 pictures (the
// first page 53 real 24-MP ones, the rest small): through start-up, the first
// page's full thumbnail pass and paging far enough to fill the thumbnail cache
// and back. Each phase's peak is read on its own (the kernel's high-water mark
// is set back before it), next to the process's size before the window was
// built, measured in the same run.
#include "Bench.h"
#include "Harness.h"
#include "Measure.h"
#include "Pictures.h"

#include "core/pages/PageModel.h"
#include "ui/pages/Thumbnails.h"
#include "ui/window/Controls.h"

#include <QPushButton>
#include <cstdio>

namespace {

using bench::Window;

constexpr int PagesForward = 25;

int run(const QStringList &args)
{
    QElapsedTimer total;
    total.start();
    const benchpics::Place pictures = benchpics::prepare(args, benchpics::Set::Many5000);
    if (!pictures.ok()) {
        std::fprintf(stderr, "%s\n", qPrintable(pictures.problem));
        return 1;
    }
    const QString dir = pictures.dir;
    benchpics::warmPageCache(dir);
    std::printf("5,000 pictures (53 of 24 MP, then 320x240) in %s\n", qPrintable(dir));
    std::printf("load average at the start: %s\n", qPrintable(bench::loadAverage()));
    std::fflush(stdout);

    if (!bench::resetPeakRss()) {
        std::fprintf(stderr, "the kernel cannot set back the peak resident size (/proc/self/clear_refs)\n");
        return 1;
    }
    const double baseline = bench::currentRssMb();

    // Start-up, up to the first paint; the pass it started runs on.
    bench::resetPeakRss();
    Window w(dir, true);
    w.load();
    bench::settle();
    const double startup = bench::peakRssMb();
    bool ok = w.model().fileCount() == 5000 && w.slotCount() == benchpics::PageSize;

    // The rest of the first page's pass: 53 pictures of 24 MP.
    bench::resetPeakRss();
    ok = w.waitForPass() && ok;
    bench::settle();
    const double pass = bench::peakRssMb();

    // Paging on until the thumbnail cache is full, and back.
    bench::resetPeakRss();
    Thumbnails &t = w.thumbnails();
    for (int k = 0; k < PagesForward; ++k) {
        bench::click(w.controls().NextBtn);
        ok = w.waitForIdle() && ok;
    }
    const int farthest = w.model().pageIndex();
    const qint64 cacheBytes = t.cache().bytesUsed();
    const int cached = t.cache().count();
    for (int k = 0; k < PagesForward; ++k) {
        bench::click(w.controls().ZurueckBtn);
        ok = w.waitForIdle() && ok;
    }
    bench::settle();
    const double paging = bench::peakRssMb();
    ok = ok && farthest == PagesForward && w.model().pageIndex() == 0;

    const double peak = qMax(startup, qMax(pass, paging));
    std::printf("resident memory before the window:     %7.1f MB\n", baseline);
    std::printf("peak through start-up (first paint):   %7.1f MB (%.2fx the process before the window)\n",
                startup, startup / baseline);
    std::printf("peak through the first page's pass:    %7.1f MB (%.2fx)\n", pass, pass / baseline);
    std::printf("peak paging %d pages on and back:      %7.1f MB (%.2fx); the thumbnail cache held %d "
                "thumbnails, %.1f MB of its %.0f MB\n",
                PagesForward, paging, paging / baseline, cached, cacheBytes / 1048576.0,
                t.cache().maxBytes() / 1048576.0);
    std::printf("load average at the end: %s\n", qPrintable(bench::loadAverage()));
    std::printf("whole benchmark: %.1f s%s\n", total.elapsed() / 1000.0, ok ? "" : "  (DID NOT FINISH)");
    std::printf("RESULT peak_rss_mb=%.1f baseline_rss_mb=%.1f startup_rss_mb=%.1f pass_rss_mb=%.1f "
                "paging_rss_mb=%.1f\n",
                peak, baseline, startup, pass, paging);
    return ok ? 0 : 1;
}

} // namespace

NAMORA_BENCH("memory", "peak resident memory over 5,000 pictures: start-up, a full pass, paging", run);
