#pragma once

#include "pages/ThumbnailCache.h"
#include "pages/ThumbnailDecoder.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QThreadPool>
#include <atomic>
#include <memory>

class Form1;
class PageView;
struct Controls;
struct FormState;

// Draws the thumbnails of the page shown, off the GUI thread: small jobs on a
// private pool decode, and the results come back tagged with the page's
// generation and the slot's path, so nothing of an earlier page lands in a slot
// of the current one. Every slot first gets the camera's embedded thumbnail (when
// it matches), then its decoded picture. Also owns "Bilder Anzeigen" and
// "Verzeichnis neu einlesen".
class Thumbnails : public QObject {
    Q_OBJECT
public:
    Thumbnails(Form1 &form, PageView &pages);
    ~Thumbnails() override;

    // The check box changed its value: remember it while the box is shown, and
    // stop a running pass when it was unchecked.
    void BilderAnzeigen_Click();
    // "Verzeichnis neu einlesen": read the remembered directory again and show
    // the same page number for the new list.
    void Command5_Click();

    // What a slot shows after a picture landed there.
    enum Stage {
        Placeholder = 0, // the file cannot be shown
        Embedded = 1,    // the camera's embedded thumbnail
        Decoded = 2,     // the decoded picture itself
    };

    bool passRunning() const { return m_pass != nullptr; }
    thumbs::ThumbnailCache &cache() { return m_cache; }
    // The number of threads that decode; by default one per core. Whatever it
    // is, the decodes running at once share one memory budget.
    void setWorkers(int count);
    const thumbs::DecodeBudget &budget() const { return m_budget; }

signals:
    // A picture was put into Picture1(slot).
    void pictureShown(int slot, int stage);
    // Every slot of the pass has its final picture.
    void passFinished();

private:
    struct Pass {
        std::atomic_bool cancelled{false};
    };
    struct Item {
        int slot;
        QString path;
        thumbs::FileKey key;
        QSize box;
        int shown = -1; // highest Stage shown so far
    };
    struct Delivery {
        std::shared_ptr<Pass> pass;
        int item;
        int stage;
        thumbs::Result result;
    };

    void startPass();
    void cancelPass();
    void deliver(const Delivery &d);
    int currentSlotOf(const Item &item) const;
    void show(int slot, const QImage &image, int stage);
    void post(Delivery d);
    void drainInbox();

    Form1 &m_form;
    PageView &m_pages;
    Controls &m_c;
    FormState &m_s;
    QThreadPool m_pool;
    thumbs::DecodeBudget m_budget;
    thumbs::ThumbnailCache m_cache;

    std::shared_ptr<Pass> m_pass; // the running pass; null when none runs
    quint64 m_passGeneration = 0;
    QList<Item> m_items;
    int m_outstanding = 0; // second-stage results still to come

    // Results handed over by the workers, taken in small batches on the GUI thread.
    QMutex m_inboxMutex;
    QList<Delivery> m_inbox;
    bool m_drainQueued = false; // guarded by m_inboxMutex
};
