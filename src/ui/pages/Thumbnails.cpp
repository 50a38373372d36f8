#include "ui/pages/Thumbnails.h"

#include "ui/window/Controls.h"
#include "core/settings/Settings.h"
#include "ui/window/Widgets.h"
#include "core/pages/PageModel.h"

#include <QCheckBox>
#include <QLabel>
#include <QPixmap>
#include <QSignalBlocker>

Thumbnails::Thumbnails(QWidget &window, Controls &controls, PageModel &model, Settings &settings,
                       QObject *parent)
    : QObject(parent), m_window(window), m_c(controls), m_model(model), m_settings(settings)
{
    m_slotIndex.fill(-1);
    // Every slot starts with the placeholder.
    for (PictureBox *box : m_c.Picture1)
        box->setPicture(m_c.NoImage->pixmap());

    connect(&model, &PageModel::pageShown, this, &Thumbnails::pageShown);
    connect(&m_loader, &thumbs::ThumbnailLoader::pictureReady, this, &Thumbnails::pictureReady);
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
    // toggled rather than clicked: the handler runs on every change of the value,
    // by the user or by the program, as it always has; the page display holds the
    // box's signals while it sets the value from the settings, and the setting is
    // written only while the box is shown.
    connect(m_c.BilderAnzeigen, &QCheckBox::toggled, this, &Thumbnails::BilderAnzeigen_Click);
}

void Thumbnails::BilderAnzeigen_Click()
{
    const bool checked = m_c.BilderAnzeigen->isChecked();
    if (m_c.BilderAnzeigen->isVisibleTo(&m_window))
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
    // Setting the box from the settings must not write the setting back.
    {
        const QSignalBlocker block(m_c.BilderAnzeigen);
        m_c.BilderAnzeigen->setChecked(m_settings.bilderAnzeigen());
    }
    if (reload)
        cancelPass();

    const QPixmap placeholder = m_c.NoImage->pixmap();
    bool moved = false;
    bool renamed = false;
    for (int i = 0; i < PageModel::SlotCount; ++i) {
        if (i > m_model.lastSlot() || m_closing) {
            m_slotIndex[i] = -1;
            m_slotPath[i].clear();
            continue;
        }
        const qint64 shown = m_model.isFilled(i) ? m_model.listIndex(i) : -1;
        const QString path = m_model.filePath(i);
        if (reload || shown != m_slotIndex[i]) {
            // The slot now shows another picture: its old thumbnail must go.
            m_c.Picture1[i]->setPicture(placeholder);
            moved = moved || (!reload && shown >= 0);
        } else if (path != m_slotPath[i]) {
            renamed = true;
        }
        m_slotIndex[i] = shown;
        m_slotPath[i] = path;
    }

    // Pictures already decoded come from the cache at once, so a pass after a
    // relayout only decodes the pictures new to the page. After a renaming a
    // running pass is begun again under the new names.
    if (m_c.BilderAnzeigen->isChecked() && !m_closing && (reload || moved || (renamed && m_loader.running())))
        startPass();
}

void Thumbnails::startPass()
{
    cancelPass();
    if (m_closing || !m_c.BilderAnzeigen->isChecked())
        return;
    QList<thumbs::ThumbnailLoader::Picture> pictures;
    for (int i = 0; i <= m_model.lastSlot(); ++i) {
        const QString path = m_model.filePath(i);
        if (path.isEmpty())
            continue;
        m_items << Item{i, m_model.listIndex(i)};
        pictures << thumbs::ThumbnailLoader::Picture{path, thumbs::fileKey(path),
                                                     m_c.Picture1[i]->devicePixelSize()};
    }
    m_loader.start(m_model.generation(), pictures);
}

void Thumbnails::startPrefetch()
{
    // The next page first, then the previous one: the way users page.
    QList<thumbs::ThumbnailLoader::Picture> pictures;
    const int perPage = m_model.lastSlot() + 1;
    if (m_prefetch && !m_closing && perPage > 0 && m_c.BilderAnzeigen->isChecked()) {
        const QSize box = m_c.Picture1[0]->devicePixelSize();
        for (const int page : {m_model.pageIndex() + 1, m_model.pageIndex() - 1}) {
            for (int i = 0; page >= 0 && i < perPage; ++i) {
                const QString path = m_model.pathOf(page * perPage + i);
                if (path.isEmpty())
                    break;
                // The file's key is taken by the job, off this thread.
                pictures << thumbs::ThumbnailLoader::Picture{path, thumbs::FileKey{}, box};
            }
        }
    }
    // Emits prefetchFinished at once when there is nothing to make.
    m_loader.prefetch(pictures);
}

int Thumbnails::currentSlotOf(const Item &item) const
{
    // A list entry is one file for the whole pass: a save renames the file under
    // the same entry, and whatever gives a slot another entry (a new layout, a
    // new listing, another page) starts a new pass. Names are no guide: a save
    // may give one picture the name another had.
    const int last = qMin(m_model.lastSlot(), int(m_slotIndex.size()) - 1);
    if (item.slot <= last && m_slotIndex[item.slot] == item.listIndex)
        return item.slot;
    for (int i = 0; i <= last; ++i)
        if (m_slotIndex[i] == item.listIndex)
            return i;
    return -1;
}

void Thumbnails::pictureReady(quint64 generation, int index, thumbs::Stage stage, const QImage &image)
{
    // Anything of an earlier page, or after the window began to close, is dropped.
    if (generation != m_model.generation() || m_closing || index < 0 || index >= m_items.size())
        return;
    const int slot = currentSlotOf(m_items.at(index));
    if (slot < 0)
        return;
    if (stage == thumbs::Stage::Placeholder)
        m_c.Picture1[slot]->setPicture(m_c.NoImage->pixmap());
    else
        m_c.Picture1[slot]->setPicture(QPixmap::fromImage(image));
    emit pictureShown(slot, int(stage));
}
