#pragma once

#include <QElapsedTimer>
#include <QEventLoop>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

// What the benchmarks measure with, kept apart so that it can be tested: thread
// and process CPU clocks, the GUI thread's busy stretches between two waits of
// its event loop, waits that sleep instead of spinning, and the resident memory.
namespace bench {

// CPU time of the calling thread and of the whole process, in nanoseconds.
qint64 threadCpuNs();
qint64 processCpuNs();

// The line of /proc/loadavg, or "unknown".
QString loadAverage();

// VmHWM and VmRSS of this process in MB; -1 when they cannot be read.
double peakRssMb();
double currentRssMb();
// Sets VmHWM back to the present resident size, so that the next peak read
// belongs to what runs from now on. False when the kernel does not offer it.
bool resetPeakRss();

// The median of values (the mean of the middle two for an even count); 0 when empty.
double median(QList<double> values);

// Wall time and CPU time of a measured part, the CPU split into the calling
// (GUI) thread and every other thread of the process (the decoding pool).
class CpuSplit {
public:
    void start();
    void stop();
    double wallMs() const { return m_wall / 1e6; }
    double guiCpuMs() const { return m_gui / 1e6; }
    double otherCpuMs() const { return (m_process - m_gui) / 1e6; }

private:
    QElapsedTimer m_clock;
    qint64 m_wall = 0;
    qint64 m_gui = 0;
    qint64 m_process = 0;
};

// The busy stretches of the calling thread's event loop. A stretch is all the
// thread does between two waits of its event loop in which it really slept (an
// aboutToBlock of the event dispatcher followed by time off the processor, not
// waiting for one; the turns of a loop that only looks for events are joined
// into one stretch). Its busy time is read from the thread's own CPU
// clock, so a loaded machine can neither hide a stretch (the thread waiting for
// a processor does not make it shorter) nor fake one (time spent preempted is
// not counted).
//
// Two more lengths are kept for the record, both from the first event the
// thread handles after a wait to the next wait: the wall clock, which includes
// every wait for a processor, and the time the thread was held up, which is
// the wall clock less the waits for a processor (the scheduler's run delay):
// the busy time plus what the thread waited for the disk or a lock, which the
// CPU clock cannot see. Without the scheduler's figures it is -1.
//
// start() opens a stretch at once: work done before the thread first returns to
// its loop (a click handled by the caller, a window built before the loop runs)
// is a stretch of its own. stop() closes the stretch that is open.
class StallMeter : public QObject {
    Q_OBJECT
public:
    explicit StallMeter(QObject *parent = nullptr);
    ~StallMeter() override;

    void start();
    void stop();

    // Over the stretches closed between start() and stop().
    double longestBusyMs() const { return m_longestBusy / 1e6; }
    double longestWallMs() const { return m_longestWall / 1e6; }
    double longestHeldMs() const { return m_schedFd < 0 ? -1 : m_longestHeld / 1e6; }
    // The first stretch alone (the caller's own action when it acts right after
    // start()), and the longest of the others.
    double firstBusyMs() const { return m_firstBusy / 1e6; }
    double longestLaterBusyMs() const { return m_longestLaterBusy / 1e6; }
    double totalBusyMs() const { return m_totalBusy / 1e6; }
    int stretches() const { return m_stretches; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void aboutToBlock();
    void afterWait();
    void closeStretch(qint64 cpu, qint64 wallEnd, qint64 runDelayEnd);
    void markWallStart();
    qint64 runDelayNs() const;

    QElapsedTimer m_clock;
    int m_schedFd = -1; // the thread's schedstat: run time, run delay, slices
    bool m_running = false;
    // A wait of less than this off the processor (and not waiting for one) is
    // no sleep: the loop only looked for events.
    static constexpr qint64 SleptNs = 100000;
    bool m_awaitingEvent = false; // after aboutToBlock: the next event or awake decides
    qint64 m_blockCpu = 0;
    qint64 m_blockWall = 0;
    qint64 m_blockRunDelay = 0;
    qint64 m_stretchCpu = 0;
    qint64 m_stretchWall = 0;
    qint64 m_stretchRunDelay = 0;
    qint64 m_longestBusy = 0;
    qint64 m_longestWall = 0;
    qint64 m_longestHeld = 0;
    qint64 m_firstBusy = 0;
    qint64 m_longestLaterBusy = 0;
    qint64 m_totalBusy = 0;
    int m_stretches = 0;
};

// Something a benchmark waits for that has no signal of its own.
class Flag : public QObject {
    Q_OBJECT
public:
    void raise()
    {
        m_raised = true;
        emit raised();
    }
    bool isRaised() const { return m_raised; }
    void reset() { m_raised = false; }
signals:
    void raised();

private:
    bool m_raised = false;
};

// Runs the calling thread's event loop until done() holds or limitMs has
// passed, and tells whether done() holds. The loop sleeps between events: it
// is checked again only when sender emits signal (or at the limit), so the
// wait itself takes no processor from the work it waits for.
template <typename Sender, typename Signal>
bool waitFor(const Sender *sender, Signal signal, const std::function<bool()> &done, int limitMs)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    limit.setTimerType(Qt::PreciseTimer); // a coarse timer may end the wait early
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(sender, signal, &loop, [&] {
        if (done())
            loop.quit();
    });
    limit.start(limitMs);
    loop.exec();
    return done();
}

// Lets the event loop handle what is pending (posted events, repaints) until it
// has nothing left to do, at most limitMs: a timer of 0 ms runs only when the
// loop has no other events, and it is armed once more after it fired, so the
// work that the first round of events posted is handled too.
void settle(int limitMs = 2000);

} // namespace bench
