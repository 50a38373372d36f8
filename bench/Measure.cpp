#include "Measure.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QFile>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace bench {

namespace {

qint64 clockNs(clockid_t id)
{
    timespec ts{};
    clock_gettime(id, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

double statusMb(const char *key)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(key) + ':';
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').first().toDouble() / 1024.0;
    return -1;
}

// With NAMORA_BENCH_PERF_CTL naming the control fifo of a
// "perf record --control fifo:FIFO -D -1", every measured part switches the
// recording on and off, so that a profile holds the measured stretches and
// nothing of the set-up between them.
void switchProfiler(bool on)
{
    static const int fd = [] {
        const QByteArray path = qgetenv("NAMORA_BENCH_PERF_CTL");
        return path.isEmpty() ? -1 : ::open(path.constData(), O_WRONLY | O_CLOEXEC);
    }();
    if (fd < 0)
        return;
    const char *command = on ? "enable\n" : "disable\n";
    if (::write(fd, command, std::strlen(command)) < 0)
        std::perror("NAMORA_BENCH_PERF_CTL");
}

} // namespace

qint64 threadCpuNs()
{
    return clockNs(CLOCK_THREAD_CPUTIME_ID);
}

qint64 processCpuNs()
{
    return clockNs(CLOCK_PROCESS_CPUTIME_ID);
}

QString loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    return QString::fromLatin1(f.readAll().trimmed());
}

double peakRssMb()
{
    return statusMb("VmHWM");
}

double currentRssMb()
{
    return statusMb("VmRSS");
}

bool resetPeakRss()
{
    // "5" resets the high-water mark (Linux 4.0 and later).
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    return f.open(QIODevice::WriteOnly) && f.write("5") == 1;
}

double median(QList<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void CpuSplit::start()
{
    m_gui = threadCpuNs();
    m_process = processCpuNs();
    m_clock.start();
}

void CpuSplit::stop()
{
    m_wall = m_clock.nsecsElapsed();
    m_gui = threadCpuNs() - m_gui;
    m_process = processCpuNs() - m_process;
}

StallMeter::StallMeter(QObject *parent) : QObject(parent)
{
    QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance(QThread::currentThread());
    Q_ASSERT(dispatcher);
    // Where a dispatcher puts its work relative to these signals differs: the
    // glib one emits aboutToBlock, polls, handles what came and then emits
    // awake, once per turn of its loop, whether or not the poll waited; the
    // plain Unix one emits awake and handles posted events before aboutToBlock,
    // and skips aboutToBlock when events are pending. A stretch therefore ends
    // at an aboutToBlock only when the first event after it (or awake) shows
    // that the thread really slept in between.
    connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &StallMeter::aboutToBlock,
            Qt::DirectConnection);
    connect(
        dispatcher, &QAbstractEventDispatcher::awake, this,
        [this] {
            if (m_running && m_awaitingEvent)
                afterWait();
        },
        Qt::DirectConnection);
    QCoreApplication::instance()->installEventFilter(this);
    // Opened once: reading it is then one pread per stretch.
    m_schedFd = ::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
}

StallMeter::~StallMeter()
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
    if (m_schedFd >= 0)
        ::close(m_schedFd);
}

qint64 StallMeter::runDelayNs() const
{
    if (m_schedFd < 0)
        return 0;
    char buffer[128];
    const ssize_t n = ::pread(m_schedFd, buffer, sizeof buffer - 1, 0);
    if (n <= 0)
        return 0;
    buffer[n] = 0;
    // "<time on a processor> <time waiting for one> <timeslices>", in ns.
    char *end = nullptr;
    std::strtoll(buffer, &end, 10);
    return std::strtoll(end, nullptr, 10);
}

void StallMeter::start()
{
    m_longestBusy = m_longestWall = m_longestHeld = m_firstBusy = m_longestLaterBusy = m_totalBusy = 0;
    m_stretches = 0;
    m_clock.start();
    m_running = true;
    m_awaitingEvent = false;
    switchProfiler(true);
    markWallStart();
    m_stretchCpu = threadCpuNs();
}

void StallMeter::stop()
{
    if (!m_running)
        return;
    if (m_awaitingEvent)
        closeStretch(m_blockCpu, m_blockWall, m_blockRunDelay);
    else
        closeStretch(threadCpuNs(), m_clock.nsecsElapsed(), runDelayNs());
    m_awaitingEvent = false;
    m_running = false;
    switchProfiler(false);
}

bool StallMeter::eventFilter(QObject *, QEvent *)
{
    // The first event after a wait decides whether the thread slept; nothing
    // else is done per event.
    if (m_awaitingEvent)
        afterWait();
    return false;
}

void StallMeter::markWallStart()
{
    m_stretchRunDelay = runDelayNs();
    m_stretchWall = m_clock.nsecsElapsed();
}

void StallMeter::aboutToBlock()
{
    if (!m_running || m_awaitingEvent)
        return;
    m_blockCpu = threadCpuNs();
    m_blockWall = m_clock.nsecsElapsed();
    m_blockRunDelay = runDelayNs();
    m_awaitingEvent = true;
}

void StallMeter::afterWait()
{
    m_awaitingEvent = false;
    // The glib dispatcher says it is about to block on every turn of its loop,
    // also when events are waiting and its poll returns at once: only a wait in
    // which the thread was neither on a processor nor waiting for one ends the
    // stretch. A shorter one is part of the work.
    const qint64 cpu = threadCpuNs();
    const qint64 delay = runDelayNs();
    const qint64 off =
        (m_clock.nsecsElapsed() - m_blockWall) - (cpu - m_blockCpu) - (delay - m_blockRunDelay);
    if (off < SleptNs)
        return;
    closeStretch(m_blockCpu, m_blockWall, m_blockRunDelay);
    m_stretchCpu = cpu;
    markWallStart();
}

void StallMeter::closeStretch(qint64 cpu, qint64 wallEnd, qint64 runDelayEnd)
{
    const qint64 busy = cpu - m_stretchCpu;
    const qint64 wall = wallEnd - m_stretchWall;
    const qint64 held = wall - (runDelayEnd - m_stretchRunDelay);
    m_longestWall = qMax(m_longestWall, wall);
    m_longestHeld = qMax(m_longestHeld, held);
    if (m_stretches == 0)
        m_firstBusy = busy;
    else
        m_longestLaterBusy = qMax(m_longestLaterBusy, busy);
    m_longestBusy = qMax(m_longestBusy, busy);
    m_totalBusy += busy;
    ++m_stretches;
    // For finding where a long stretch comes from: each one of a millisecond or
    // more, in order.
    static const bool list = qEnvironmentVariableIsSet("NAMORA_BENCH_STRETCHES");
    if (list && busy >= 1000000)
        std::fprintf(stderr, "stretch %d: %.1f ms\n", m_stretches, busy / 1e6);
}

void settle(int limitMs)
{
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    int fired = 0;
    QTimer idle;
    idle.setSingleShot(true);
    idle.setInterval(0);
    QObject::connect(&idle, &QTimer::timeout, &loop, [&] {
        if (++fired == 2)
            loop.quit();
        else
            idle.start();
    });
    idle.start();
    limit.start(limitMs);
    loop.exec();
}

} // namespace bench
