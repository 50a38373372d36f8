#include "ui/pages/Thumbnails.h"

#include "core/pages/PageModel.h"
#include "core/settings/Settings.h"
#include "ui/window/Artwork.h"
#include "ui/window/Controls.h"
#include "ui/window/Widgets.h"

#include <QCheckBox>
#include <QSignalBlocker>

Thumbnails::Thumbnails(QWidget &window, Controls &controls, PageModel &model, Settings &settings,
                       QObject *parent)
    : QObject(parent), m_window(window), m_c(controls), m_model(model), m_settings(settings),
      m_placeholder(artwork::placeholder())
{
    // Every slot starts with the placeholder.
    for (PictureBox *box : m_c.Picture1)
        box->setPicture(m_placeholder);

    connect(&model, &PageModel::pageShown, this, &Thumbnails::pageShown);
    connect(&m_loader, &thumbs::ThumbnailLoader::pictureReady, this, &Thumbnails::pictureReady);
    connect(&m_loader, &thumbs::ThumbnailLoader::headRead, this, &Thumbnails::headRead);
    connect(&m_loader, &thumbs::ThumbnailLoader::firstStageFinished, this, [this](quint64 generation) {
        if (generation == m_model.generation() && !m_closing)
            emit firstStageFinished();
    });
    connect(&m_loader, &thumbs::ThumbnailLoader::passFinished, this, [this](quint64 generation) {
        if (generation != m_model.generation() || m_closing)
            return;
        m_items.clear();
        emit passFinished();
        startPrefetch();
    });
    connect(&m_loader, &thumbs::ThumbnailLoader::prefetchFinished, this, [this] {
        if (isIdle())
            emit idle();
    });
    // toggled rather than clicked: whoever changes the box's value, the setting
    // follows it, so the box and the setting never disagree.
    connect(m_c.BilderAnzeigen, &QCheckBox::toggled, this, &Thumbnails::BilderAnzeigen_Click);
}

bool Thumbnails::shown() const
{
    return m_settings.bilderAnzeigen();
}

void Thumbnails::BilderAnzeigen_Click()
{
    const bool checked = m_c.BilderAnzeigen->isChecked();
    if (checked != m_settings.bilderAnzeigen())
        m_settings.setBilderAnzeigen(checked);
    // Nothing is drawn on checking: thumbnails come with the next display that
    // reloads. Unchecking leaves the slots not yet reached with the placeholder.
    if (!checked)
        cancelPass();
}

void Thumbnails::windowClosing()
{
    m_closing = true;
    cancelPass();
}

void Thumbnails::cancelPass()
{
    m_loader.cancel();
    m_items.clear();
}

void Thumbnails::pageShown(bool reload)
{
    // The box shows the setting; showing it is no change by the user.
    {
        const QSignalBlocker block(m_c.BilderAnzeigen);
        m_c.BilderAnzeigen->setChecked(shown());
    }
    if (reload)
        cancelPass();

    // A display without reload keeps a slot's picture only while the slot still
    // shows the same list entry: a relayout moves entries to other slots, a
    // renaming does not.
    bool moved = false;
    for (int i = 0; i <= m_model.lastSlot() && !m_closing; ++i) {
        if (reload || m_model.slotChanged(i)) {
            m_c.Picture1[i]->setPicture(m_placeholder);
            moved = moved || (!reload && m_model.isFilled(i));
        }
    }
    // A save that renamed a picture keeps its slot and its thumbnail, but the
    // decodes of the pass still running go by the old names.
    bool renamed = false;
    for (const Item &item : std::as_const(m_items))
        renamed = renamed || m_model.pathOf(item.listIndex) != item.path;

    // Pictures already decoded come from the cache at once, so a pass after a
    // relayout only decodes the pictures new to the page. After a renaming a
    // running pass is begun again under the new names.
    if (shown() && !m_closing && (reload || moved || (renamed && m_loader.running())))
        startPass();
}

void Thumbnails::startPass()
{
    cancelPass();
    if (m_closing || !shown())
        return;
    QList<thumbs::ThumbnailLoader::Picture> pictures;
    for (int i = 0; i <= m_model.lastSlot(); ++i) {
        const QString path = m_model.filePath(i);
        if (path.isEmpty())
            continue;
        m_items << Item{m_model.listIndex(i), path};
        pictures << thumbs::ThumbnailLoader::Picture{path, thumbs::fileKey(path),
                                                     m_c.Picture1[i]->devicePixelSize()};
    }
    m_loader.start(m_model.generation(), pictures);
}

void Thumbnails::startPrefetch()
{
    // The next page first, then the previous one: the way users page.
    QList<thumbs::ThumbnailLoader::Picture> pictures;
    if (m_prefetch && !m_closing && m_model.lastSlot() >= 0 && shown()) {
        const QSize box = m_c.Picture1[0]->devicePixelSize();
        for (const int page : {m_model.pageIndex() + 1, m_model.pageIndex() - 1}) {
            // The file's key is taken by the job, off this thread.
            for (const QString &path : m_model.pagePaths(page))
                pictures << thumbs::ThumbnailLoader::Picture{path, thumbs::FileKey{}, box};
        }
    }
    // Emits prefetchFinished at once when there is nothing to make.
    m_loader.prefetch(pictures);
}

void Thumbnails::pictureReady(quint64 generation, int index, thumbs::Stage stage, const QImage &image)
{
    // Anything of an earlier page, or after the window began to close, is dropped.
    if (generation != m_model.generation() || m_closing || index < 0 || index >= m_items.size())
        return;
    // A list entry is one file for the whole pass: a save renames the file under
    // the same entry, and whatever gives a slot another entry (a new layout, a
    // new listing, another page) starts a new pass. Names are no guide: a save
    // may give one picture the name another had.
    const int slot = m_model.slotOf(m_items.at(index).listIndex);
    if (slot < 0)
        return;
    if (stage == thumbs::Stage::Placeholder)
        m_c.Picture1[slot]->setPicture(m_placeholder);
    else
        m_c.Picture1[slot]->setPicture(QPixmap::fromImage(image));
    emit pictureShown(slot, int(stage));
}

void Thumbnails::headRead(quint64 generation, int index, const exif::HeadFacts &facts)
{
    if (generation != m_model.generation() || m_closing || index < 0 || index >= m_items.size())
        return;
    m_model.setHeadFacts(m_items.at(index).listIndex, facts);
}
