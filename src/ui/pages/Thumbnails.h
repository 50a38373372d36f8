#pragma once

#include "core/pictures/ThumbnailLoader.h"

#include <QList>
#include <QObject>
#include <QPixmap>

class PageModel;
class QWidget;
class Settings;
struct Controls;

// Puts the thumbnails of the page shown into the slots' picture boxes: the
// placeholder when a display reloads the page or a slot shows another picture,
// then what the loader reports for the page's generation. A result lands in
// the slot the model gives its picture when it arrives, so a relayout or a
// renaming in the meantime never puts a picture into another picture's slot.
// What the loader read of a file's head goes to the picture's record. Also
// binds the check box "Bilder Anzeigen" to its setting. The only writer of the
// picture boxes.
class Thumbnails : public QObject {
    Q_OBJECT
public:
    Thumbnails(QWidget &window, Controls &controls, PageModel &model, Settings &settings,
               QObject *parent = nullptr);

    // The check box changed its value: the setting takes it, and a running pass
    // stops when it was unchecked.
    void BilderAnzeigen_Click();
    // The window is closing: no more work.
    void windowClosing();

    // What a slot shows after a picture landed there.
    enum Stage {
        Placeholder = int(thumbs::Stage::Placeholder),
        Embedded = int(thumbs::Stage::Embedded),
        Decoded = int(thumbs::Stage::Decoded),
    };

    bool passRunning() const { return m_loader.running(); }
    // Every slot of the page shows its first-stage picture, where its file has
    // one that can be read (also when no pass runs).
    bool firstStageShown() const { return m_loader.firstStageDone(); }
    // While held, the page's pass shows only the embedded thumbnails; the
    // decodes follow the release.
    void holdDecodes() { m_loader.holdDecodes(); }
    void releaseDecodes() { m_loader.releaseDecodes(); }
    // Whether the pool may make the thumbnails of the next and the previous page
    // once the page shown has all of its own (on by default).
    void setPrefetchEnabled(bool on) { m_prefetch = on; }
    // Nothing is being decoded: neither the page shown nor its neighbours.
    bool isIdle() const { return !m_loader.running() && !m_loader.prefetching(); }
    thumbs::ThumbnailCache &cache() { return m_loader.cache(); }
    const thumbs::ThumbnailLoader &loader() const { return m_loader; }
    void setWorkers(int count) { m_loader.setWorkers(count); }
    const thumbs::DecodeBudget &budget() const { return m_loader.budget(); }

signals:
    // A picture was put into Picture1(slot).
    void pictureShown(int slot, int stage);
    // Every slot of the pass shows its first-stage picture, where it has one.
    void firstStageFinished();
    // Every slot of the pass has its final picture.
    void passFinished();
    // The pool has no more work for the page shown and its neighbours.
    void idle();

private:
    // A picture of the running pass.
    struct Item {
        int listIndex; // its list entry, one file for the whole pass
        QString path;  // its path when the pass began
    };

    void pageShown(bool reload);
    void startPass();
    void startPrefetch();
    void cancelPass();
    void pictureReady(quint64 generation, int index, thumbs::Stage stage, const QImage &image);
    void headRead(quint64 generation, int index, const exif::HeadFacts &facts);
    bool shown() const;

    QWidget &m_window;
    Controls &m_c;
    PageModel &m_model;
    Settings &m_settings;
    thumbs::ThumbnailLoader m_loader;
    bool m_closing = false;
    bool m_prefetch = true;
    QList<Item> m_items; // the pictures of the running pass
    QPixmap m_placeholder;
};
