#include "core/pictures/DateReader.h"

#include "core/platform/Priority.h"

#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

namespace dates {

namespace {
// Files per job: small enough for steady progress and a quick cancel, large
// enough that the pool's own cost per job does not count.
constexpr int JobSize = 32;
constexpr qint64 DrainBudgetMs = 4;

QByteArray identity(const thumbs::FileKey &k)
{
    QByteArray b;
    b.reserve(32);
    for (const quint64 v : {k.device, k.inode, quint64(k.size), quint64(k.mtimeNs)})
        b.append(reinterpret_cast<const char *>(&v), sizeof v);
    return b;
}
} // namespace

DateReader::DateReader(QObject *parent) : QObject(parent)
{
    qRegisterMetaType<dates::Dated>();
    // Reading dates is waiting for the disk more than computing; two threads
    // keep a disk busy, and at low priority they leave the window and the
    // thumbnails first.
    m_pool.setMaxThreadCount(qBound(1, QThread::idealThreadCount(), 2));
    m_pool.setThreadPriority(QThread::LowPriority);
    m_pool.setObjectName(QStringLiteral("dates"));
}

DateReader::~DateReader()
{
    for (const auto &r : std::as_const(m_requests))
        r->cancelled = true;
    m_pool.clear();
    m_pool.waitForDone();
}

CaptureDate DateReader::dateOf(const QString &path)
{
    // The identity without reading: a file read before is found by it.
    const thumbs::FileKey before = thumbs::fileKey(path);
    if (before.valid()) {
        const QMutexLocker lock(&m_cacheMutex);
        const auto it = m_cache.constFind(identity(before));
        if (it != m_cache.constEnd())
            return *it;
    }
    thumbs::FileKey read;
    const CaptureDate date = readCaptureDate(path, &read);
    ++m_filesRead;
    // Kept under the identity of the file actually read.
    if (read.valid() && date.valid()) {
        const QMutexLocker lock(&m_cacheMutex);
        m_cache.insert(identity(read), date);
    }
    return date;
}

int DateReader::read(const QStringList &paths, bool urgent)
{
    const int id = ++m_nextRequest;
    auto state = std::make_shared<Request>();
    state->total = int(paths.size());
    m_requests.insert(id, state);
    if (paths.isEmpty()) {
        QMetaObject::invokeMethod(
            this,
            [this, id, state] {
                if (m_requests.value(id) == state && !state->cancelled) {
                    m_requests.remove(id);
                    emit finished(id);
                }
            },
            Qt::QueuedConnection);
        return id;
    }
    for (qsizetype from = 0; from < paths.size(); from += JobSize) {
        const QStringList chunk = paths.mid(from, JobSize);
        const int first = int(from);
        m_pool.start(
            [this, id, state, chunk, first, urgent] {
                platform::lowerThisThread();
                QList<Dated> batch;
                batch.reserve(chunk.size());
                for (int i = 0; i < chunk.size(); ++i) {
                    // The whole directory's dates wait while the user types;
                    // the page's are wanted at once.
                    if (!urgent)
                        platform::standAsideForTheUser();
                    if (state->cancelled)
                        return;
                    batch << Dated{first + i, dateOf(chunk.at(i))};
                }
                post(Delivery{id, state, std::move(batch)});
            },
            urgent ? 1 : 0);
    }
    return id;
}

void DateReader::cancel(int request)
{
    const auto state = m_requests.take(request);
    if (state)
        state->cancelled = true;
}

void DateReader::post(Delivery d)
{
    const QMutexLocker lock(&m_inboxMutex);
    m_inbox << std::move(d);
    if (!m_drainQueued) {
        m_drainQueued = true;
        QMetaObject::invokeMethod(this, &DateReader::drainInbox, Qt::QueuedConnection);
    }
}

void DateReader::drainInbox()
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
                QTimer::singleShot(0, this, &DateReader::drainInbox);
                return;
            }
            d = m_inbox.takeFirst();
        }
        // A request cancelled (or replaced) meanwhile is dropped here.
        if (d.state->cancelled || m_requests.value(d.request) != d.state)
            continue;
        d.state->done += int(d.batch.size());
        const bool last = d.state->done >= d.state->total;
        if (last)
            m_requests.remove(d.request);
        emit datesRead(d.request, d.batch, d.state->done, d.state->total);
        if (last)
            emit finished(d.request);
    }
}

} // namespace dates
