#pragma once

#include "core/pictures/DecodeBudget.h"
#include "core/pictures/ThumbnailCache.h"
#include "core/pictures/ThumbnailDecoder.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QThreadPool>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace thumbs {

// What a picture shows after a result arrived.
enum class Stage {
    Placeholder = 0, // the file cannot be shown
    Embedded = 1,    // the camera's embedded thumbnail
    Decoded = 2,     // the decoded picture itself
};

// Makes the thumbnails of a set of pictures off the GUI thread: small jobs on a
// private pool, first every picture's embedded thumbnail, then every decoded
// picture. Results come back on the loader's thread in short batches, tagged
// with the pass's generation, so a caller recognises results of an earlier
// page and drops them. Knows nothing of widgets.
class ThumbnailLoader : public QObject {
    Q_OBJECT
public:
    struct Picture {
        QString path;
        FileKey key;
        QSize box; // device pixels
    };

    explicit ThumbnailLoader(QObject *parent = nullptr);
    // Queued jobs go at once; a job already decoding stops at its decoder's next
    // read, and it must end before the loader can go.
    ~ThumbnailLoader() override;

    // Starts a pass over pictures for generation; a running pass is cancelled.
    // Pictures whose thumbnail is cached are reported before this returns.
    void start(quint64 generation, const QList<Picture> &pictures);
    // Stops the running pass (nothing more of it is reported) and any prefetch.
    void cancel();
    bool running() const { return m_pass != nullptr; }
    // While held, a pass reads only the embedded thumbnails: its decodes wait
    // for the release (a window not yet on the screen leaves the processors to
    // its own first frame).
    void holdDecodes();
    void releaseDecodes();
    // Every picture of the running pass shows its first stage, or has been
    // found to have none that can be shown (true when no pass runs).
    bool firstStageDone() const { return m_firstStageLeft == 0; }

    // Makes the thumbnails of pictures for the cache alone, at the lowest
    // priority, in the given order, as many as the cache's free bytes hold (the
    // thumbnails already cached stay). Meant for the pages beside the one shown,
    // once its own pass is done; start() and cancel() stop it at once. A picture
    // whose key is invalid has its key taken in the job. prefetchFinished()
    // follows once it is done (not when it is stopped).
    void prefetch(const QList<Picture> &pictures);
    bool prefetching() const { return m_prefetch != nullptr; }

    ThumbnailCache &cache() { return m_cache; }
    // The number of threads that decode; by default one per core. Whatever it
    // is, the decodes running at once share one memory budget.
    void setWorkers(int count);
    const DecodeBudget &budget() const { return m_budget; }
    // The decodes prefetches started so far (each costs a whole file's reading).
    int prefetchDecodes() const { return m_prefetchDecodes; }

    // For tests: runs on the worker between a job's last look at whether its
    // pass was cancelled and the hand-over of its result, the window in which
    // another pass may begin. Set before a pass starts; null in the program.
    static std::function<void()> beforeHandOver;

signals:
    // Picture index of the pass of generation shows stage now; image is null
    // for Placeholder.
    void pictureReady(quint64 generation, int index, thumbs::Stage stage, const QImage &image);
    // The head of picture index's file was read: what it told of the picture.
    void headRead(quint64 generation, int index, const exif::HeadFacts &facts);
    // Every picture of that pass has its first stage, where it has one.
    void firstStageFinished(quint64 generation);
    // Every picture of that pass has its final stage.
    void passFinished(quint64 generation);
    // The prefetch has made what it was asked for.
    void prefetchFinished();

private:
    struct Pass {
        std::atomic_bool cancelled{false};
    };
    struct Delivery {
        std::shared_ptr<Pass> pass;
        int index;
        Stage stage;
        Result result;
        std::optional<exif::HeadFacts> head; // the first stage's reading of the head
    };

    void post(Delivery d);
    void drainInbox();
    void deliver(const Delivery &d);
    void firstStageSettled(int index);
    void queueDecodes(const std::shared_ptr<Pass> &pass, const QList<int> &toDecode);
    void stopPrefetch();
    void giveBackFreedMemory();
    void prefetchJobDone(const std::shared_ptr<Pass> &prefetch);

    QThreadPool m_pool;
    QThreadPool m_prefetchPool;
    DecodeBudget m_budget;
    ThumbnailCache m_cache;
    std::shared_ptr<Pass> m_pass; // the running pass; null when none runs
    quint64 m_generation = 0;
    QList<Picture> m_pictures;
    QList<Stage> m_shown;         // per picture, the highest stage reported
    QList<bool> m_firstStageSeen; // per picture, whether its first stage is settled
    int m_firstStageLeft = 0;     // first-stage results still to come
    int m_outstanding = 0;        // results of either stage still to come
    bool m_decodesHeld = false;
    std::function<void()> m_heldDecodes; // queues the held pass's decodes
    std::shared_ptr<Pass> m_prefetch;    // the running prefetch; null when none runs
    int m_prefetchOutstanding = 0;       // prefetch jobs still to end
    std::atomic_int m_prefetchDecodes{0};

    // Results handed over by the workers, taken in small batches.
    QMutex m_inboxMutex;
    QList<Delivery> m_inbox;
    bool m_drainQueued = false; // guarded by m_inboxMutex
};

} // namespace thumbs

Q_DECLARE_METATYPE(thumbs::Stage)
