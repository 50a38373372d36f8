// The measuring helpers of the benchmarks: a stall figure that work on other
// threads, waits for a processor or an idle loop could inflate, or that could
// miss the caller's own work, would send the people who optimise the window
// after the wrong thing; a wait that spins takes a core from the work it times.
#include "Measure.h"

#include <QtTest>
#include <atomic>
#include <pthread.h>
#include <sched.h>
#include <thread>
#include <unistd.h>

namespace {

// Burns exactly ms of the calling thread's CPU time.
void spinCpu(double ms)
{
    const qint64 end = bench::threadCpuNs() + qint64(ms * 1e6);
    while (bench::threadCpuNs() < end) {
    }
}

// Runs the event loop for about ms without any work of its own.
void idleLoop(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

class BenchMeasureTest : public QObject {
    Q_OBJECT
private slots:
    void busyHandlerCountsAsOneStretch();
    void separateTurnsAreNotAddedUp();
    void turnsWithoutASleepAreOneStretch();
    void waitingInTheLoopIsNotBusy();
    void workBeforeTheLoopRunsIsItsOwnStretch();
    void otherThreadsWorkIsNotTheGuiThreads();
    void waitForAProcessorIsNeitherBusyNorHeld();
    void blockingInAHandlerIsHeldNotBusy();
    void waitForSleepsInsteadOfSpinning();
    void waitForGivesUpAtItsLimit();
    void settleRunsTheWorkThatPendingEventsPost();
    void medianOfRuns_data();
    void medianOfRuns();
};

void BenchMeasureTest::busyHandlerCountsAsOneStretch()
{
    bench::StallMeter meter;
    meter.start();
    QTimer::singleShot(0, [] { spinCpu(60); });
    // Long enough that the loop sleeps after the handler also on a busy
    // machine, where 60 ms of processor take longer by the clock.
    idleLoop(400);
    meter.stop();
    QVERIFY2(meter.longestBusyMs() >= 59 && meter.longestBusyMs() < 80,
             qPrintable(QString::number(meter.longestBusyMs())));
    QVERIFY(meter.stretches() >= 2);
    // A stretch lasts at least as long by the wall clock as the thread worked.
    QVERIFY(meter.longestWallMs() >= 59);
    QVERIFY(meter.longestHeldMs() >= 59);
}

void BenchMeasureTest::separateTurnsAreNotAddedUp()
{
    bench::StallMeter meter;
    meter.start();
    // The second handler runs in a later turn of the loop, after a wait.
    QTimer::singleShot(0, [] {
        spinCpu(40);
        QTimer::singleShot(10, [] { spinCpu(40); });
    });
    idleLoop(150);
    meter.stop();
    QVERIFY2(meter.longestBusyMs() >= 39 && meter.longestBusyMs() < 60,
             qPrintable(QString::number(meter.longestBusyMs())));
    QVERIFY(meter.totalBusyMs() >= 79);
}

void BenchMeasureTest::turnsWithoutASleepAreOneStretch()
{
    bench::StallMeter meter;
    meter.start();
    // Back to back in two turns of the loop: the loop never sleeps between
    // them, so the user waits for both.
    QTimer::singleShot(0, [] {
        spinCpu(30);
        QTimer::singleShot(0, [] { spinCpu(30); });
    });
    idleLoop(120);
    meter.stop();
    QVERIFY2(meter.longestBusyMs() >= 59 && meter.longestBusyMs() < 85,
             qPrintable(QString::number(meter.longestBusyMs())));
}

void BenchMeasureTest::waitingInTheLoopIsNotBusy()
{
    bench::StallMeter meter;
    meter.start();
    idleLoop(150);
    meter.stop();
    QVERIFY2(meter.longestBusyMs() < 10, qPrintable(QString::number(meter.longestBusyMs())));
    // The wait itself is no stretch, by any clock.
    QVERIFY2(meter.longestWallMs() < 100, qPrintable(QString::number(meter.longestWallMs())));
    QVERIFY(meter.longestHeldMs() < 100);
}

void BenchMeasureTest::workBeforeTheLoopRunsIsItsOwnStretch()
{
    bench::StallMeter meter;
    meter.start();
    spinCpu(50); // a click handled before the loop turns
    idleLoop(50);
    meter.stop();
    QVERIFY2(meter.firstBusyMs() >= 49 && meter.firstBusyMs() < 70,
             qPrintable(QString::number(meter.firstBusyMs())));
    QVERIFY(meter.longestLaterBusyMs() < 10);
    QCOMPARE(meter.longestBusyMs(), meter.firstBusyMs());
}

void BenchMeasureTest::otherThreadsWorkIsNotTheGuiThreads()
{
    bench::StallMeter meter;
    bench::CpuSplit cpu;
    meter.start();
    cpu.start();
    std::atomic_bool done{false};
    std::thread worker([&] {
        spinCpu(100);
        done = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(done, 10000);
    worker.join();
    cpu.stop();
    meter.stop();
    QVERIFY2(meter.longestBusyMs() < 10, qPrintable(QString::number(meter.longestBusyMs())));
    QVERIFY2(cpu.otherCpuMs() >= 99, qPrintable(QString::number(cpu.otherCpuMs())));
    QVERIFY2(cpu.guiCpuMs() < 30, qPrintable(QString::number(cpu.guiCpuMs())));
    QVERIFY(cpu.wallMs() >= 99);
}

void BenchMeasureTest::waitForAProcessorIsNeitherBusyNorHeld()
{
    // The GUI thread and a spinning thread share one processor: the GUI
    // thread's handler gets about half of it.
    cpu_set_t before;
    QCOMPARE(pthread_getaffinity_np(pthread_self(), sizeof before, &before), 0);
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(sched_getcpu(), &one);
    QCOMPARE(pthread_setaffinity_np(pthread_self(), sizeof one, &one), 0);
    std::atomic_bool stop{false};
    std::thread rival([&] {
        pthread_setaffinity_np(pthread_self(), sizeof one, &one);
        while (!stop) {
        }
    });

    bench::StallMeter meter;
    meter.start();
    QTimer::singleShot(0, [] { spinCpu(60); });
    idleLoop(400);
    meter.stop();
    stop = true;
    rival.join();
    pthread_setaffinity_np(pthread_self(), sizeof before, &before);

    const QString figures = QStringLiteral("busy %1, held %2, wall %3")
                                .arg(meter.longestBusyMs())
                                .arg(meter.longestHeldMs())
                                .arg(meter.longestWallMs());
    QVERIFY2(meter.longestBusyMs() >= 59 && meter.longestBusyMs() < 80, qPrintable(figures));
    QVERIFY2(meter.longestWallMs() >= 1.4 * meter.longestBusyMs(), qPrintable(figures));
    QVERIFY2(meter.longestHeldMs() < meter.longestBusyMs() + 15, qPrintable(figures));
}

void BenchMeasureTest::blockingInAHandlerIsHeldNotBusy()
{
    // The handler waits for another thread, as it would for the disk or a lock.
    int fds[2];
    QCOMPARE(::pipe(fds), 0);
    std::thread writer;
    std::atomic_bool written{false};
    bool read = false;
    QTimer::singleShot(0, [&] {
        writer = std::thread([&] {
            spinCpu(50);
            const char byte = 1;
            written = ::write(fds[1], &byte, 1) == 1;
        });
        char byte = 0;
        read = ::read(fds[0], &byte, 1) == 1;
    });
    bench::StallMeter meter;
    meter.start();
    idleLoop(200);
    meter.stop();
    if (writer.joinable())
        writer.join();
    ::close(fds[0]);
    ::close(fds[1]);
    QVERIFY(written);
    QVERIFY(read);
    const QString figures =
        QStringLiteral("busy %1, held %2").arg(meter.longestBusyMs()).arg(meter.longestHeldMs());
    QVERIFY2(meter.longestBusyMs() < 10, qPrintable(figures));
    QVERIFY2(meter.longestHeldMs() >= 49, qPrintable(figures));
}

void BenchMeasureTest::waitForSleepsInsteadOfSpinning()
{
    bench::Flag flag;
    QTimer::singleShot(200, &flag, &bench::Flag::raise);
    bench::CpuSplit cpu;
    cpu.start();
    const bool ok = bench::waitFor(
        &flag, &bench::Flag::raised, [&] { return flag.isRaised(); }, 5000);
    cpu.stop();
    QVERIFY(ok);
    QVERIFY(cpu.wallMs() >= 190);
    QVERIFY2(cpu.guiCpuMs() < 20, qPrintable(QString::number(cpu.guiCpuMs())));
}

void BenchMeasureTest::waitForGivesUpAtItsLimit()
{
    bench::Flag flag;
    QElapsedTimer t;
    t.start();
    QVERIFY(!bench::waitFor(
        &flag, &bench::Flag::raised, [&] { return flag.isRaised(); }, 100));
    QVERIFY(t.elapsed() >= 99);
    QVERIFY(t.elapsed() < 5000);
    // Already done: no wait at all.
    flag.raise();
    t.restart();
    QVERIFY(bench::waitFor(
        &flag, &bench::Flag::raised, [&] { return flag.isRaised(); }, 5000));
    QVERIFY(t.elapsed() < 100);
}

void BenchMeasureTest::settleRunsTheWorkThatPendingEventsPost()
{
    bool second = false;
    bool posted = false;
    QTimer::singleShot(0, [&] { QTimer::singleShot(0, [&] { second = true; }); });
    QObject receiver;
    QMetaObject::invokeMethod(
        &receiver, [&] { posted = true; }, Qt::QueuedConnection);
    bench::settle();
    QVERIFY(posted);
    QVERIFY(second);
}

void BenchMeasureTest::medianOfRuns_data()
{
    QTest::addColumn<QList<double>>("values");
    QTest::addColumn<double>("median");
    QTest::newRow("none") << QList<double>{} << 0.0;
    QTest::newRow("one") << QList<double>{7} << 7.0;
    QTest::newRow("odd count, unsorted") << QList<double>{9, 1, 5} << 5.0;
    QTest::newRow("even count: mean of the middle two") << QList<double>{4, 1, 3, 100} << 3.5;
    QTest::newRow("an outlier does not move it") << QList<double>{10, 11, 12, 5000, 10} << 11.0;
}

void BenchMeasureTest::medianOfRuns()
{
    QFETCH(QList<double>, values);
    QFETCH(double, median);
    QCOMPARE(bench::median(values), median);
}

QTEST_MAIN(BenchMeasureTest)
#include "benchmeasure_test.moc"
