// The pages beside the one shown are decoded ahead, for the cache alone. What
// that must never do: put a picture into a slot that shows another, go on for a
// directory the user left, or push the page's own thumbnails out of the cache.
#include "support/TestSupport.h"
#include "ui/chooser/DirChooser.h"
#include "ui/pages/Thumbnails.h"
#include "ui/window/Controls.h"
#include "ui/window/Twips.h"
#include "ui/window/Widgets.h"

#include "TestPictures.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

class PrefetchTest : public QObject {
    Q_OBJECT
private slots:
    void nextPageShowsItsDecodedPicturesInItsFirstFrame();
    void prefetchedPictureNeverLandsInAnotherSlot_data();
    void prefetchedPictureNeverLandsInAnotherSlot();
    void savedSwapDuringThePassKeepsEachPictureInItsSlot();
    void leavingTheDirectoryStopsItsPrefetch();
    void prefetchKeepsWithinTheCacheBudget();
};

namespace {

constexpr int Pictures = 75; // three pages of 25 slots in the designed window

Thumbnails &thumbnails(Form1 &form)
{
    return *form.findChild<Thumbnails *>();
}

QStringList names(int count, const QString &prefix = QStringLiteral("IMG"))
{
    QStringList n;
    for (int i = 0; i < count; ++i)
        n << QStringLiteral("%1_%2.jpg").arg(prefix).arg(i, 3, 10, QLatin1Char('0'));
    return n;
}

QImage rgb(const QImage &image)
{
    return image.convertToFormat(QImage::Format_RGB32);
}

// What slot i must show: the decoded picture of the file the slot shows now,
// made as the program makes it. A picture of another file differs.
QString wrongSlots(Form1 &form)
{
    const Controls &c = form.controls();
    QStringList wrong;
    for (int i = 0; i <= form.model().lastSlot(); ++i) {
        if (!form.model().isFilled(i))
            continue;
        const thumbs::Result own =
            thumbs::decodeFile(form.model().filePath(i), c.Picture1[i]->devicePixelSize());
        if (!own.ok() || rgb(c.Picture1[i]->picture().toImage()) != rgb(own.image))
            wrong << QString::number(i);
    }
    return wrong.join(QLatin1Char(' '));
}

// The pass of the page shown and the prefetch of its neighbours have ended.
bool waitIdle(Form1 &form)
{
    Thumbnails &t = thumbnails(form);
    QElapsedTimer clock;
    clock.start();
    while (!(t.isIdle() && !t.passRunning()) && clock.elapsed() < 20000)
        QTest::qWait(10);
    return t.isIdle() && !t.passRunning();
}

} // namespace

void PrefetchTest::nextPageShowsItsDecodedPicturesInItsFirstFrame()
{
    testing::FormFixture fx;
    testing::writePictures(fx.pictureDir.path(), names(Pictures));
    Form1 &form = fx.start();
    QCOMPARE(form.model().lastSlot(), 24);
    QVERIFY(waitIdle(form));

    QSignalSpy shown(&thumbnails(form), &Thumbnails::pictureShown);
    // click() runs the handler without the event loop: what the slots hold when
    // it returns is what the first frame of the new page shows.
    form.controls().NextBtn->click();
    QCOMPARE(form.model().pageIndex(), 1);
    QCOMPARE(shown.count(), 25);
    for (const QList<QVariant> &s : shown)
        QCOMPARE(s.at(1).toInt(), int(Thumbnails::Decoded));
    QCOMPARE(wrongSlots(form), QString());

    // And back again: the first page came from the cache, the third was made ahead.
    QVERIFY(waitIdle(form));
    shown.clear();
    form.controls().NextBtn->click();
    QCOMPARE(shown.count(), 25);
    QCOMPARE(wrongSlots(form), QString());
}

void PrefetchTest::prefetchedPictureNeverLandsInAnotherSlot_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("relayout to 53 slots") << "relayout";
    QTest::newRow("names of the next page swapped on disk, then re-read") << "swap";
    QTest::newRow("pictures of the next page replaced, then re-read") << "replace";
    QTest::newRow("names of the next page saved in the program") << "save";
}

void PrefetchTest::prefetchedPictureNeverLandsInAnotherSlot()
{
    QFETCH(QString, change);
    testing::FormFixture fx;
    const QStringList files = names(Pictures);
    testing::writePictures(fx.pictureDir.path(), files);
    testing::MessageBoxes boxes;
    Form1 &form = fx.start();
    const Controls &c = form.controls();
    QVERIFY(waitIdle(form)); // page 1 shown, page 2 made ahead
    QDir dir(fx.pictureDir.path());

    if (change == QLatin1String("relayout")) {
        twips::setWindowSize(&form, 90000, 26000);
        QCOMPARE(form.model().lastSlot(), 52);
    } else if (change == QLatin1String("swap")) {
        // Pictures 25 and 26, 30 and 40 change names: their thumbnails made
        // ahead belong to the files, not to the names.
        for (const auto &[a, b] : {std::pair{25, 26}, std::pair{30, 40}}) {
            QVERIFY(dir.rename(files.at(a), QStringLiteral("tmp.jpg")));
            QVERIFY(dir.rename(files.at(b), files.at(a)));
            QVERIFY(dir.rename(QStringLiteral("tmp.jpg"), files.at(b)));
        }
        QTest::mouseClick(c.Command5, Qt::LeftButton);
    } else if (change == QLatin1String("replace")) {
        // Other pictures under the same names (written over, and written anew).
        testing::writePictures(fx.pictureDir.path(), names(10, QStringLiteral("X")), QSize(48, 64));
        QVERIFY(dir.remove(files.at(27)));
        QVERIFY(dir.rename(QStringLiteral("X_000.jpg"), files.at(27)));
        QFile over(dir.filePath(files.at(28)));
        QVERIFY(over.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QFile other(dir.filePath(QStringLiteral("X_001.jpg")));
        QVERIFY(other.open(QIODevice::ReadOnly));
        over.write(other.readAll());
        over.close();
        QTest::mouseClick(c.Command5, Qt::LeftButton);
    } else {
        // Go to page 2 and swap two names by saving them.
        c.NextBtn->click();
        c.Text1[0]->setPlainText(form.model().name(1));
        c.Text1[1]->setPlainText(PageModel::shownName(files.at(25)));
        QTest::mouseClick(c.Speichern, Qt::LeftButton);
        QCOMPARE(boxes.shown().last().prompt, QStringLiteral("Alle Dateien sind umbenannt"));
    }
    QVERIFY(waitIdle(form));
    QCOMPARE(wrongSlots(form), QString());
    c.NextBtn->click();
    QVERIFY(waitIdle(form));
    QCOMPARE(wrongSlots(form), QString());
    c.ZurueckBtn->click();
    QVERIFY(waitIdle(form));
    QCOMPARE(wrongSlots(form), QString());
}

void PrefetchTest::savedSwapDuringThePassKeepsEachPictureInItsSlot()
{
    // Two pictures swap names by a save while their thumbnails are still being
    // made: each result must land in the slot of its file, not of its old name.
    testing::FormFixture fx;
    const QStringList files = names(25);
    testing::writePictures(fx.pictureDir.path(), files, QSize(1600, 1200));
    testing::MessageBoxes boxes;
    Form1 &form = fx.build();
    thumbnails(form).setPrefetchEnabled(false);
    thumbnails(form).setWorkers(1);
    form.Form_Load();
    const Controls &c = form.controls();
    QVERIFY(thumbnails(form).passRunning());
    c.Text1[20]->setPlainText(PageModel::shownName(files.at(21)));
    c.Text1[21]->setPlainText(PageModel::shownName(files.at(20)));
    QTest::mouseClick(c.Speichern, Qt::LeftButton);
    QCOMPARE(boxes.shown().last().prompt, QStringLiteral("Alle Dateien sind umbenannt"));
    QVERIFY(waitIdle(form));
    QCOMPARE(wrongSlots(form), QString());
}

void PrefetchTest::leavingTheDirectoryStopsItsPrefetch()
{
    testing::FormFixture fx;
    // Large, grainy pictures: a prefetch of the next page takes a while.
    const QString first = QDir(fx.pictureDir.path()).filePath(QStringLiteral("big_000.jpg"));
    testpics::CameraOptions o;
    o.noise = 40;
    QVERIFY(testpics::writeCameraPhoto(first, QSize(3000, 2000), 1, o));
    for (int i = 1; i < Pictures; ++i)
        QVERIFY(
            QFile::copy(first, QDir(fx.pictureDir.path())
                                   .filePath(QStringLiteral("big_%1.jpg").arg(i, 3, 10, QLatin1Char('0')))));
    QTemporaryDir empty;
    Form1 &form = fx.start();
    Thumbnails &t = thumbnails(form);
    QSignalSpy passDone(&t, &Thumbnails::passFinished);
    QVERIFY(passDone.wait(60000));
    QVERIFY(!t.isIdle()); // the next page is being made ahead

    // Another directory is taken: nothing more of the old one is decoded.
    QTest::mouseClick(form.controls().VerzeichnisWechseln, Qt::LeftButton);
    QVERIFY(form.findChild<DirChooser *>()->setPath(empty.path()));
    QTest::mouseClick(form.controls().PfadSpeichern, Qt::LeftButton);
    QCOMPARE(form.model().directory(), empty.path() + QLatin1Char('/'));
    QVERIFY(t.isIdle());
    const int cached = t.cache().count();
    // A decode that was running stops at its next read and gives its memory back.
    QTRY_COMPARE_WITH_TIMEOUT(t.budget().inUse(), qint64(0), 10000);
    QCoreApplication::processEvents();
    QCOMPARE(t.cache().count(), cached);
    QVERIFY(t.isIdle());
}

void PrefetchTest::prefetchKeepsWithinTheCacheBudget()
{
    testing::FormFixture fx;
    testing::writePictures(fx.pictureDir.path(), names(Pictures));
    // Thumbnails for 30 slots fit; the page has 25.
    Form1 &form = fx.build();
    Thumbnails &t = thumbnails(form);
    const QSize box = form.controls().Picture1[0]->devicePixelSize();
    const qint64 perThumbnail = qint64(box.width()) * box.height() * 4;
    t.cache().setMaxBytes(perThumbnail * 30 + perThumbnail / 2);
    form.Form_Load();
    QVERIFY(waitIdle(form));

    QVERIFY(t.cache().bytesUsed() <= t.cache().maxBytes());
    QCOMPARE(t.cache().count(), 30);
    // Only what fits is decoded: each file read for nothing is a whole
    // picture's worth of disk and processor taken from the user.
    QCOMPARE(t.loader().prefetchDecodes(), 5);
    // The page's own thumbnails are all still there.
    for (int i = 0; i < 25; ++i)
        QVERIFY2(!t.cache().find(thumbs::fileKey(form.model().filePath(i)), box).isNull(),
                 qPrintable(QString::number(i)));
}

QTEST_MAIN(PrefetchTest)
#include "prefetch_test.moc"
