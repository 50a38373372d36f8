#include "pages/ThumbnailLoader.h"

#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

namespace thumbs {

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
    // The caller's thread stays free: the pool gets the cores.
    m_pool.setMaxThreadCount(qMax(1, QThread::idealThreadCount()));
    m_pool.setObjectName(QStringLiteral("thumbnails"));
}

ThumbnailLoader::~ThumbnailLoader()
{
    cancel();
    m_pool.waitForDone();
}

void ThumbnailLoader::setWorkers(int count)
{
    m_pool.setMaxThreadCount(qMax(1, count));
}

void ThumbnailLoader::cancel()
{
    if (!m_pass)
        return;
    m_pass->cancelled = true;
    // Decodes waiting for memory give up; running ones stop at their next read.
    m_budget.wakeWaiters();
    m_pool.clear();
    m_pass.reset();
    m_pictures.clear();
    m_shown.clear();
    m_outstanding = 0;
    const QMutexLocker lock(&m_inboxMutex);
    m_inbox.clear();
}

void ThumbnailLoader::start(quint64 generation, const QList<Picture> &pictures)
{
    cancel();
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
    m_outstanding = int(toDecode.size());
    for (const int n : toDecode) {
        const QString path = pictures.at(n).path;
        const QSize box = pictures.at(n).box;
        m_pool.start(
            [this, pass, n, path, box] {
                if (pass->cancelled)
                    return;
                Result r = fromEmbedded(exif::readHead(path), box);
                if (r.ok() && !pass->cancelled)
                    post(Delivery{pass, n, Stage::Embedded, std::move(r)});
            },
            EmbeddedPriority);
    }
    for (const int n : toDecode) {
        const QString path = pictures.at(n).path;
        const QSize box = pictures.at(n).box;
        m_pool.start(
            [this, pass, n, path, box] {
                if (pass->cancelled)
                    return;
                Result r = decodeFile(path, box, {&m_budget, &pass->cancelled});
                if (!pass->cancelled)
                    post(Delivery{pass, n, Stage::Decoded, std::move(r)});
            },
            DecodedPriority);
    }
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
    if (d.stage == Stage::Embedded) {
        if (m_shown[d.index] < Stage::Embedded && d.result.ok()) {
            m_shown[d.index] = Stage::Embedded;
            emit pictureReady(generation, d.index, Stage::Embedded, d.result.image);
        }
        return;
    }

    m_shown[d.index] = Stage::Decoded;
    if (d.result.ok()) {
        const Picture &p = m_pictures.at(d.index);
        m_cache.insert(p.key, p.box, d.result.image);
        emit pictureReady(generation, d.index, Stage::Decoded, d.result.image);
    } else {
        // A file that cannot be loaded shows the placeholder, also when its
        // embedded thumbnail was shown first.
        emit pictureReady(generation, d.index, Stage::Placeholder, QImage());
    }
    // A receiver may have started another pass meanwhile.
    if (d.pass == m_pass && --m_outstanding == 0) {
        m_pass.reset();
        m_pictures.clear();
        m_shown.clear();
        emit passFinished(generation);
    }
}

} // namespace thumbs
