// What the user feels: the real program on a private X server (Xvfb, the xcb
// platform), input sent through the server, each action timed from the input
// to the window's last painted pixels (no damage for 150 ms after) and by the
// longest time a _NET_WM_PING, sent every 4 ms, waited for its answer. The
// start is set beside a bare Qt window with as many labels and boxes, started
// the same way in the same run. Each action runs on a quiet machine and again
// beside two busy processes of another session. Where these figures and the
// offscreen benchmarks differ, these are the truth.
#include "Bench.h"
#include "Harness.h"
#include "Measure.h"
#include "Pictures.h"
#include "feel/XSession.h"

#include "TestPictures.h"
#include "core/settings/Ini.h"
#include "ui/window/Controls.h"
#include "ui/window/Widgets.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <csignal>
#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using feel::nowMs;
using feel::Point;
using feel::XSession;

constexpr double QuietMs = 150;

Point pointOf(QWidget *w, QWidget *form, QPoint at)
{
    const QPoint p = w->mapTo(form, at);
    return {p.x(), p.y()};
}

Point centre(QWidget *w, QWidget *form)
{
    return pointOf(w, form, w->rect().center());
}

// Where the controls are at a window size: the layout depends only on the
// size and the number of pictures, so an offscreen window of the same size
// over the same directory tells it.
struct Layout {
    QHash<QString, Point> at;
    QList<QList<Point>> slotPoints; // three points in each filled slot's picture
};

Layout layoutOf(const QString &dir, QSize size)
{
    bench::Window w(dir, false, size);
    w.load();
    Layout l;
    Controls &c = w.controls();
    QWidget *form = &w.form();
    for (QWidget *x :
         std::initializer_list<QWidget *>{c.NextBtn, c.ZurueckBtn, c.Command1, c.REchtsAnf, c.SetNr,
                                          c.Command4, c.ReloadBUtton, c.Speichern, c.Command5})
        l.at.insert(x->objectName(), centre(x, form));
    // Inside the first name box, after its text.
    QPlainTextEdit *name = c.Text1[0];
    l.at.insert(QStringLiteral("Text1"), pointOf(name, form, QPoint(name->width() - 6, name->height() / 2)));
    if (qEnvironmentVariableIsSet("NAMORA_FEEL_VERBOSE"))
        for (auto it = l.at.cbegin(); it != l.at.cend(); ++it)
            std::printf("    %s at %d,%d\n", qPrintable(it.key()), it.value().x, it.value().y);
    for (int i = 0; i < w.filledSlots(); ++i) {
        QWidget *p = c.Picture1[size_t(i)];
        const QRect r = p->rect();
        l.slotPoints.append({pointOf(p, form, r.center()),
                             pointOf(p, form, r.center() - QPoint(r.width() / 4, 0)),
                             pointOf(p, form, r.center() + QPoint(r.width() / 4, -r.height() / 4))});
    }
    return l;
}

// The program's CPU time so far (all threads), in clock ticks.
long cpuTicks(pid_t pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray s = f.readAll();
    const QList<QByteArray> fields = s.mid(s.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? fields.at(11).toLong() + fields.at(12).toLong() : -1;
}

struct Sample {
    double px = -1;   // input to the last damage
    double ping = -1; // the longest wait of a ping
};

struct Series {
    QString action;
    QString load;
    QList<double> px;
    QList<double> ping;
};

class Feel {
public:
    Feel(XSession &x, const QString &scratch, const QString &program, const QString &bare)
        : m_x(x), m_scratch(scratch), m_program(program), m_bare(bare)
    {
    }

    // Starts the program on dir, thumbnails as given, and waits for its window.
    pid_t start(const QString &dir, bool thumbnails)
    {
        const QString home = m_scratch + QStringLiteral("/prog");
        QDir().mkpath(home);
        const QString copy = home + QStringLiteral("/namora");
        if (!QFile::exists(copy))
            QFile::copy(m_program, copy);
        const QString ini = home + QStringLiteral("/namora.ini");
        QFile::remove(ini);
        ini::IniWrite(QStringLiteral("Einstellungen"), QStringLiteral("BilderAnzeigen"),
                      thumbnails ? QStringLiteral("1") : QStringLiteral("0"), ini, true);
        ini::IniWrite(QStringLiteral("Einstellungen"), QStringLiteral("Vollbild"), QStringLiteral("0"), ini,
                      true);
        const pid_t pid = m_x.spawn(
            {copy.toStdString(), dir.toStdString()},
            {(QStringLiteral("XDG_DATA_HOME=") + m_scratch + QStringLiteral("/data")).toStdString(),
             (QStringLiteral("XDG_CONFIG_HOME=") + m_scratch + QStringLiteral("/config")).toStdString()});
        m_x.pumpUntil([&] { return m_x.mainWindow() != 0; }, 20000);
        return pid;
    }

    // Waits until the program has used no processor for a while: its pass and
    // its prefetch are over.
    void waitIdle(pid_t pid)
    {
        // Pings cost the program a little time of its own: none while waiting.
        m_x.setPinging(false);
        long last = cpuTicks(pid);
        double since = nowMs();
        m_x.pumpUntil(
            [&] {
                if (nowMs() - since < 700)
                    return false;
                const long now = cpuTicks(pid);
                const bool idle = now - last <= 1;
                last = now;
                since = nowMs();
                return idle;
            },
            120000);
    }

    void resize(QSize s)
    {
        m_x.moveResize(0, 0, s.width(), s.height());
        m_x.waitQuiet(QuietMs, 30000);
    }

    // One action: the input, then the last damage and the worst ping.
    Sample act(const std::function<void()> &input)
    {
        m_x.setPinging(true);
        m_x.waitQuiet(50, 5000);
        m_x.resetPings();
        const double t0 = nowMs();
        input();
        const double last = m_x.waitQuiet(QuietMs, 60000);
        Sample s{last > t0 ? last - t0 : 0, m_x.worstPingMs()};
        if (qEnvironmentVariableIsSet("NAMORA_FEEL_VERBOSE"))
            std::printf("    sample: px %.1f ping %.1f damage events %ld\n", s.px, s.ping, m_x.damageCount());
        if (m_x.dialog()) { // a message box came up: answer it as a user would
            m_x.key("Return");
            m_x.waitQuiet(QuietMs, 10000);
        }
        return s;
    }

    void click(const Layout &l, const char *name) { m_x.click(l.at.value(QString::fromUtf8(name))); }

    XSession &x() { return m_x; }
    const QString &bare() const { return m_bare; }

private:
    XSession &m_x;
    QString m_scratch;
    QString m_program;
    QString m_bare;
};

// A directory of hard links to the pictures of from (the originals stay as
// they are, whatever the program renames), plus links to one small picture up
// to count files.
QString linkedDirectory(const QString &scratch, const QString &name, const QString &from, int count)
{
    const QString dir = scratch + QLatin1Char('/') + name;
    QDir().mkpath(dir);
    int n = 0;
    for (const QString &f : QDir(from).entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name)) {
        if (n >= count)
            break;
        link(QFile::encodeName(from + QLatin1Char('/') + f).constData(),
             QFile::encodeName(dir + QLatin1Char('/') + f).constData());
        ++n;
    }
    if (n < count) {
        const QString small = scratch + QStringLiteral("/small.jpg");
        testpics::writeCameraPhoto(small, QSize(320, 240), 7);
        for (; n < count; ++n)
            link(QFile::encodeName(small).constData(),
                 QFile::encodeName(dir + QStringLiteral("/zz_%1.jpg").arg(n, 6, 10, QLatin1Char('0')))
                     .constData());
    }
    return dir;
}

// Two processes that keep a processor each busy, in a session of their own.
class Load {
public:
    explicit Load(bool on)
    {
        for (int i = 0; on && i < 2; ++i) {
            const pid_t pid = fork();
            if (pid == 0) {
                setsid();
                for (volatile unsigned long n = 0;; n = n + 1) {
                }
            }
            m_pids.append(pid);
        }
    }
    ~Load()
    {
        for (pid_t p : m_pids) {
            kill(p, SIGKILL);
            waitpid(p, nullptr, 0);
        }
    }

private:
    QList<pid_t> m_pids;
};

void print(const Series &s)
{
    const auto worst = [](const QList<double> &v) {
        return v.isEmpty() ? 0 : *std::max_element(v.begin(), v.end());
    };
    std::printf(
        "  %-22s %-5s px median %7.1f worst %7.1f ms   ping median %6.1f worst %6.1f ms   (%lld runs)\n",
        qPrintable(s.action), qPrintable(s.load), bench::median(s.px), worst(s.px), bench::median(s.ping),
        worst(s.ping), static_cast<long long>(s.px.size()));
    std::fflush(stdout);
}

int run(const QStringList &args)
{
    int runs = 5;
    const int r = args.indexOf(QStringLiteral("--runs"));
    if (r >= 0 && r + 1 < args.size())
        runs = std::max(1, args.at(r + 1).toInt());
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/namora");
    const QString bareProgram = QCoreApplication::applicationDirPath() + QStringLiteral("/namora-bare");
    const benchpics::Place pics = benchpics::prepare(args, benchpics::Set::Pages24MP);
    if (!pics.ok()) {
        std::fprintf(stderr, "%s\n", qPrintable(pics.problem));
        return 1;
    }
    std::string problem;
    const std::unique_ptr<XSession> xs = XSession::start(1920, 1800, problem);
    if (!xs) {
        std::fprintf(stderr, "feel: %s\n", problem.c_str());
        return 1;
    }
    QTemporaryDir scratchDir;
    const QString scratch = scratchDir.path();
    const QString threePages = linkedDirectory(scratch, QStringLiteral("pages"), pics.dir, 159);
    const QString onePage = linkedDirectory(scratch, QStringLiteral("page"), pics.dir, 53);
    const QString many = linkedDirectory(scratch, QStringLiteral("many"), pics.dir, 20000);
    benchpics::warmPageCache(threePages);
    Feel f(*xs, scratch, program, bareProgram);
    XSession &x = f.x();

    // The window's own first size, and where everything is at each size used.
    f.start(onePage, false);
    int wx = 0, wy = 0, ww = 0, wh = 0;
    x.geometry(wx, wy, ww, wh);
    const QSize startSize(ww, wh);
    x.waitQuiet(500, 20000);
    x.stopProgram();
    const Layout atStart = layoutOf(onePage, startSize);
    const Layout full = layoutOf(threePages, bench::FullPage);
    // What a slot shows before its picture: the placeholder, as with thumbnails
    // off; and before the slot is shown at all: the window's own background, as
    // on a directory without pictures.
    const QString noPictures = scratch + QStringLiteral("/none");
    QDir().mkpath(noPictures);
    QFile readme(noPictures + QStringLiteral("/readme.txt"));
    if (readme.open(QIODevice::WriteOnly))
        readme.write("no pictures\n");
    readme.close();
    const auto pixelsOfSlots = [&](const QString &dir, bool thumbnails) {
        f.start(dir, thumbnails);
        x.waitQuiet(500, 20000);
        QList<QList<unsigned long>> all;
        for (const QList<Point> &slot : atStart.slotPoints) {
            QList<unsigned long> px;
            for (const Point &p : slot)
                px.append(x.pixel(p));
            all.append(px);
        }
        x.stopProgram();
        return all;
    };
    const QList<QList<unsigned long>> placeholder = pixelsOfSlots(onePage, false);
    const QList<QList<unsigned long>> hidden = pixelsOfSlots(noPictures, false);
    std::printf("feel: Xvfb %s, start size %dx%d, %d slots at start; %d runs each; load average %s\n",
                x.display().c_str(), ww, wh, int(atStart.slotPoints.size()), runs,
                qPrintable(bench::loadAverage()));

    QList<Series> all;
    double startRatio = 0;
    double flipPx = 0;
    double typingWorstPing = 0;
    // --only start|pages|reread and --load quiet|busy narrow the run down.
    const int o = args.indexOf(QStringLiteral("--only"));
    const QString only = o >= 0 && o + 1 < args.size() ? args.at(o + 1) : QString();
    const int lo = args.indexOf(QStringLiteral("--load"));
    const QString loads = lo >= 0 && lo + 1 < args.size() ? args.at(lo + 1) : QString();
    const auto wanted = [&](const char *part) { return only.isEmpty() || only == QLatin1String(part); };
    for (const bool loaded : {false, true}) {
        const QString load = loaded ? QStringLiteral("load") : QStringLiteral("quiet");
        if (!loads.isEmpty() && loads != (loaded ? QLatin1String("busy") : QLatin1String("quiet")))
            continue;
        const Load busy(loaded);
        Series mapped{QStringLiteral("start: mapped"), load, {}, {}};
        Series frame{QStringLiteral("start: first pictures"), load, {}, {}};
        Series bareMapped{QStringLiteral("bare: mapped"), load, {}, {}};
        Series bareFrame{QStringLiteral("bare: painted"), load, {}, {}};
        Series typing{QStringLiteral("typing during a pass"), load, {}, {}};
        for (int i = 0; i < runs && wanted("start"); ++i) {
            // The bare window: mapped, then painted and quiet.
            x.spawn({f.bare().toStdString(), std::to_string(ww), std::to_string(wh)}, {});
            x.pumpUntil([&] { return x.mainWindow() != 0; }, 20000);
            const double bareLast = x.waitQuiet(QuietMs, 20000);
            bareMapped.px.append(x.mappedMs() - x.spawnMs());
            bareFrame.px.append(bareLast - x.spawnMs());
            x.stopProgram();

            // The program: mapped, then every slot showing a picture.
            QList<bool> shown(atStart.slotPoints.size(), false);
            int remaining = int(shown.size());
            double lastCheck = 0;
            const pid_t pid = f.start(onePage, true);
            x.setPinging(true);
            x.resetPings();
            double complete = -1;
            x.pumpUntil(
                [&] {
                    if (nowMs() - lastCheck < 8 || x.lastDamageMs() < lastCheck)
                        return false;
                    const double damageSeen = x.lastDamageMs();
                    lastCheck = nowMs();
                    for (int s = 0; s < shown.size(); ++s) {
                        if (shown[s])
                            continue;
                        for (int k = 0; k < atStart.slotPoints[s].size() && !shown[s]; ++k) {
                            // Black is a window not painted yet.
                            const unsigned long px = x.pixel(atStart.slotPoints[s][k]);
                            shown[s] = px != placeholder[s][k] && px != hidden[s][k] && px != 0;
                        }
                        remaining -= shown[s] ? 1 : 0;
                    }
                    if (remaining == 0)
                        complete = damageSeen;
                    return remaining == 0;
                },
                20000);
            mapped.px.append(x.mappedMs() - x.spawnMs());
            mapped.ping.append(x.worstPingMs());
            frame.px.append(complete > 0 ? complete - x.spawnMs() : 20000);
            frame.ping.append(x.worstPingMs());

            // Keys typed into the first name box while the rest decodes.
            x.resetPings();
            x.click(atStart.at.value(QStringLiteral("Text1")));
            double worstKey = 0;
            for (const char c : std::string("holidayrome")) {
                const double t0 = nowMs();
                const long before = x.damageCount();
                x.type(c);
                x.pumpUntil([&] { return x.damageCount() > before; }, 2000);
                worstKey = std::max(worstKey, x.lastDamageMs() - t0);
                x.pumpUntil([] { return false; }, 40);
            }
            typing.px.append(worstKey);
            typing.ping.append(x.worstPingMs());
            Q_UNUSED(pid);
            x.stopProgram();
        }
        if (wanted("start")) {
            if (!loaded)
                startRatio = bench::median(frame.px) / bench::median(bareFrame.px);
            else
                typingWorstPing = *std::max_element(typing.ping.begin(), typing.ping.end());
            for (const Series *s : {&bareMapped, &mapped, &bareFrame, &frame, &typing})
                print(*s), all.append(*s);
        }

        // Paging, the bulk tools and the save on three pages at full size.
        if (wanted("pages")) {
            Series forward{QStringLiteral("page forward"), load, {}, {}};
            Series back{QStringLiteral("page back"), load, {}, {}};
            const pid_t pid = f.start(threePages, true);
            f.resize(bench::FullPage);
            for (int i = 0; i < runs; ++i) {
                f.waitIdle(pid);
                const Sample a = f.act([&] { f.click(full, "NextBtn"); });
                forward.px.append(a.px), forward.ping.append(a.ping);
                f.waitIdle(pid);
                const Sample b = f.act([&] { f.click(full, "ZurückBtn"); });
                back.px.append(b.px), back.ping.append(b.ping);
            }
            if (!loaded)
                flipPx = bench::median(forward.px);
            print(forward), print(back), all.append(forward), all.append(back);
            f.waitIdle(pid);
            for (const char *tool : {"Command1", "REchtsAnf", "SetNr", "Command4", "ReloadBUtton"}) {
                Series s{QStringLiteral("bulk ") + QString::fromLatin1(tool), load, {}, {}};
                for (int i = 0; i < runs; ++i) {
                    const Sample a = f.act([&] { f.click(full, tool); });
                    s.px.append(a.px), s.ping.append(a.ping);
                }
                print(s), all.append(s);
            }
            Series save{QStringLiteral("save 53 names"), load, {}, {}};
            for (int i = 0; i < runs; ++i) {
                f.act([&] { f.click(full, "Command1"); });
                x.setPinging(true);
                x.resetPings();
                const double t0 = nowMs();
                f.click(full, "Speichern");
                x.pumpUntil([&] { return x.dialog() != 0; }, 20000);
                const unsigned long box = x.dialog();
                x.waitQuiet(QuietMs, 20000);
                save.px.append(box ? x.lastDamageOf(box) - t0 : 20000);
                save.ping.append(x.worstPingMs());
                x.key("Return");
                x.waitQuiet(QuietMs, 20000);
                f.waitIdle(pid);
            }
            print(save), all.append(save);
            Series relayout{QStringLiteral("relayout 25 to 53"), load, {}, {}};
            for (int i = 0; i < runs; ++i) {
                f.resize(bench::SmallPage);
                f.waitIdle(pid);
                const Sample a =
                    f.act([&] { x.moveResize(0, 0, bench::FullPage.width(), bench::FullPage.height()); });
                relayout.px.append(a.px), relayout.ping.append(a.ping);
                f.waitIdle(pid);
            }
            print(relayout), all.append(relayout);
            x.stopProgram();
        }
        if (wanted("reread")) {
            Series reread{QStringLiteral("reread 20,000"), load, {}, {}};
            const pid_t pid = f.start(many, true);
            f.resize(bench::FullPage);
            for (int i = 0; i < runs; ++i) {
                f.waitIdle(pid);
                const Sample a = f.act([&] { f.click(full, "Command5"); });
                reread.px.append(a.px), reread.ping.append(a.ping);
            }
            print(reread), all.append(reread);
            x.stopProgram();
        }
    }

    double worstPing = 0;
    QString worstAction;
    for (const Series &s : all) {
        for (const double p : s.ping) {
            if (p > worstPing) {
                worstPing = p;
                worstAction = s.action + QLatin1Char('/') + s.load;
            }
        }
    }
    std::printf("load average after: %s\n", qPrintable(bench::loadAverage()));
    std::printf(
        "RESULT worst_ping_ms=%.1f action=%s flip_px_ms=%.1f typing_worst_ping_ms=%.1f start_ratio=%.2f\n",
        worstPing, qPrintable(QString(worstAction).replace(QLatin1Char(' '), QLatin1Char('_'))), flipPx,
        typingWorstPing, startRatio);
    return 0;
}

} // namespace

NAMORA_BENCH("feel", "the real program on Xvfb: input through the server to painted pixels, pings [--runs N]",
             run);
