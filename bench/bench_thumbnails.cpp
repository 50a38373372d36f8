// Fills a page of 53 large camera pictures in a real window and compares the
// thumbnail pass with a naive one (full-size decode, then scale, one after the
// other on the GUI thread, yielding between pictures).
#include "Bench.h"

#include "TestPictures.h"
#include "app/Controls.h"
#include "app/Form1.h"
#include "app/Ini.h"
#include "app/Settings.h"
#include "app/Widgets.h"
#include "pages/PageModel.h"
#include "pages/PageView.h"
#include "pages/Thumbnails.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QtConcurrent/QtConcurrentMap>
#include <cstdio>
#include <ctime>
#include <functional>

namespace {

constexpr int PageSize = 53;

struct PictureSet {
    const char *label;
    QSize size;
};
const PictureSet Sets[] = {{"12MP", QSize(4000, 3000)}, {"24MP", QSize(5664, 4248)}};

QString setDir(const QString &root, const PictureSet &set)
{
    return QDir(root).filePath(QString::fromLatin1(set.label));
}

// Writes `distinct` different camera pictures per set, in parallel, and fills the
// rest of the page with copies (each copy its own file, decoded on its own).
int generate(const QString &root, int distinct)
{
    struct Job {
        QString path;
        QSize size;
        int seed;
    };
    QList<Job> jobs;
    for (const PictureSet &set : Sets) {
        QDir().mkpath(setDir(root, set));
        for (int i = 0; i < distinct; ++i)
            jobs << Job{QDir(setDir(root, set))
                            .filePath(QStringLiteral("IMG_%1.JPG").arg(i, 4, 10, QLatin1Char('0'))),
                        set.size, i};
    }
    std::atomic_int failures{0};
    QtConcurrent::blockingMap(jobs, [&](const Job &job) {
        testpics::CameraOptions o;
        o.noise = 12; // about 3.7 MB per 12 MP, as a camera writes them
        o.orientation = job.seed % 4 == 3 ? 6 : 1;
        o.dateTimeOriginal = QStringLiteral("2024:05:%1 12:00:00").arg(job.seed + 1, 2, 10, QLatin1Char('0'));
        if (!testpics::writeCameraPhoto(job.path, job.size, job.seed, o))
            ++failures;
    });
    for (const PictureSet &set : Sets) {
        const QDir dir(setDir(root, set));
        for (int i = distinct; i < PageSize; ++i)
            if (!QFile::copy(
                    dir.filePath(QStringLiteral("IMG_%1.JPG").arg(i % distinct, 4, 10, QLatin1Char('0'))),
                    dir.filePath(QStringLiteral("IMG_%1.JPG").arg(i, 4, 10, QLatin1Char('0')))))
                ++failures;
    }
    return failures == 0 ? 0 : 1;
}

double peakRssMb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return -1;
}

// Records the longest time the GUI thread did not get to its event queue.
class Heartbeat {
public:
    Heartbeat()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { beat(); });
    }
    void start()
    {
        m_longest = 0;
        m_longestBusy = 0;
        timespec ts;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        m_lastCpu = qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
        m_clock.start();
        m_last = 0;
        m_timer.start();
    }
    void stop()
    {
        beat();
        m_timer.stop();
    }
    double longestMs() const { return m_longest / 1e6; }
    // The longest time the GUI thread itself spent working between two beats;
    // the rest of a stall is waiting for a processor on a busy machine.
    double longestBusyMs() const { return m_longestBusy / 1e6; }

private:
    void beat()
    {
        const qint64 now = m_clock.nsecsElapsed();
        timespec ts;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        const qint64 cpu = qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
        if (now - m_last > 16000000 && qEnvironmentVariableIsSet("NAMORA_BENCH_DEBUG"))
            std::printf("stall %.1f ms ending at %.1f ms, GUI thread busy %.1f ms of it\n",
                        (now - m_last) / 1e6, now / 1e6, (cpu - m_lastCpu) / 1e6);
        m_longestBusy = qMax(m_longestBusy, cpu - m_lastCpu);
        m_lastCpu = cpu;
        m_longest = qMax(m_longest, now - m_last);
        m_last = now;
    }
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
    qint64 m_lastCpu = 0;
    qint64 m_longestBusy = 0;
};

struct Window {
    QTemporaryDir programDir;
    std::unique_ptr<Form1> form;

    explicit Window(const QString &pictureDir)
    {
        Form1::Options o;
        o.programDir = programDir.path();
        o.iniPath = QDir(programDir.path()).filePath(QStringLiteral("namora.ini"));
        o.commandLine = pictureDir;
        // The page is filled once without thumbnails; each measured run then asks
        // for a display that reloads.
        ini::IniWrite(QStringLiteral("Einstellungen"), QStringLiteral("BilderAnzeigen"), QStringLiteral("0"),
                      o.iniPath, true);
        form = std::make_unique<Form1>(o);
        // Big enough for all 53 slotCount.
        form->resize(1600, 1700);
        form->Form_Load();
    }
    void showThumbnails(bool on) { form->settings().setBilderAnzeigen(on); }
};

struct Measure {
    double firstMs = 0;
    double fullMs = 0;
    double stallMs = 0;
    double busyMs = 0;
    bool ok = false;
};

// Runs the event loop until done() or the time limit.
bool runUntil(const std::function<bool()> &done, int limitMs)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < limitMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    return done();
}

Measure measureOurs(Window &w)
{
    Form1 &form = *w.form;
    auto *thumbs = form.findChild<Thumbnails *>();
    const int slotCount = form.model().lastSlot() + 1;
    QList<bool> seen(slotCount, false);
    int seenCount = 0;
    bool finished = false;
    QElapsedTimer clock;
    Measure m;
    const auto c1 = QObject::connect(thumbs, &Thumbnails::pictureShown, [&](int slot, int) {
        if (slot < slotCount && !seen[slot]) {
            seen[slot] = true;
            if (++seenCount == slotCount)
                m.firstMs = clock.nsecsElapsed() / 1e6;
        }
    });
    const auto c2 = QObject::connect(thumbs, &Thumbnails::passFinished, [&] {
        finished = true;
        m.fullMs = clock.nsecsElapsed() / 1e6;
    });

    w.showThumbnails(true);
    Heartbeat heart;
    heart.start();
    clock.start();
    form.model().showPage(true);
    if (qEnvironmentVariableIsSet("NAMORA_BENCH_DEBUG"))
        std::printf("ShowPage took %.1f ms\n", clock.nsecsElapsed() / 1e6);
    m.ok = runUntil([&] { return finished; }, 120000) && seenCount == slotCount;
    heart.stop();
    m.stallMs = heart.longestMs();
    m.busyMs = heart.longestBusyMs();
    QObject::disconnect(c1);
    QObject::disconnect(c2);
    w.showThumbnails(false);
    return m;
}

// The naive pass: every picture decoded at full size and scaled on the GUI
// thread, one per turn of the event loop.
Measure measureNaive(Window &w)
{
    Form1 &form = *w.form;
    form.model().showPage(true); // thumbnails off: placeholders, no pass
    Controls &c = form.controls();
    const PageModel &s = form.model();
    int next = 0;
    Measure m;
    Heartbeat heart;
    QElapsedTimer clock;
    std::function<void()> step = [&] {
        if (next > s.lastSlot())
            return;
        const int i = next++;
        QImage full(s.filePath(i));
        if (!full.isNull())
            c.Picture1[i]->setPicture(QPixmap::fromImage(full.scaled(
                c.Picture1[i]->devicePixelSize(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
        if (next <= s.lastSlot())
            QTimer::singleShot(0, step);
        else
            m.fullMs = clock.nsecsElapsed() / 1e6;
    };
    heart.start();
    clock.start();
    QTimer::singleShot(0, step);
    m.ok = runUntil([&] { return next > s.lastSlot() && m.fullMs > 0; }, 600000);
    heart.stop();
    m.firstMs = m.fullMs;
    m.stallMs = heart.longestMs();
    m.busyMs = heart.longestBusyMs();
    return m;
}

int run(const QStringList &args)
{
    if (args.size() >= 3 && args[0] == QLatin1String("--generate"))
        return generate(args[1], args[2].toInt());

    int distinct = 8;
    QString keep;
    for (int i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--distinct"))
            distinct = qBound(1, args[i + 1].toInt(), PageSize);
        else if (args[i] == QLatin1String("--dir"))
            keep = args[i + 1];
    }

    QElapsedTimer total;
    total.start();
    QTemporaryDir temp;
    const QString root = keep.isEmpty() ? temp.path() : keep;
    const bool reuse =
        !keep.isEmpty() &&
        QFile::exists(QDir(setDir(root, Sets[1]))
                          .filePath(QStringLiteral("IMG_%1.JPG").arg(PageSize - 1, 4, 10, QLatin1Char('0'))));
    if (!reuse) {
        // Generating in a child process keeps its memory out of the peak measured here.
        QElapsedTimer t;
        t.start();
        const int rc = QProcess::execute(
            QCoreApplication::applicationFilePath(),
            {QStringLiteral("thumbnails"), QStringLiteral("--generate"), root, QString::number(distinct)});
        if (rc != 0) {
            std::fprintf(stderr, "generating the pictures failed\n");
            return 1;
        }
        std::printf("generated %d pictures (%d distinct per size) in %.1f s\n", 2 * PageSize, distinct,
                    t.elapsed() / 1000.0);
    }
    for (const PictureSet &set : Sets) {
        qint64 bytes = 0;
        for (const QFileInfo &fi : QDir(setDir(root, set)).entryInfoList(QDir::Files))
            bytes += fi.size();
        std::printf("%s: %d x %dx%d, %.1f MB per picture\n", set.label, PageSize, set.size.width(),
                    set.size.height(), bytes / double(PageSize) / 1e6);
    }
    QFile loadavg(QStringLiteral("/proc/loadavg"));
    if (loadavg.open(QIODevice::ReadOnly))
        std::printf("load average before the run: %s (figures are only comparable on a quiet machine)\n",
                    loadavg.readAll().trimmed().constData());
    std::fflush(stdout);

    std::vector<std::unique_ptr<Window>> windows;
    Measure ours[2], naive[2];
    for (int k = 0; k < 2; ++k) {
        windows.push_back(std::make_unique<Window>(setDir(root, Sets[k])));
        if (windows[k]->form->model().lastSlot() + 1 != PageSize) {
            std::fprintf(stderr, "the window holds %d slotCount, not %d\n",
                         windows[k]->form->model().lastSlot() + 1, PageSize);
            return 1;
        }
        {
            // A display without thumbnails first: the window's first paints and
            // font set-up are not the thumbnails' doing.
            Heartbeat heart;
            heart.start();
            windows[k]->form->model().showPage(true);
            QElapsedTimer t;
            t.start();
            runUntil([&] { return t.elapsed() > 500; }, 1000);
            heart.stop();
            std::printf(
                "%s page display without thumbnails: longest stall %.1f ms (GUI thread busy %.1f ms)\n",
                Sets[k].label, heart.longestMs(), heart.longestBusyMs());
        }
        ours[k] = measureOurs(*windows[k]);
    }
    const double peakOurs = peakRssMb();
    for (int k = 0; k < 2; ++k)
        naive[k] = measureNaive(*windows[k]);
    const double peakNaive = peakRssMb();

    for (int k = 0; k < 2; ++k) {
        const Measure &o = ours[k];
        const Measure &n = naive[k];
        std::printf("%s ours:  first stage %8.1f ms, second stage %8.1f ms, longest GUI stall %6.1f ms "
                    "(GUI thread busy %.1f ms)%s\n",
                    Sets[k].label, o.firstMs, o.fullMs, o.stallMs, o.busyMs,
                    o.ok ? "" : "  (DID NOT FINISH)");
        std::printf("%s naive: all pictures  %8.1f ms,                        longest GUI stall %6.1f ms "
                    "(GUI thread busy %.1f ms)%s\n",
                    Sets[k].label, n.fullMs, n.stallMs, n.busyMs, n.ok ? "" : "  (DID NOT FINISH)");
        std::printf("%s ratios: first stage %.1fx, second stage %.1fx faster than naive\n", Sets[k].label,
                    n.fullMs / o.firstMs, n.fullMs / o.fullMs);
    }
    std::printf("peak resident memory: %.1f MB after our passes, %.1f MB after the naive ones\n", peakOurs,
                peakNaive);
    std::printf("whole benchmark: %.1f s\n", total.elapsed() / 1000.0);
    for (int k = 0; k < 2; ++k) {
        const Measure &o = ours[k];
        const Measure &n = naive[k];
        std::printf("%s size=%s first_ms=%.1f full_ms=%.1f naive_ms=%.1f first_ratio=%.1f full_ratio=%.2f "
                    "stall_ms=%.1f naive_stall_ms=%.1f peak_rss_mb=%.1f\n",
                    k == 1 ? "RESULT" : "figures", Sets[k].label, o.firstMs, o.fullMs, n.fullMs,
                    n.fullMs / o.firstMs, n.fullMs / o.fullMs, o.stallMs, n.stallMs, peakOurs);
    }
    return ours[0].ok && ours[1].ok && naive[0].ok && naive[1].ok ? 0 : 1;
}

} // namespace

NAMORA_BENCH("thumbnails", "a page of 53 12-MP and 24-MP camera pictures against a naive pass", run);
