#pragma once

#include "core/pictures/CaptureDate.h"

#include <QHash>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QStringList>
#include <QThreadPool>
#include <atomic>
#include <memory>

namespace dates {

// One picture's date, for the position it had in its request.
struct Dated {
    int index = 0;
    CaptureDate date;
};

// Reads the capture dates of many files off the GUI thread, on a small pool
// of low priority, and keeps every date it read for the rest of the run, by
// the file's identity (device, inode, size, modification time): a renamed
// file keeps its date, a changed one is read again. Results come back on the
// reader's thread in batches, a few milliseconds of them at a time, so that
// the window takes its input in between. Knows nothing of widgets.
class DateReader : public QObject {
    Q_OBJECT
public:
    explicit DateReader(QObject *parent = nullptr);
    // Queued work goes at once; running jobs stop after their current file.
    ~DateReader() override;

    // Starts reading the dates of paths; returns the request's number, which
    // its signals carry. An urgent request (the page shown) goes before the
    // others queued.
    int read(const QStringList &paths, bool urgent = false);
    // Nothing more of that request is reported.
    void cancel(int request);
    bool running(int request) const { return m_requests.contains(request); }

    // Files read from disk so far (not found in the cache).
    int filesRead() const { return m_filesRead; }
    void setWorkers(int count) { m_pool.setMaxThreadCount(qMax(1, count)); }

signals:
    // Dates of some of the request's files; done of total are in by now.
    void datesRead(int request, const QList<dates::Dated> &batch, int done, int total);
    // Every file of the request has its date.
    void finished(int request);

private:
    struct Request {
        std::atomic_bool cancelled{false};
        int total = 0;
        int done = 0; // on the reader's thread
    };
    struct Delivery {
        int request;
        std::shared_ptr<Request> state;
        QList<Dated> batch;
    };

    CaptureDate dateOf(const QString &path);
    void post(Delivery d);
    void drainInbox();

    QThreadPool m_pool;
    QHash<int, std::shared_ptr<Request>> m_requests;
    int m_nextRequest = 0;
    std::atomic_int m_filesRead{0};

    QMutex m_cacheMutex;
    QHash<QByteArray, CaptureDate> m_cache; // by file identity

    QMutex m_inboxMutex;
    QList<Delivery> m_inbox;
    bool m_drainQueued = false; // guarded by m_inboxMutex
};

} // namespace dates

Q_DECLARE_METATYPE(dates::Dated)
