// The thumbnail pass in a real window: placeholders, stale results, stopping and
// closing while pictures load, the check box and the re-read button.
#include "core/pages/PageModel.h"
#include "core/pictures/ThumbnailDecoder.h"
#include "core/platform/FileNames.h"
#include "core/platform/Priority.h"
#include "core/platform/SystemCalls.h"
#include "core/settings/Ini.h"
#include "support/TestSupport.h"
#include "ui/pages/PageView.h"
#include "ui/pages/Thumbnails.h"
#include "ui/window/Artwork.h"
#include "ui/window/Controls.h"
#include "ui/window/Launcher.h"
#include "ui/window/Widgets.h"

#include "TestPictures.h"

#include <QCheckBox>
#include <QLabel>
#include <QMutex>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSet>
#include <QtTest>
#include <fcntl.h>
#include <unistd.h>

namespace {

Thumbnails &thumbnails(Form1 &form)
{
    auto *t = form.findChild<Thumbnails *>();
    Q_ASSERT(t);
    return *t;
}

bool isPlaceholder(Form1 &form, int slot)
{
    const Controls &c = form.controls();
    return c.Picture1[slot]->picture().toImage() == artwork::placeholder().toImage();
}

QColor average(const QPixmap &p)
{
    return p.toImage().scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).pixelColor(0, 0);
}

bool reddish(const QColor &c)
{
    return c.red() > 150 && c.blue() < 100;
}
bool bluish(const QColor &c)
{
    return c.blue() > 150 && c.red() < 100;
}

// Writes one camera-like picture of a single colour and count copies of it.
void writeCopies(const QString &dir, const QString &prefix, int count, QSize size, QColor colour,
                 const testpics::CameraOptions &options = {})
{
    QImage img(size, QImage::Format_RGB32);
    img.fill(colour);
    const QByteArray bytes = testpics::cameraJpeg(img, options);
    QVERIFY(!bytes.isEmpty());
    for (int i = 0; i < count; ++i) {
        QFile f(QDir(dir).filePath(QStringLiteral("%1_%2.jpg").arg(prefix).arg(i, 3, 10, QLatin1Char('0'))));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
}

// Copies one large, grainy camera picture count times: slow enough to decode that
// a pass is still running when the test acts.
void writeLargeCopies(const QString &dir, int count)
{
    const QString first = QDir(dir).filePath(QStringLiteral("big_000.jpg"));
    testpics::CameraOptions o;
    o.thumbnailSize = QSize(); // only the slow second stage
    o.noise = 12;
    QVERIFY(testpics::writeCameraPhoto(first, QSize(3000, 2000), 5, o));
    for (int i = 1; i < count; ++i)
        QVERIFY(QFile::copy(
            first, QDir(dir).filePath(QStringLiteral("big_%1.jpg").arg(i, 3, 10, QLatin1Char('0')))));
}

int slotOf(Form1 &form, const QString &fileName)
{
    const PageModel &m = form.model();
    for (int i = 0; i <= m.lastSlot(); ++i)
        if (m.filePath(i).endsWith(QLatin1Char('/') + fileName))
            return i;
    return -1;
}

// Writes count copies of bytes named prefix_000.jpg ...
void writeFiles(const QString &dir, const QString &prefix, int count, const QByteArray &bytes)
{
    for (int i = 0; i < count; ++i) {
        QFile f(QDir(dir).filePath(QStringLiteral("%1_%2.jpg").arg(prefix).arg(i, 3, 10, QLatin1Char('0'))));
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(bytes), bytes.size());
    }
}

// The process's peak resident memory since the last resetPeakMemory(), in bytes.
qint64 peakMemory()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
    return -1;
}

// Sets the peak back to the memory in use now. Where the kernel cannot, the
// peak stays the whole run's, which only makes the bound harder to meet.
void resetPeakMemory()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

// What the whole program may take while a page of hostile or huge pictures loads.
constexpr qint64 PageMemoryBound = 1024ll * 1024 * 1024;

int placeholders(Form1 &form)
{
    int n = 0;
    for (int i = 0; i <= form.model().lastSlot(); ++i)
        if (!form.model().filePath(i).isEmpty() && isPlaceholder(form, i))
            ++n;
    return n;
}

} // namespace

namespace {
// The niceness of one of this process's threads, from /proc.
int niceOf(pid_t tid)
{
    QFile f(QStringLiteral("/proc/self/task/%1/stat").arg(tid));
    if (!f.open(QIODevice::ReadOnly))
        return -100;
    const QByteArray s = f.readAll();
    return s.mid(s.lastIndexOf(')') + 2).split(' ').value(16).toInt();
}
} // namespace

class ThumbnailsTest : public QObject {
    Q_OBJECT
private slots:
    void finalPictureOfEachPhoto_data();
    void finalPictureOfEachPhoto();
    void headFactsReachThePicturesRecord();
    void workersYieldToTheWindow_data();
    void workersYieldToTheWindow();
    void workersStandAsideWhileTheUserTypes();
    void pageChangeNeverShowsAPictureOfTheOldPage();
    void uncheckingStopsTheRunningPass();
    void closingMidPassEndsPromptly();
    void storedSettingZeroSkipsThePassAndIsNotRewritten();
    void checkBoxClickWritesTheSetting();
    void rereadKeepsThePageAndShowsTheNewList();
    void pagingBackIsServedFromTheCache();
    void firstStageShowsEmbeddedThumbnailBeforeTheDecode();
    void launchedWindowsFirstFrameShowsEachPictureInItsSlot();
    void pageOfBombsShowsPlaceholdersQuicklyWithinMemoryBound();
    void manyWorkersDecodingLargePicturesShareOneBudget();
    void nameThatIsNotUtf8ShowsItsPicture();
};

void ThumbnailsTest::finalPictureOfEachPhoto_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("placeholder");
    QTest::newRow("zero length") << "empty.jpg" << true;
    QTest::newRow("random bytes") << "random_garbage.jpg" << true;
    QTest::newRow("7-byte stub") << "5145e95a-02a8-11e7-8372-4787a7307ab8.jpg" << true;
    QTest::newRow("PNG named .jpg") << "jpg-size-6x6.jpg" << true;
    QTest::newRow("truncated progressive") << "truncated_jpeg.jpg" << true;
    // Its embedded thumbnail is intact and shows first; the damaged picture wins.
    QTest::newRow("truncated with good thumbnail")
        << "iptc-agency-photographer-example_truncated.jpg" << true;
    QTest::newRow("truncated phone file") << "ultrahdr.jpg" << true;
    QTest::newRow("65535 x 65535 header") << "max_size.jpg" << true;
    QTest::newRow("60000 x 45000 header") << "iptc-staff-photographer-example_huge-sof.jpg" << true;
    QTest::newRow("looping IFD, good picture") << "infinite_loop_exif.jpg" << false;
    QTest::newRow("camera picture") << "flower.jpg" << false;
    QTest::newRow("name with umlauts") << "Türklopfer – Straßenansicht.jpg" << false;
    QTest::newRow("CMYK") << "pil_sample_cmyk.jpg" << false;
    QTest::newRow("progressive") << "tower_progressive.jpg" << false;
}

void ThumbnailsTest::finalPictureOfEachPhoto()
{
    if (testing::photosDir().isEmpty())
        QSKIP("the camera pictures (../shared/testdata/photos) are not here");
    QFETCH(QString, file);
    QFETCH(bool, placeholder);
    testing::FormFixture fx;
    QVERIFY(
        QFile::copy(QDir(testing::photosDir()).filePath(file), QDir(fx.pictureDir.path()).filePath(file)));
    testing::writePictures(fx.pictureDir.path(), {QStringLiteral("zz_good.jpg")});
    fx.start();
    Thumbnails &t = thumbnails(*fx.form);
    QSignalSpy finished(&t, &Thumbnails::passFinished);
    if (t.passRunning())
        QVERIFY(finished.wait(10000));
    const int slot = slotOf(*fx.form, file);
    QVERIFY(slot >= 0);
    QCOMPARE(isPlaceholder(*fx.form, slot), placeholder);
    QVERIFY(!isPlaceholder(*fx.form, slotOf(*fx.form, QStringLiteral("zz_good.jpg"))));
    if (!placeholder) // made for the box's device pixels
        QCOMPARE(fx.form->controls().Picture1[slot]->picture().size(),
                 fx.form->controls().Picture1[slot]->devicePixelSize());
}

void ThumbnailsTest::headFactsReachThePicturesRecord()
{
    if (testing::photosDir().isEmpty())
        QSKIP("the camera pictures (../shared/testdata/photos) are not here");
    testing::FormFixture fx;
    for (const QString &file : {QStringLiteral("flower.jpg"), QStringLiteral("has-lens-info.jpg")})
        QVERIFY(QFile::copy(QDir(testing::photosDir()).filePath(file),
                            QDir(fx.pictureDir.path()).filePath(file)));
    testing::writePictures(fx.pictureDir.path(), {QStringLiteral("plain.jpg")});
    fx.start();
    Thumbnails &t = thumbnails(*fx.form);
    QSignalSpy finished(&t, &Thumbnails::passFinished);
    if (t.passRunning())
        QVERIFY(finished.wait(10000));
    const QList<pages::Picture> &records = fx.form->model().pictures();
    QCOMPARE(records.size(), 3);
    // In list order: flower, has-lens-info, plain.
    QVERIFY(records.at(0).head && records.at(1).head && records.at(2).head);
    QCOMPARE(records.at(0).head->dateTimeOriginal, QStringLiteral("2003:12:14 12:01:44"));
    QCOMPARE(records.at(1).head->orientation, 6);
    QCOMPARE(records.at(1).head->dateTimeOriginal, QStringLiteral("2014:09:01 15:03:47"));
    QCOMPARE(records.at(2).head->dateTimeOriginal, QString());
}

void ThumbnailsTest::workersYieldToTheWindow_data()
{
    QTest::addColumn<bool>("refused");
    QTest::newRow("lowered") << false;
    QTest::newRow("system refuses") << true;
}

void ThumbnailsTest::workersYieldToTheWindow()
{
    QFETCH(bool, refused);
    QMutex lock;
    QSet<pid_t> lowered;
    platform::SystemCalls calls = platform::realSystemCalls();
    const auto real = calls.setThreadNiceness;
    calls.setThreadNiceness = [&](pid_t tid, int niceness) {
        QMutexLocker l(&lock);
        lowered.insert(tid);
        if (refused) {
            errno = EPERM;
            return -1;
        }
        return real(tid, niceness);
    };
    platform::setSystemCalls(calls);
    const auto restore = qScopeGuard([] { platform::resetSystemCalls(); });
    testing::FormFixture fx;
    testing::writePictures(fx.pictureDir.path(),
                           {QStringLiteral("a.jpg"), QStringLiteral("b.jpg"), QStringLiteral("c.jpg")});
    fx.start();
    Thumbnails &t = thumbnails(*fx.form);
    QSignalSpy shown(&t, &Thumbnails::pictureShown);
    QSignalSpy finished(&t, &Thumbnails::passFinished);
    if (t.passRunning())
        QVERIFY2(finished.wait(10000), "the pass did not end within 10 s");
    // Every picture decoded, whether or not the system let the workers yield.
    QSet<int> decoded;
    for (const QList<QVariant> &s : shown)
        if (s.at(1).toInt() == Thumbnails::Decoded)
            decoded.insert(s.at(0).toInt());
    QCOMPARE(decoded, (QSet<int>{0, 1, 2}));
    QMutexLocker l(&lock);
    QVERIFY(!lowered.isEmpty());
    // The window's own thread keeps its weight.
    QVERIFY(!lowered.contains(pid_t(gettid())));
    QCOMPARE(niceOf(pid_t(gettid())), 0);
    for (const pid_t tid : std::as_const(lowered))
        if (QFileInfo::exists(QStringLiteral("/proc/self/task/%1").arg(tid)))
            QCOMPARE(niceOf(tid), refused ? 0 : platform::WorkerNiceness);
}

void ThumbnailsTest::workersStandAsideWhileTheUserTypes()
{
    // How long a worker's next read waits, as the window stands now.
    const auto workerWaitMs = [] {
        QElapsedTimer t;
        t.start();
        platform::standAsideForTheUser();
        return t.elapsed();
    };
    testing::FormFixture fx;
    testing::writePictures(fx.pictureDir.path(), {QStringLiteral("a.jpg")});
    fx.start();
    QTRY_VERIFY(thumbnails(*fx.form).isIdle());
    QVERIFY(workerWaitMs() < 20);
    // A key typed into a name box: the workers wait until the user pauses.
    QTest::keyClick(fx.form->controls().Text1[0], Qt::Key_A);
    const qint64 waited = workerWaitMs();
    QVERIFY2(waited >= platform::QuietAfterInputMs / 2 && waited < 3 * platform::QuietAfterInputMs,
             qPrintable(QString::number(waited)));
    QVERIFY(workerWaitMs() < 20);
    // Only a worker's decode pauses at its reads; one on this thread never does.
    const QString picture = fx.form->model().filePath(0);
    const QSize box(64, 48);
    for (const bool worker : {false, true}) {
        QTest::keyClick(fx.form->controls().Text1[0], Qt::Key_B);
        QElapsedTimer t;
        t.start();
        thumbs::DecodeControl control;
        control.standAside = worker;
        QVERIFY(thumbs::decodeFile(picture, box, control).ok());
        QCOMPARE(t.elapsed() >= platform::QuietAfterInputMs / 2, worker);
        platform::standAsideForTheUser();
    }
    // A click that asks for another pass does not hold that pass back.
    QTest::mouseClick(fx.form->controls().ReloadBUtton, Qt::LeftButton);
    QVERIFY(workerWaitMs() < 20);
}

void ThumbnailsTest::pageChangeNeverShowsAPictureOfTheOldPage()
{
    testing::FormFixture fx;
    // The first 53 pictures are red, the next 53 blue, embedded thumbnails alike;
    // the test goes from the first page to a page of blue ones.
    writeCopies(fx.pictureDir.path(), QStringLiteral("a"), 53, QSize(2400, 1800), Qt::red);
    writeCopies(fx.pictureDir.path(), QStringLiteral("b"), 53, QSize(2400, 1800), Qt::blue);
    fx.start();
    Form1 &form = *fx.form;
    Thumbnails &t = thumbnails(form);
    QVERIFY(t.passRunning());

    bool onSecondPage = false;
    QStringList wrong;
    connect(&t, &Thumbnails::pictureShown, this, [&](int slot, int stage) {
        if (!onSecondPage || stage == Thumbnails::Placeholder)
            return;
        const QColor c = average(form.controls().Picture1[slot]->picture());
        if (!bluish(c))
            wrong << QStringLiteral("slot %1 stage %2 shows %3").arg(slot).arg(stage).arg(c.name());
    });
    // Change the page as soon as the first pictures of page 1 arrive, while the
    // workers still have most of it queued or in hand.
    QSignalSpy shown(&t, &Thumbnails::pictureShown);
    QVERIFY(shown.wait(10000));
    const int firstSlot = shown.first().at(0).toInt();
    QVERIFY(reddish(average(form.controls().Picture1[firstSlot]->picture())));
    // Keep the GUI thread busy for a moment, as a slow event would: the workers
    // queue further results of page 1, which arrive after the page has changed.
    QThread::msleep(50);
    onSecondPage = true;
    const int pageSize = form.model().lastSlot() + 1;
    QVERIFY(pageSize > 0);
    form.model().setPageIndex((53 + pageSize - 1) / pageSize);
    form.model().showPage(true);
    for (int i = 0; i < pageSize; ++i)
        QVERIFY(isPlaceholder(form, i));

    QSignalSpy finished(&t, &Thumbnails::passFinished);
    QVERIFY(finished.wait(20000));
    // Let any straggler of the old page arrive and be dropped.
    QTest::qWait(100);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QLatin1String("; "))));
    for (int i = 0; i < pageSize; ++i) {
        const QColor c = average(form.controls().Picture1[i]->picture());
        QVERIFY2(bluish(c), qPrintable(QStringLiteral("slot %1: %2").arg(i).arg(c.name())));
    }
}

void ThumbnailsTest::uncheckingStopsTheRunningPass()
{
    testing::FormFixture fx;
    writeLargeCopies(fx.pictureDir.path(), 53);
    fx.start();
    Form1 &form = *fx.form;
    Thumbnails &t = thumbnails(form);
    QSignalSpy shown(&t, &Thumbnails::pictureShown);
    QVERIFY(shown.wait(10000));

    QCheckBox *box = form.controls().BilderAnzeigen;
    QTest::mouseClick(box, Qt::LeftButton, {}, box->rect().center());
    QVERIFY(!box->isChecked());
    QVERIFY(!t.passRunning());
    const int shownBefore = int(shown.size());
    QVERIFY(!shown.wait(300)); // nothing lands after the box was unchecked
    QCOMPARE(int(shown.size()), shownBefore);
    QVERIFY2(placeholders(form) > 0, "every slot was drawn: the pass did not stop");
    QCOMPARE(ini::IniRead(QStringLiteral("Einstellungen"), QStringLiteral("BilderAnzeigen"), fx.iniPath(),
                          QString()),
             QStringLiteral("0"));
}

void ThumbnailsTest::closingMidPassEndsPromptly()
{
    testing::FormFixture fx;
    writeLargeCopies(fx.pictureDir.path(), 53);
    fx.start();
    Thumbnails &t = thumbnails(*fx.form);
    QSignalSpy shown(&t, &Thumbnails::pictureShown);
    QVERIFY(shown.wait(10000));

    QVERIFY(fx.form->close());
    QVERIFY(fx.form->isClosing());
    QVERIFY(!t.passRunning());
    const int shownBefore = int(shown.size());
    QVERIFY(!shown.wait(200));
    QCOMPARE(int(shown.size()), shownBefore);
    QVERIFY(placeholders(*fx.form) > 0);

    // The window goes without waiting for the rest of the page; a hang here would
    // keep the process from ending.
    QElapsedTimer timer;
    timer.start();
    fx.form.reset();
    QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
}

void ThumbnailsTest::storedSettingZeroSkipsThePassAndIsNotRewritten()
{
    testing::FormFixture fx;
    testing::writePictures(fx.pictureDir.path(), {QStringLiteral("a.jpg"), QStringLiteral("b.jpg")});
    fx.writeSettings(QStringLiteral("[Einstellungen]\nBilderAnzeigen=0\n"));
    fx.start();
    Form1 &form = *fx.form;
    QVERIFY(!form.controls().BilderAnzeigen->isChecked());
    QVERIFY(!thumbnails(form).passRunning());
    QSignalSpy shown(&thumbnails(form), &Thumbnails::pictureShown);
    QVERIFY(!shown.wait(200));
    QCOMPARE(placeholders(form), 2);
    // Checking the box draws nothing until the next display that reloads.
    form.controls().BilderAnzeigen->click();
    QVERIFY(!shown.wait(200));
    QCOMPARE(placeholders(form), 2);
    form.model().showPage(true);
    QTRY_COMPARE_WITH_TIMEOUT(placeholders(form), 0, 10000);
}

void ThumbnailsTest::checkBoxClickWritesTheSetting()
{
    testing::FormFixture fx;
    testing::writePictures(fx.pictureDir.path(), {QStringLiteral("a.jpg")});
    fx.start();
    Form1 &form = *fx.form;
    QCheckBox *box = form.controls().BilderAnzeigen;
    const auto stored = [&] {
        return ini::IniRead(QStringLiteral("Einstellungen"), QStringLiteral("BilderAnzeigen"), fx.iniPath(),
                            QStringLiteral("missing"));
    };
    // Filling the page set the box from the settings without writing them.
    QCOMPARE(stored(), QStringLiteral("missing"));
    box->click();
    QCOMPARE(stored(), QStringLiteral("0"));
    box->click();
    QCOMPARE(stored(), QStringLiteral("1"));
    // Hidden too, the setting follows the box: the two never disagree, and
    // the next display shows what the box last said.
    box->hide();
    box->click();
    QCOMPARE(stored(), QStringLiteral("0"));
    QVERIFY(!form.settings().bilderAnzeigen());
    form.model().showPage(true);
    QVERIFY(!box->isChecked());
    QVERIFY(!thumbnails(form).passRunning());
}

void ThumbnailsTest::rereadKeepsThePageAndShowsTheNewList()
{
    testing::FormFixture fx;
    testing::writePictures(fx.pictureDir.path(), {QStringLiteral("p000.jpg")});
    fx.start();
    Form1 &form = *fx.form;
    // A second page of three pictures, then five more appear on disk.
    const int pageSize = form.model().lastSlot() + 1;
    QStringList names;
    for (int i = 1; i < pageSize + 3; ++i)
        names << QStringLiteral("p%1.jpg").arg(i, 3, 10, QLatin1Char('0'));
    testing::writePictures(fx.pictureDir.path(), names);
    QTest::mouseClick(form.controls().Command5, Qt::LeftButton);
    form.model().setPageIndex(1);
    form.model().showPage(true);
    QCOMPARE(form.model().filePath(3), QString());
    names.clear();
    for (int i = pageSize + 3; i < pageSize + 8; ++i)
        names << QStringLiteral("p%1.jpg").arg(i, 3, 10, QLatin1Char('0'));
    testing::writePictures(fx.pictureDir.path(), names);

    QTest::mouseClick(form.controls().Command5, Qt::LeftButton);
    QCOMPARE(form.model().pageIndex(), 1);
    QCOMPARE(form.model().fileCount(), pageSize + 8);
    QVERIFY(form.model().filePath(7).endsWith(names.last()));
    QVERIFY(form.model().filePath(8).isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(placeholders(form), 0, 10000);
}

void ThumbnailsTest::pagingBackIsServedFromTheCache()
{
    testing::FormFixture fx;
    writeCopies(fx.pictureDir.path(), QStringLiteral("c"), 10, QSize(800, 600), Qt::green);
    fx.start();
    Form1 &form = *fx.form;
    Thumbnails &t = thumbnails(form);
    QSignalSpy finished(&t, &Thumbnails::passFinished);
    if (t.passRunning())
        QVERIFY(finished.wait(10000));
    finished.clear();
    QSignalSpy shown(&t, &Thumbnails::pictureShown);
    form.model().showPage(true);
    // Every picture is back before the display returns: nothing was decoded again.
    QCOMPARE(int(shown.size()), 10);
    QCOMPARE(int(finished.size()), 1);
    QVERIFY(!t.passRunning());
    QCOMPARE(placeholders(form), 0);
}

void ThumbnailsTest::firstStageShowsEmbeddedThumbnailBeforeTheDecode()
{
    testing::FormFixture fx;
    writeCopies(fx.pictureDir.path(), QStringLiteral("d"), 5, QSize(1600, 1200), Qt::yellow);
    fx.start();
    Thumbnails &t = thumbnails(*fx.form);
    QMap<int, QList<int>> stages;
    connect(&t, &Thumbnails::pictureShown, this, [&](int slot, int stage) { stages[slot] << stage; });
    QSignalSpy finished(&t, &Thumbnails::passFinished);
    QVERIFY(finished.wait(10000));
    QCOMPARE(stages.size(), 5);
    for (auto it = stages.cbegin(); it != stages.cend(); ++it)
        QCOMPARE(it.value().last(), int(Thumbnails::Decoded));
    // The first stage of every slot was queued ahead of all second stages.
    int firstEmbedded = 0;
    for (auto it = stages.cbegin(); it != stages.cend(); ++it)
        firstEmbedded += it.value().first() == Thumbnails::Embedded ? 1 : 0;
    QVERIFY(firstEmbedded >= 4);
}

void ThumbnailsTest::launchedWindowsFirstFrameShowsEachPictureInItsSlot()
{
    // The program's start: the window shows itself once the embedded thumbnails
    // are in, each in its own slot. A file without one, or one that cannot be
    // read, does not hold the window back; the decodes wait for the first frame.
    testing::FormFixture fx;
    const QList<QColor> colours = {Qt::red, Qt::green, Qt::blue, Qt::yellow, Qt::cyan, Qt::magenta};
    for (int i = 0; i < colours.size(); ++i)
        writeCopies(fx.pictureDir.path(), QStringLiteral("c%1").arg(i), 1, QSize(800, 600), colours[i]);
    testpics::CameraOptions bare;
    bare.thumbnailSize = QSize();
    writeCopies(fx.pictureDir.path(), QStringLiteral("none"), 1, QSize(800, 600), Qt::gray, bare);
    writeFiles(fx.pictureDir.path(), QStringLiteral("damaged"), 1, QByteArray("\xff\xd8\xff"));
    // Each result comes a little later than the window could show itself.
    thumbs::ThumbnailLoader::beforeHandOver = [] { QThread::msleep(5); };
    const auto restore = qScopeGuard([] { thumbs::ThumbnailLoader::beforeHandOver = nullptr; });

    Launcher launcher(fx.options());
    Form1 *form = nullptr;
    QList<int> stages;
    connect(&launcher, &Launcher::built, this, [&] {
        form = launcher.form();
        connect(&thumbnails(*form), &Thumbnails::pictureShown, this,
                [&](int, int stage) { stages << stage; });
    });
    QSignalSpy loaded(&launcher, &Launcher::loaded);
    bool shownWithPictures = false;
    connect(&launcher, &Launcher::loaded, this, [&] {
        shownWithPictures = form->isVisible() && !stages.contains(int(Thumbnails::Decoded));
        for (int i = 0; i < colours.size(); ++i) {
            const int slot = slotOf(*form, QStringLiteral("c%1_000.jpg").arg(i));
            const QColor seen = average(form->controls().Picture1[slot]->picture());
            shownWithPictures = shownWithPictures && !isPlaceholder(*form, slot) &&
                                qAbs(seen.hsvHue() - colours[i].hsvHue()) <= 6;
        }
        shownWithPictures =
            shownWithPictures && isPlaceholder(*form, slotOf(*form, QStringLiteral("none_000.jpg")));
    });
    launcher.start();
    QVERIFY(loaded.wait(10000));
    QVERIFY(shownWithPictures);
    // Then the decodes come.
    QSignalSpy finished(&thumbnails(*form), &Thumbnails::passFinished);
    QVERIFY(finished.wait(10000));
    QVERIFY(!isPlaceholder(*form, slotOf(*form, QStringLiteral("none_000.jpg"))));
}

void ThumbnailsTest::pageOfBombsShowsPlaceholdersQuicklyWithinMemoryBound()
{
    testing::FormFixture fx;
    // 450 KB files claiming 30000 x 30000 progressive: each would take 2.7 GB.
    writeFiles(fx.pictureDir.path(), QStringLiteral("bomb"), 53,
               testpics::decompressionBomb(QSize(30000, 30000), 450 * 1024));
    resetPeakMemory();
    QElapsedTimer timer;
    timer.start();
    fx.start();
    Thumbnails &t = thumbnails(*fx.form);
    QSignalSpy finished(&t, &Thumbnails::passFinished);
    if (t.passRunning())
        QVERIFY(finished.wait(10000));
    const qint64 elapsed = timer.elapsed();
    const qint64 peak = peakMemory();
    QVERIFY2(peak > 0 && peak < PageMemoryBound, qPrintable(QString::number(peak)));
    QVERIFY2(elapsed < 5000, qPrintable(QString::number(elapsed)));
    QCOMPARE(placeholders(*fx.form), fx.form->model().lastSlot() + 1);
    QCOMPARE(t.budget().inUse(), 0);
}

void ThumbnailsTest::manyWorkersDecodingLargePicturesShareOneBudget()
{
    testing::FormFixture fx;
    // Each takes about 185 MB to decode (8000 x 8000 progressive, kept as
    // coefficients); eight at once would take 1.5 GB.
    writeFiles(fx.pictureDir.path(), QStringLiteral("large"), 12,
               testpics::decompressionBomb(QSize(8000, 8000), 100 * 1024));
    fx.writeSettings(QStringLiteral("[Einstellungen]\nBilderAnzeigen=0\n"));
    fx.start();
    Form1 &form = *fx.form;
    Thumbnails &t = thumbnails(form);
    // As on a machine of eight cores.
    t.setWorkers(8);
    form.controls().BilderAnzeigen->click();
    QMap<int, int> stages;
    connect(&t, &Thumbnails::pictureShown, this, [&](int slot, int stage) { stages[slot] = stage; });
    QSignalSpy finished(&t, &Thumbnails::passFinished);
    resetPeakMemory();
    form.model().showPage(true);
    QVERIFY(t.passRunning());
    QVERIFY(finished.wait(60000));
    const qint64 peak = peakMemory();
    QVERIFY2(peak > 0 && peak < PageMemoryBound, qPrintable(QString::number(peak)));
    // Every picture was decoded, none refused for want of memory.
    QCOMPARE(stages.size(), 12);
    for (auto it = stages.cbegin(); it != stages.cend(); ++it)
        QCOMPARE(it.value(), int(Thumbnails::Decoded));
    QCOMPARE(t.budget().inUse(), 0);
}

void ThumbnailsTest::nameThatIsNotUtf8ShowsItsPicture()
{
    testing::FormFixture fx;
    // "Grüße.jpg" as a Latin-1 system or an old camera writes it.
    const QByteArray name("Gr\xFC\xDF"
                          "e.jpg");
    QImage img(800, 600, QImage::Format_RGB32);
    img.fill(Qt::red);
    const QByteArray bytes = testpics::cameraJpeg(img);
    const QByteArray path = platform::encodeName(fx.pictureDir.path()) + '/' + name;
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    QVERIFY(fd >= 0);
    QCOMPARE(::write(fd, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
    ::close(fd);
    testing::writePictures(fx.pictureDir.path(), {QStringLiteral("zz_good.jpg")});
    fx.start();
    Thumbnails &t = thumbnails(*fx.form);
    QMap<int, int> stages;
    connect(&t, &Thumbnails::pictureShown, this, [&](int slot, int stage) { stages[slot] = stage; });
    QSignalSpy finished(&t, &Thumbnails::passFinished);
    if (t.passRunning())
        QVERIFY(finished.wait(10000));
    const int slot = slotOf(*fx.form, platform::decodeName(name));
    QVERIFY(slot >= 0);
    QVERIFY(!isPlaceholder(*fx.form, slot));
    QCOMPARE(stages.value(slot), int(Thumbnails::Decoded));
    QVERIFY(reddish(average(fx.form->controls().Picture1[slot]->picture())));
}

QTEST_MAIN(ThumbnailsTest)
#include "thumbnails_test.moc"
