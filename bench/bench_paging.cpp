// Paging forward through three pages of 24-MP pictures: the time from the
// click on NextBtn to the last slot of the new page painted with its decoded
// picture, once with nothing of the new page made beforehand (prefetch off, the
// thumbnail cache cleared) and once as the program leaves things when the user
// pauses on a page (prefetch on, the pool idle after the page's pass). A slot
// that shows a cached picture counts with the first frame's paint.
#include "Bench.h"
#include "Harness.h"
#include "Measure.h"
#include "Pictures.h"

#include "core/pages/PageModel.h"
#include "ui/pages/Thumbnails.h"
#include "ui/window/Controls.h"
#include "ui/window/Widgets.h"

#include <QEvent>
#include <QHash>
#include <QPushButton>
#include <cstdio>
#include <functional>

namespace {

using bench::Window;

struct Sample {
    double lastMs = 0;  // the last slot shows its decoded picture
    double firstMs = 0; // the first slot does
    int atOnce = 0;     // slots that had it before the click returned
    bool ok = false;
};

// Shows page 0 with its thumbnails, prefetch as given, and waits until the
// pool is idle after the page's pass (the user pauses on the page). cold
// empties the cache first and after the pass, so nothing of page 1 is known.
bool preparePageZero(Window &w, bool prefetch)
{
    Thumbnails &t = w.thumbnails();
    t.setPrefetchEnabled(prefetch);
    t.cache().clear();
    w.model().setPageIndex(0);
    int idleSignals = 0;
    const auto c = QObject::connect(&t, &Thumbnails::idle, [&] { ++idleSignals; });
    w.model().showPage(true);
    const bool ok = bench::waitFor(
        &t, &Thumbnails::idle, [&] { return idleSignals > 0 && t.isIdle(); }, 120000);
    QObject::disconnect(c);
    if (!prefetch)
        t.cache().clear();
    bench::settle();
    return ok && w.model().pageIndex() == 0;
}

// Tells when each slot's picture box is painted after it got its decoded
// picture: the clock stops at the paint, not at the hand-over.
class PaintWatch : public QObject {
public:
    std::function<void(int)> painted;
    explicit PaintWatch(Controls &c)
    {
        for (int i = 0; i < grid::SlotCount; ++i) {
            c.Picture1[size_t(i)]->installEventFilter(this);
            m_slots.insert(c.Picture1[size_t(i)], i);
        }
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && painted)
            painted(m_slots.value(watched, -1));
        return false;
    }

private:
    QHash<QObject *, int> m_slots;
};

Sample pageForward(Window &w)
{
    Thumbnails &t = w.thumbnails();
    Sample s;
    QList<bool> decoded(w.slotCount(), false);
    QList<bool> painted(w.slotCount(), false);
    int count = 0;
    int paintedCount = 0;
    int expected = -1; // known once the click has shown the new page
    bench::Flag done;
    QElapsedTimer clock;
    const auto c = QObject::connect(&t, &Thumbnails::pictureShown, [&](int slot, int stage) {
        if (stage != Thumbnails::Decoded || slot < 0 || slot >= decoded.size() || decoded[slot])
            return;
        decoded[slot] = true;
        if (count++ == 0)
            s.firstMs = clock.nsecsElapsed() / 1e6;
    });
    PaintWatch watch(w.controls());
    watch.painted = [&](int slot) {
        if (slot < 0 || slot >= decoded.size() || !decoded[slot] || painted[slot])
            return;
        painted[slot] = true;
        if (++paintedCount == expected) {
            s.lastMs = clock.nsecsElapsed() / 1e6;
            done.raise();
        }
    };
    clock.start();
    bench::click(w.controls().NextBtn);
    s.atOnce = count;
    expected = w.filledSlots();
    s.ok = bench::waitFor(
               &done, &bench::Flag::raised, [&] { return done.isRaised(); }, 120000) &&
           w.model().pageIndex() == 1;
    QObject::disconnect(c);
    w.waitForIdle();
    return s;
}

void print(const char *label, const QList<Sample> &samples)
{
    QList<double> last, first;
    int atOnce = 0;
    bool ok = true;
    for (const Sample &s : samples) {
        last << s.lastMs;
        first << s.firstMs;
        atOnce = qMax(atOnce, s.atOnce);
        ok = ok && s.ok;
    }
    std::printf("%-11s last slot painted %8.1f ms (%.1f-%.1f), first slot %7.1f ms, at once %d of 53%s\n",
                label, bench::median(last), *std::min_element(last.begin(), last.end()),
                *std::max_element(last.begin(), last.end()), bench::median(first), atOnce,
                ok ? "" : "  (DID NOT FINISH)");
}

double medianLast(const QList<Sample> &samples)
{
    QList<double> v;
    for (const Sample &s : samples)
        v << s.lastMs;
    return bench::median(v);
}

int run(const QStringList &args)
{
    int runs = 3;
    for (int i = 0; i + 1 < args.size(); ++i)
        if (args[i] == QLatin1String("--runs"))
            runs = qBound(1, args[i + 1].toInt(), 50);
    QElapsedTimer total;
    total.start();
    const benchpics::Place pictures = benchpics::prepare(args, benchpics::Set::Pages24MP);
    if (!pictures.ok()) {
        std::fprintf(stderr, "%s\n", qPrintable(pictures.problem));
        return 1;
    }
    const QString dir = pictures.dir;
    benchpics::warmPageCache(dir);
    std::printf("3 pages of 53 pictures of 24 MP in %s\n", qPrintable(dir));
    std::printf("load average at the start: %s (figures are only comparable on a quiet machine)\n",
                qPrintable(bench::loadAverage()));
    std::fflush(stdout);

    Window w(dir, true);
    w.load();
    if (w.slotCount() != benchpics::PageSize || w.model().fileCount() != 3 * benchpics::PageSize ||
        !w.activate()) {
        std::fprintf(stderr, "the window holds %d slots and %d pictures, not 53 and 159\n", w.slotCount(),
                     w.model().fileCount());
        return 1;
    }
    w.waitForIdle();

    // Alternating, so that a change of the machine's load falls on both alike.
    QList<Sample> cold, prefetched;
    bool ok = true;
    for (int k = 0; k < runs; ++k) {
        ok = preparePageZero(w, false) && ok;
        cold << pageForward(w);
        ok = preparePageZero(w, true) && ok;
        prefetched << pageForward(w);
    }
    std::printf("from the click on NextBtn, median of %d runs (min-max):\n", runs);
    print("cold:", cold);
    print("prefetched:", prefetched);
    std::printf("ratio cold / prefetched: %.2f\n", medianLast(cold) / medianLast(prefetched));
    std::printf("load average at the end: %s\n", qPrintable(bench::loadAverage()));
    std::printf("whole benchmark: %.1f s\n", total.elapsed() / 1000.0);
    std::printf("RESULT prefetched_ms=%.1f cold_ms=%.1f\n", medianLast(prefetched), medianLast(cold));
    for (const QList<Sample> *list : {&cold, &prefetched})
        for (const Sample &s : *list)
            ok = ok && s.ok;
    return ok ? 0 : 1;
}

} // namespace

NAMORA_BENCH("paging", "from the click on NextBtn to the last decoded slot painted, cold and prefetched",
             run);
