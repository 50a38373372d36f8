// The GUI thread's longest busy stretch for each thing a user does in a real
// window of 53 slots over three pages of 24-MP pictures: start-up, a thumbnail
// pass, paging, a relayout, a save of 53 names and each bulk tool. A stretch is
// what the thread does between two waits of its event loop, timed by the
// thread's own CPU clock (bench::StallMeter): the longest one is how long the
// window could not answer the user, whatever else the machine was doing.
//
// Each action runs several times on a window that is idle before it starts
// (no decoding under way); the worst and the median stretch are reported. Each
// start-up runs in a process of its own, as the user starts the program.
#include "Bench.h"
#include "Harness.h"
#include "Measure.h"
#include "Pictures.h"
#include "ui/window/Launcher.h"

#include "core/pages/PageModel.h"
#include "core/platform/FileNames.h"
#include "ui/pages/Thumbnails.h"
#include "ui/window/Controls.h"
#include "ui/window/Widgets.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <unistd.h>

namespace {

using bench::Window;

constexpr int Pages = 3;

struct Sample {
    double busyMs = 0;  // the longest busy stretch
    double wallMs = 0;  // the longest stretch by the wall clock
    double totalMs = 0; // the GUI thread's CPU time for the whole action
    double heldMs = 0;  // the longest stretch counting waits for the disk or a lock
};

struct Action {
    const char *key;   // as in the RESULT line
    const char *label; // as printed
    QList<Sample> samples;
    bool failed = false;
    QString why;

    double worst() const
    {
        double w = 0;
        for (const Sample &s : samples)
            w = qMax(w, s.busyMs);
        return w;
    }
    double median() const
    {
        QList<double> v;
        for (const Sample &s : samples)
            v << s.busyMs;
        return bench::median(v);
    }
    double medianTotal() const
    {
        QList<double> v;
        for (const Sample &s : samples)
            v << s.totalMs;
        return bench::median(v);
    }
    double worstHeld() const
    {
        double w = -1;
        for (const Sample &s : samples)
            w = qMax(w, s.heldMs);
        return w;
    }
    double worstWall() const
    {
        double w = 0;
        for (const Sample &s : samples)
            w = qMax(w, s.wallMs);
        return w;
    }
};

Sample sampleOf(const bench::StallMeter &meter)
{
    return Sample{meter.longestBusyMs(), meter.longestWallMs(), meter.totalBusyMs(), meter.longestHeldMs()};
}

// Raises a flag when a widget is painted.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(QWidget *w) { w->installEventFilter(this); }
    bench::Flag painted;

protected:
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::Paint && !painted.isRaised())
            painted.raise();
        return false;
    }
};

// The pictures of three pages as links to the kept set: the save renames them,
// and the kept files must keep their names.
bool linkPictures(const QString &from, const QString &to)
{
    for (const QString &name : benchpics::pictureNames(from)) {
        const QByteArray a = platform::encodeName(platform::joinPath(from, name));
        const QByteArray b = platform::encodeName(platform::joinPath(to, name));
        if (::link(a.constData(), b.constData()) != 0) {
            std::fprintf(stderr, "cannot link %s: %s\n", b.constData(), std::strerror(errno));
            return false;
        }
    }
    return true;
}

class Stalls {
public:
    Stalls(const QString &dir, int runs, int decodeRuns) : m_dir(dir), m_runs(runs), m_decodeRuns(decodeRuns)
    {
    }

    std::deque<Action> run(const QStringList &only)
    {
        m_only = only;
        startup();
        m_window = std::make_unique<Window>(m_dir, true);
        m_window->load();
        if (!check(m_window->slotCount() == benchpics::PageSize, "the window does not hold 53 slots") ||
            !check(m_window->activate(), "the window did not become active"))
            return m_actions;
        m_window->waitForIdle();
        pass();
        paging();
        relayout();
        tools();
        // Last: the save renames the page's pictures.
        save();
        m_window.reset();
        return m_actions;
    }
    // Something outside the actions went wrong (the window's set-up).
    bool failed() const { return m_failed; }
    // The CPU time each start-up process spent before its window was built
    // (loading the program and its libraries, Qt's set-up).
    QList<double> beforeWindow() const { return m_beforeWindow; }

private:
    bool wanted(const char *key) const { return m_only.isEmpty() || m_only.contains(QLatin1String(key)); }

    Action &action(const char *key, const char *label)
    {
        for (Action &a : m_actions)
            if (qstrcmp(a.key, key) == 0)
                return a;
        // A deque: the references handed out stay valid as actions are added.
        m_actions.push_back(Action{key, label, {}, false, {}});
        return m_actions.back();
    }

    bool check(bool ok, const char *why)
    {
        if (!ok) {
            std::fprintf(stderr, "%s\n", why);
            m_failed = true;
        }
        return ok;
    }

    // Brings the window back to its state before an action: the page shown
    // with its own names and every thumbnail in, nothing under way.
    void resetPage(bool clearCache)
    {
        Window &w = *m_window;
        if (clearCache)
            w.thumbnails().cache().clear();
        w.model().showPage(true);
        w.waitForIdle();
        bench::settle();
    }

    // Measures one run of an action: act() does what the user does (its own
    // work is the first stretch); then, when the action starts a thumbnail
    // pass, the pass is waited for; finished() tells whether the action had its
    // effect. The repaints it caused are measured with it.
    void measure(Action &a, const std::function<void()> &act, bool waitForPass,
                 const std::function<bool()> &finished)
    {
        bench::StallMeter meter;
        meter.start();
        act();
        const bool passOver = !waitForPass || m_window->waitForPass();
        bench::settle();
        meter.stop();
        if (!passOver || !finished()) {
            a.failed = true;
            a.why = QStringLiteral("did not finish");
        }
        a.samples << sampleOf(meter);
    }

    // Each start-up runs in a process of its own, as the user starts the
    // program: fonts, styles and the first window's set-up are paid every time.
    void startup()
    {
        if (!wanted("startup"))
            return;
        Action &a = action("startup", "start-up: window built, Form_Load, first paint of 53 slots");
        for (int k = 0; k < m_runs; ++k) {
            QProcess child;
            child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            child.start(QCoreApplication::applicationFilePath(),
                        {QStringLiteral("stalls"), QStringLiteral("--startup-child"), m_dir});
            const bool finished = child.waitForFinished(120000) && child.exitStatus() == QProcess::NormalExit;
            const QList<QByteArray> figures = child.readAllStandardOutput().trimmed().split(' ');
            if (!finished || child.exitCode() != 0 || figures.size() != 6 || figures[0] != "STARTUP") {
                a.failed = true;
                a.why = QStringLiteral("the first page was not painted with 53 slots");
                continue;
            }
            a.samples << Sample{figures[1].toDouble(), figures[2].toDouble(), figures[3].toDouble(),
                                figures[4].toDouble()};
            m_beforeWindow << figures[5].toDouble();
        }
    }

    void pass()
    {
        if (!wanted("pass"))
            return;
        Window &w = *m_window;
        Action &a = action("pass", "thumbnail pass of 53 slots (\"Zurücksetzen\", nothing cached)");
        for (int k = 0; k < m_decodeRuns; ++k) {
            w.thumbnails().cache().clear();
            measure(
                a, [&] { bench::click(w.controls().ReloadBUtton); }, true, [] { return true; });
        }
    }

    void paging()
    {
        if (!wanted("next") && !wanted("back"))
            return;
        Window &w = *m_window;
        Action &next = action("next", "paging forward from the first page, after a pause (NextBtn)");
        Action &back = action("back", "paging back to the first page (ZurueckBtn)");
        for (int k = 0; k < m_decodeRuns; ++k) {
            // Only the first page was seen: the second is new to the program, unless
            // it made its thumbnails ahead while the first was shown.
            w.model().setPageIndex(0);
            resetPage(true);
            const int page = w.model().pageIndex();
            measure(
                next, [&] { bench::click(w.controls().NextBtn); }, true,
                [&] { return w.model().pageIndex() == page + 1; });
            w.waitForIdle();
            measure(
                back, [&] { bench::click(w.controls().ZurueckBtn); }, true,
                [&] { return w.model().pageIndex() == page; });
            w.waitForIdle();
        }
    }

    // Resizes the window and waits for the layout, the page and the thumbnails
    // of the slots that came new.
    void resizeTo(Action &a, QSize size, int slotCount)
    {
        Window &w = *m_window;
        bench::StallMeter meter;
        meter.start();
        w.form().resize(size);
        const bool laidOut = bench::waitFor(
            &w.form(), &Form1::resized, [&] { return w.slotCount() == slotCount; }, 10000);
        const bool ok = laidOut && w.waitForPass();
        bench::settle();
        meter.stop();
        if (!ok) {
            a.failed = true;
            a.why = QStringLiteral("the page did not get %1 slots").arg(slotCount);
        }
        a.samples << sampleOf(meter);
    }

    void relayout()
    {
        if (!wanted("shrink") && !wanted("grow"))
            return;
        Window &w = *m_window;
        w.model().setPageIndex(0);
        resetPage(false);
        Action &shrink = action("shrink", "relayout from 53 to 25 slots (window made smaller)");
        Action &grow = action("grow", "relayout from 25 to 53 slots (window made larger)");
        for (int k = 0; k < m_runs; ++k) {
            resizeTo(shrink, bench::SmallPage, 25);
            w.waitForIdle();
            resizeTo(grow, bench::FullPage, benchpics::PageSize);
            w.waitForIdle();
        }
    }

    void save()
    {
        if (!wanted("save"))
            return;
        Window &w = *m_window;
        Action &a = action("save", "\"Namen Speichern\" with 53 changed names");
        w.model().setPageIndex(0);
        resetPage(false);
        for (int k = 0; k < m_runs; ++k) {
            Controls &c = w.controls();
            for (int i = 0; i < benchpics::PageSize; ++i)
                c.Text1[i]->setPlainText(
                    QStringLiteral("Urlaub %1 Bild %2").arg(k).arg(i + 1, 3, 10, QLatin1Char('0')));
            bench::settle();
            measure(
                a, [&] { bench::click(c.Speichern); }, false, [&] { return !w.model().isModified(); });
            if (w.model().isModified() ||
                bench::lastMessageTitle() != QStringLiteral("Benennung erfolgreich!")) {
                a.failed = true;
                a.why = QStringLiteral("the names were not saved (%1)").arg(bench::lastMessageTitle());
            }
            w.waitForIdle();
        }
    }

    // A bulk tool: its input box has the focus (the user just typed into it),
    // then its button is clicked.
    void tool(const char *key, const char *label, QLineEdit *box, const QString &text,
              QAbstractButton *button)
    {
        if (!wanted(key))
            return;
        Window &w = *m_window;
        Action &a = action(key, label);
        for (int k = 0; k < m_runs; ++k) {
            resetPage(false);
            if (box) {
                box->setFocus(Qt::MouseFocusReason);
                box->setText(text);
            }
            bench::settle();
            const QStringList before = w.model().names();
            measure(
                a, [&] { bench::click(button); }, false, [] { return true; });
            if (w.model().names() == before) {
                a.failed = true;
                a.why = QStringLiteral("no name changed");
            }
        }
    }

    void tools()
    {
        Window &w = *m_window;
        w.model().setPageIndex(0);
        Controls &c = w.controls();
        tool("prefix", "\"|<- Links anfügen\" (Command1) on 53 names", c.JahrText,
             QStringLiteral("2024.05.01"), c.Command1);
        tool("suffix", "\"->| Rechts anfügen\" (REchtsAnf) on 53 names", c.RechtsAnfTxt,
             QStringLiteral("Urlaub"), c.REchtsAnf);
        tool("numbers", "\"Nr. Setzen\" (SetNr) on 53 names", c.NummerTxt, QStringLiteral("001"), c.SetNr);
        c.SuchenTxt->setText(QStringLiteral("IMG"));
        tool("replace", "\"Ersetzen\" on 53 names", c.Ersetzenentxt, QStringLiteral("Bild"), c.Ersetzen);
        tool("clear", "\"(X) Alles löschen\" (Command4) on 53 names", nullptr, QString(), c.Command4);
        tool("x", "an \"X\" button (Command3)", nullptr, QString(), c.Command3[0]);
    }

    QString m_dir;
    int m_runs;
    int m_decodeRuns;
    QStringList m_only;
    std::unique_ptr<Window> m_window;
    std::deque<Action> m_actions;
    QList<double> m_beforeWindow;
    bool m_failed = false;
};

// One start-up, in the process that runs it: from building the window to
// its first paint, with the page's thumbnails on as the program starts by
// default. Prints "STARTUP busy wall all held before" (ms).
int startupChild(const QString &dir)
{
    const double before = bench::threadCpuNs() / 1e6;
    Window w(dir, true, bench::FullPage, false);
    bench::StallMeter meter;
    std::unique_ptr<PaintWatch> watch;
    meter.start();
    // As the program starts: in turns of the event loop.
    w.launch();
    bool ok = bench::waitFor(
        w.launcher(), &Launcher::built, [&] { return w.built(); }, 30000);
    if (ok) {
        // The last slot is painted with the rest of the window's first paint.
        watch = std::make_unique<PaintWatch>(w.controls().Picture1[benchpics::PageSize - 1]);
        ok = bench::waitFor(
            &watch->painted, &bench::Flag::raised, [&] { return watch->painted.isRaised(); }, 30000);
    }
    meter.stop();
    if (!ok || w.slotCount() != benchpics::PageSize)
        return 1;
    std::printf("STARTUP %.3f %.3f %.3f %.3f %.3f\n", meter.longestBusyMs(), meter.longestWallMs(),
                meter.totalBusyMs(), meter.longestHeldMs(), before);
    return 0;
}

// Pads by characters, not bytes: the labels hold umlauts.
QString padded(const QString &text)
{
    return text.leftJustified(66);
}

int run(const QStringList &args)
{
    if (args.size() == 2 && args[0] == QLatin1String("--startup-child"))
        return startupChild(args[1]);
    int runs = 5;
    int decodeRuns = 3;
    QStringList only;
    for (int i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--runs"))
            runs = qBound(1, args[i + 1].toInt(), 100);
        else if (args[i] == QLatin1String("--decode-runs"))
            decodeRuns = qBound(1, args[i + 1].toInt(), 100);
        else if (args[i] == QLatin1String("--only"))
            only = args[i + 1].split(QLatin1Char(','));
    }
    QElapsedTimer total;
    total.start();
    const benchpics::Place pictures = benchpics::prepare(args, benchpics::Set::Pages24MP);
    if (!pictures.ok()) {
        std::fprintf(stderr, "%s\n", qPrintable(pictures.problem));
        return 1;
    }
    const QString kept = pictures.dir;
    QTemporaryDir work;
    const QString dir = platform::absoluteDirectory(work.path());
    if (!work.isValid() || !linkPictures(kept, dir))
        return 1;
    benchpics::warmPageCache(dir);
    std::printf("%d pictures of 24 MP (%d pages of 53) in %s\n", Pages * benchpics::PageSize, Pages,
                qPrintable(dir));
    std::printf("load average at the start: %s (a busy machine does not change the busy and held figures "
                "much, but it does change the wall clock)\n",
                qPrintable(bench::loadAverage()));
    std::fflush(stdout);

    Stalls stalls(dir, runs, decodeRuns);
    const std::deque<Action> actions = stalls.run(only);

    std::printf("\nThe GUI thread's longest stretch between two waits of its event loop, per action:\n"
                "  busy: by the thread's CPU clock, the worst and the median of the runs\n"
                "  held: busy time plus the waits for the disk or a lock, not for a processor (worst run)\n"
                "  wall: by the wall clock, waits for a processor included (worst run, for the record)\n"
                "  all:  the thread's CPU time for the whole action (median)\n");
    std::printf("%s %4s %10s %10s %10s %10s %10s\n", qPrintable(padded(QStringLiteral("action"))), "runs",
                "busy worst", "median", "held", "wall", "all");
    const Action *worst = nullptr;
    bool ok = !stalls.failed();
    for (const Action &a : actions) {
        std::printf("%s %4d %7.1f ms %7.1f ms %7.1f ms %7.1f ms %7.1f ms%s%s\n",
                    qPrintable(padded(QString::fromUtf8(a.label))), int(a.samples.size()), a.worst(),
                    a.median(), a.worstHeld(), a.worstWall(), a.medianTotal(), a.failed ? "  FAILED: " : "",
                    qPrintable(a.why));
        if (!worst || a.worst() > worst->worst())
            worst = &a;
        ok = ok && !a.failed;
    }
    if (!stalls.beforeWindow().isEmpty())
        std::printf("(each start-up in a process of its own; before its window was built, the process had "
                    "used %.1f ms of CPU, median)\n",
                    bench::median(stalls.beforeWindow()));
    std::printf("load average at the end: %s\n", qPrintable(bench::loadAverage()));
    std::printf("whole benchmark: %.1f s\n", total.elapsed() / 1000.0);
    std::printf("RESULT worst_ms=%.1f action=%s", worst ? worst->worst() : 0.0, worst ? worst->key : "none");
    for (const Action &a : actions)
        std::printf(" %s_ms=%.1f", a.key, a.worst());
    std::printf("\n");
    return ok ? 0 : 1;
}

} // namespace

NAMORA_BENCH("stalls",
             "the GUI thread's longest busy stretch for each user action on 53 slots of 24-MP pictures", run);
