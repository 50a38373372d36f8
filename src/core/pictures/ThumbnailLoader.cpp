#include "core/pictures/ThumbnailLoader.h"

#include "core/platform/Priority.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <QTimer>
#include <utility>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace thumbs {

std::function<void()> ThumbnailLoader::beforeHandOver;

namespace {
// Queued ahead of every second stage, so every picture shows something quickly.
constexpr int EmbeddedPriority = 1;
constexpr int DecodedPriority = 0;
// Results are handed on for this long at a time; then the event loop gets its
// input, timers and painting before the next batch.
constexpr qint64 DrainBudgetMs = 4;
} // namespace

ThumbnailLoader::ThumbnailLoader(QObject *parent) : QObject(parent)
{
#if defined(__GLIBC__)
    // A picture read whole, and the decoder's larger buffers, are mapped of
    // their own and given back when freed. Without a fixed threshold glibc
    // raises it each time it frees such a block, after which they come from the
    // arena of each worker thread and stay there: with four threads, tens of
    // megabytes the program holds for nothing.
    static const bool fixed = mallopt(M_MMAP_THRESHOLD, 1024 * 1024) == 1;
    Q_UNUSED(fixed);
#endif
    // The caller's thread stays free: the pool gets the cores.
    m_pool.setMaxThreadCount(qMax(1, QThread::idealThreadCount()));
    m_pool.setObjectName(QStringLiteral("thumbnails"));
    // A prefetch decodes only while nothing else wants a processor: the window's
    // thread, the page's own pass and other programs come first.
    m_prefetchPool.setMaxThreadCount(qMax(1, QThread::idealThreadCount()));
    m_prefetchPool.setThreadPriority(QThread::IdlePriority);
    m_prefetchPool.setObjectName(QStringLiteral("prefetch"));
}

ThumbnailLoader::~ThumbnailLoader()
{
    cancel();
    m_pool.waitForDone();
    m_prefetchPool.waitForDone();
}

void ThumbnailLoader::setWorkers(int count)
{
    m_pool.setMaxThreadCount(qMax(1, count));
    m_prefetchPool.setMaxThreadCount(qMax(1, count));
}

void ThumbnailLoader::cancel()
{
    stopPrefetch();
    if (!m_pass)
        return;
    m_pass->cancelled = true;
    // Decodes waiting for memory give up; running ones stop at their next read.
    m_budget.wakeWaiters();
    m_pool.clear();
    m_pass.reset();
    m_pictures.clear();
    m_shown.clear();
    m_firstStageSeen.clear();
    m_firstStageLeft = 0;
    m_outstanding = 0;
    m_heldDecodes = nullptr;
    const QMutexLocker lock(&m_inboxMutex);
    m_inbox.clear();
}

void ThumbnailLoader::start(quint64 generation, const QList<Picture> &pictures)
{
    cancel();
    // Whatever showed another page wants its pictures now.
    platform::workAskedFor();
    m_generation = generation;
    QList<int> toDecode;
    for (int i = 0; i < pictures.size(); ++i) {
        const QImage cached = m_cache.find(pictures.at(i).key, pictures.at(i).box);
        if (!cached.isNull())
            emit pictureReady(generation, i, Stage::Decoded, cached);
        else
            toDecode << i;
    }
    if (toDecode.isEmpty()) {
        emit passFinished(generation);
        return;
    }

    auto pass = std::make_shared<Pass>();
    m_pass = pass;
    m_pictures = pictures;
    m_shown = QList<Stage>(pictures.size(), Stage::Placeholder);
    // A cached picture is settled already.
    m_firstStageSeen = QList<bool>(pictures.size(), true);
    for (const int n : toDecode)
        m_firstStageSeen[n] = false;
    m_firstStageLeft = int(toDecode.size());
    m_outstanding = 2 * int(toDecode.size());
    for (const int n : toDecode) {
        const Picture p = pictures.at(n);
        m_pool.start(
            [this, pass, n, p] {
                platform::lowerThisThread();
                platform::standAsideForTheUser();
                if (pass->cancelled)
                    return;
                // Whatever the head holds, the answer goes back: the window
                // may be waiting for every first stage before it shows itself.
                QFile file;
                Delivery d{pass, n, Stage::Embedded, Result{Status::Unreadable, {}}, std::nullopt};
                // Only the file the pass was asked for: one renamed in the
                // meantime may have left its name to another picture.
                if (exif::openPicture(file, p.path) == 0 && fileKeyOf(file.handle()) == p.key) {
                    const exif::FileHead head = exif::readHead(file);
                    d.result = fromEmbedded(head, p.box);
                    // What the head told goes back also when it holds no thumbnail.
                    d.head = exif::factsOf(head.info);
                }
                if (!pass->cancelled) {
                    if (beforeHandOver)
                        beforeHandOver();
                    post(std::move(d));
                }
            },
            EmbeddedPriority);
    }
    m_heldDecodes = [this, pass, toDecode] { queueDecodes(pass, toDecode); };
    if (!m_decodesHeld)
        std::exchange(m_heldDecodes, nullptr)();
}

void ThumbnailLoader::holdDecodes()
{
    m_decodesHeld = true;
}

void ThumbnailLoader::releaseDecodes()
{
    m_decodesHeld = false;
    if (m_heldDecodes)
        std::exchange(m_heldDecodes, nullptr)();
}

void ThumbnailLoader::queueDecodes(const std::shared_ptr<Pass> &pass, const QList<int> &toDecode)
{
    for (const int n : toDecode) {
        const Picture p = m_pictures.at(n);
        m_pool.start(
            [this, pass, n, p] {
                platform::lowerThisThread();
                platform::standAsideForTheUser();
                if (pass->cancelled)
                    return;
                Result r = decodeFile(p.path, p.box, {&m_budget, &pass->cancelled, &p.key, true});
                if (!pass->cancelled) {
                    if (beforeHandOver)
                        beforeHandOver();
                    post(Delivery{pass, n, Stage::Decoded, std::move(r), std::nullopt});
                }
            },
            DecodedPriority);
    }
}

void ThumbnailLoader::prefetch(const QList<Picture> &pictures)
{
    stopPrefetch();
    auto prefetch = std::make_shared<Pass>();
    m_prefetch = prefetch;
    // As many as the free bytes hold: a prefetch must never push the page's own
    // thumbnails out of the cache.
    qint64 room = m_cache.maxBytes() - m_cache.bytesUsed();
    QList<Picture> chosen;
    for (const Picture &p : pictures) {
        const qint64 bytes = qint64(p.box.width()) * p.box.height() * 4;
        if (bytes <= 0 || bytes > room)
            break;
        room -= bytes;
        chosen << p;
    }
    m_prefetchOutstanding = int(chosen.size());
    if (chosen.isEmpty()) {
        m_prefetch.reset();
        emit prefetchFinished();
        return;
    }
    for (const Picture &p : chosen) {
        m_prefetchPool.start(
            [this, prefetch, p] {
                if (!prefetch->cancelled) {
                    const FileKey key = p.key.valid() ? p.key : fileKey(p.path);
                    if (key.valid() && m_cache.find(key, p.box).isNull()) {
                        ++m_prefetchDecodes;
                        const Result r =
                            decodeFile(p.path, p.box, {&m_budget, &prefetch->cancelled, &key, true});
                        // Only what fits beside the cached thumbnails is kept.
                        if (r.ok() && !prefetch->cancelled &&
                            m_cache.bytesUsed() + r.image.sizeInBytes() <= m_cache.maxBytes())
                            m_cache.insert(key, p.box, r.image);
                    }
                }
                QMetaObject::invokeMethod(
                    this, [this, prefetch] { prefetchJobDone(prefetch); }, Qt::QueuedConnection);
            },
            0);
    }
}

void ThumbnailLoader::stopPrefetch()
{
    if (!m_prefetch)
        return;
    m_prefetch->cancelled = true;
    m_budget.wakeWaiters();
    // Queued prefetch jobs never run; a running one stops at its next read.
    m_prefetchPool.clear();
    m_prefetch.reset();
    m_prefetchOutstanding = 0;
}

void ThumbnailLoader::prefetchJobDone(const std::shared_ptr<Pass> &prefetch)
{
    if (prefetch != m_prefetch)
        return;
    if (--m_prefetchOutstanding == 0) {
        m_prefetch.reset();
        giveBackFreedMemory();
        emit prefetchFinished();
    }
}

void ThumbnailLoader::giveBackFreedMemory()
{
#if defined(__GLIBC__)
    // Thumbnails are made on the workers and freed here when the cache lets
    // them go; each worker's arena keeps what was freed into it. Once the work
    // is done, the free pages go back to the system, off this thread.
    m_prefetchPool.start([] { malloc_trim(0); });
#endif
}

void ThumbnailLoader::post(Delivery d)
{
    // Runs on a worker. One drain at a time is queued to the loader's thread;
    // the loader outlives every job (its destructor waits for the pool).
    const QMutexLocker lock(&m_inboxMutex);
    m_inbox << std::move(d);
    if (!m_drainQueued) {
        m_drainQueued = true;
        QMetaObject::invokeMethod(this, &ThumbnailLoader::drainInbox, Qt::QueuedConnection);
    }
}

void ThumbnailLoader::drainInbox()
{
    QElapsedTimer budget;
    budget.start();
    for (;;) {
        Delivery d;
        {
            const QMutexLocker lock(&m_inboxMutex);
            if (m_inbox.isEmpty()) {
                m_drainQueued = false;
                return;
            }
            if (budget.elapsed() >= DrainBudgetMs) {
                QTimer::singleShot(0, this, &ThumbnailLoader::drainInbox);
                return;
            }
            d = m_inbox.takeFirst();
        }
        deliver(d);
    }
}

void ThumbnailLoader::deliver(const Delivery &d)
{
    // Anything from a pass that was cancelled or replaced is dropped here.
    if (!m_pass || d.pass != m_pass || d.index < 0 || d.index >= m_pictures.size())
        return;
    const quint64 generation = m_generation;
    if (d.head)
        emit headRead(generation, d.index, *d.head);
    // A receiver may have started another pass meanwhile.
    if (d.pass != m_pass)
        return;
    if (d.stage == Stage::Embedded) {
        // Shown unless the decode came first.
        if (m_shown[d.index] < Stage::Embedded && d.result.ok()) {
            m_shown[d.index] = Stage::Embedded;
            emit pictureReady(generation, d.index, Stage::Embedded, d.result.image);
        }
    } else {
        m_shown[d.index] = Stage::Decoded;
        if (d.result.status == Status::Changed) {
            // Another file has the name now: nothing is shown for it (whoever
            // renamed it starts a pass for the names as they are now).
        } else if (d.result.ok()) {
            const Picture &p = m_pictures.at(d.index);
            m_cache.insert(p.key, p.box, d.result.image);
            emit pictureReady(generation, d.index, Stage::Decoded, d.result.image);
        } else {
            // A file that cannot be loaded shows the placeholder, also when its
            // embedded thumbnail was shown first.
            emit pictureReady(generation, d.index, Stage::Placeholder, QImage());
        }
    }
    // A receiver may have started another pass meanwhile. A decode that
    // overtook the first stage settles it too.
    if (d.pass == m_pass)
        firstStageSettled(d.index);
    // The pass is over once both stages of every picture are in: the head the
    // first stage read goes to the picture's record also after its decode.
    if (d.pass == m_pass && --m_outstanding == 0) {
        m_pass.reset();
        m_firstStageSeen.clear();
        m_pictures.clear();
        m_shown.clear();
        giveBackFreedMemory();
        emit passFinished(generation);
    }
}

void ThumbnailLoader::firstStageSettled(int index)
{
    if (m_firstStageSeen.value(index, true))
        return;
    m_firstStageSeen[index] = true;
    if (--m_firstStageLeft == 0)
        emit firstStageFinished(m_generation);
}

} // namespace thumbs
