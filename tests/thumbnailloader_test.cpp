#include "core/pictures/ThumbnailLoader.h"

#include "TestPictures.h"

#include <QFile>
#include <QScopeGuard>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <sys/stat.h>

// The loader's hand-over between its workers and the page: what a worker made
// for a pass that another pass replaced must never reach the page.
class ThumbnailLoaderTest : public QObject {
    Q_OBJECT
private slots:
    void resultOfAReplacedPassNeverArrives();
    void fifoUnderAPicturesNameNeitherHangsThePassNorTheEnd();
    void heldDecodesFollowTheFirstStageAndEveryHeadArrives();
};

namespace {
QString writeColoured(const QTemporaryDir &dir, const QString &name, Qt::GlobalColor colour)
{
    QImage image(640, 480, QImage::Format_RGB32);
    image.fill(colour);
    const QString path = dir.filePath(name);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(testpics::cameraJpeg(image));
    return path;
}
} // namespace

void ThumbnailLoaderTest::resultOfAReplacedPassNeverArrives()
{
    QTemporaryDir dir;
    const QString red = writeColoured(dir, QStringLiteral("red.jpg"), Qt::red);
    const QString blue = writeColoured(dir, QStringLiteral("blue.jpg"), Qt::blue);
    // The first hand-over waits, after its pass was last seen running, until
    // the next pass has begun.
    QSemaphore held;
    QSemaphore go;
    std::atomic_bool first{true};
    thumbs::ThumbnailLoader::beforeHandOver = [&] {
        if (first.exchange(false)) {
            held.release();
            go.tryAcquire(1, 10000);
        }
    };
    const auto restore = qScopeGuard([&] {
        go.release();
        thumbs::ThumbnailLoader::beforeHandOver = nullptr;
    });
    thumbs::ThumbnailLoader loader;
    QList<QPair<quint64, QRgb>> shown;
    connect(&loader, &thumbs::ThumbnailLoader::pictureReady, this,
            [&](quint64 generation, int, thumbs::Stage, const QImage &image) {
                shown.append({generation, image.isNull() ? 0 : image.pixel(image.rect().center())});
            });
    QSignalSpy finished(&loader, &thumbs::ThumbnailLoader::passFinished);
    const QSize box(160, 120);
    loader.start(1, {{red, thumbs::fileKey(red), box}});
    QVERIFY2(held.tryAcquire(1, 10000), "no worker reached the hand-over");
    loader.start(2, {{blue, thumbs::fileKey(blue), box}});
    go.release();
    QVERIFY2(finished.wait(10000), "the second pass did not finish");
    QVERIFY(!shown.isEmpty());
    for (const auto &[generation, pixel] : std::as_const(shown)) {
        QCOMPARE(generation, quint64(2));
        QVERIFY2(qBlue(pixel) > 200 && qRed(pixel) < 60, qPrintable(QString::number(pixel, 16)));
    }
}

void ThumbnailLoaderTest::heldDecodesFollowTheFirstStageAndEveryHeadArrives()
{
    QTemporaryDir dir;
    const QSize box(160, 120);
    QList<thumbs::ThumbnailLoader::Picture> pictures;
    for (const auto &[name, colour] :
         {std::pair{"a.jpg", Qt::red}, {"b.jpg", Qt::green}, {"c.jpg", Qt::blue}}) {
        const QString path = writeColoured(dir, QString::fromLatin1(name), colour);
        pictures << thumbs::ThumbnailLoader::Picture{path, thumbs::fileKey(path), box};
    }
    // A picture gone since the listing settles its first stage too.
    pictures << thumbs::ThumbnailLoader::Picture{dir.filePath(QStringLiteral("gone.jpg")), {}, box};

    for (const bool held : {true, false}) {
        // Unheld, the first hand-over (a first stage) comes last, after every decode.
        std::atomic_bool first{!held};
        thumbs::ThumbnailLoader::beforeHandOver = [&] {
            if (first.exchange(false))
                QThread::msleep(300);
        };
        const auto restore = qScopeGuard([] { thumbs::ThumbnailLoader::beforeHandOver = nullptr; });
        thumbs::ThumbnailLoader loader;
        QList<thumbs::Stage> stages;
        int heads = 0;
        connect(&loader, &thumbs::ThumbnailLoader::pictureReady, this,
                [&](quint64, int, thumbs::Stage stage, const QImage &) { stages << stage; });
        connect(&loader, &thumbs::ThumbnailLoader::headRead, this, [&] { ++heads; });
        QSignalSpy firstStage(&loader, &thumbs::ThumbnailLoader::firstStageFinished);
        QSignalSpy finished(&loader, &thumbs::ThumbnailLoader::passFinished);
        if (held)
            loader.holdDecodes();
        loader.start(1, pictures);
        if (held) {
            QVERIFY(firstStage.wait(10000));
            QVERIFY(loader.firstStageDone());
            QCOMPARE(stages, QList<thumbs::Stage>(3, thumbs::Stage::Embedded));
            QVERIFY(!finished.wait(100));
            loader.releaseDecodes();
        }
        QVERIFY(finished.count() == 1 || finished.wait(10000));
        QCOMPARE(firstStage.count(), 1);
        QCOMPARE(heads, 3);
        QCOMPARE(stages.count(thumbs::Stage::Decoded), 3);
    }
}

void ThumbnailLoaderTest::fifoUnderAPicturesNameNeitherHangsThePassNorTheEnd()
{
    QTemporaryDir dir;
    const QString picture = writeColoured(dir, QStringLiteral("a.jpg"), Qt::green);
    // Another program put a FIFO where a listed picture was; nobody writes to it.
    const QString fifo = dir.filePath(QStringLiteral("b.jpg"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QElapsedTimer clock;
    clock.start();
    {
        thumbs::ThumbnailLoader loader;
        QSignalSpy finished(&loader, &thumbs::ThumbnailLoader::passFinished);
        QList<int> placeholders;
        connect(&loader, &thumbs::ThumbnailLoader::pictureReady, this,
                [&](quint64, int index, thumbs::Stage stage, const QImage &) {
                    if (stage == thumbs::Stage::Placeholder)
                        placeholders << index;
                });
        const QSize box(160, 120);
        loader.start(1, {{fifo, thumbs::FileKey{}, box}, {picture, thumbs::fileKey(picture), box}});
        QVERIFY2(finished.wait(1000), "the pass did not end within a second");
        QCOMPARE(placeholders, QList<int>{0});
        loader.start(2, {{fifo, thumbs::FileKey{}, box}});
    }
    QVERIFY2(clock.elapsed() < 1000, "the loader did not end within a second");
}

QTEST_MAIN(ThumbnailLoaderTest)
#include "thumbnailloader_test.moc"
