#include "pages/Thumbnails.h"

#include "app/Form1.h"
#include "app/Ini.h"
#include "app/Widgets.h"
#include "pages/PageView.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QThread>
#include <QTimer>

namespace {
// Queued ahead of every second stage, so every slot shows something quickly.
constexpr int EmbeddedPriority = 1;
constexpr int DecodedPriority = 0;
constexpr qint64 DrainBudgetMs = 4;

} // namespace

Thumbnails::Thumbnails(Form1 &form, PageView &pages)
    : QObject(&form), m_form(form), m_pages(pages), m_c(form.controls()), m_s(form.state())
{
    // The GUI thread stays free: the pool gets the cores.
    m_pool.setMaxThreadCount(qMax(1, QThread::idealThreadCount()));
    m_pool.setObjectName(QStringLiteral("thumbnails"));

    connect(&pages, &PageView::pageReloading, this, &Thumbnails::cancelPass);
    connect(&pages, &PageView::thumbnailPassRequested, this, &Thumbnails::startPass);
    connect(&form, &Form1::closing, this, &Thumbnails::cancelPass);
    // toggled rather than clicked: the handler runs on every change of the value,
    // by the user or by the program, as it always has; the page display holds the
    // box's signals while it sets the value from the settings, and the setting is
    // written only while the box is shown.
    connect(m_c.BilderAnzeigen, &QCheckBox::toggled, this, &Thumbnails::BilderAnzeigen_Click);
    connect(m_c.Command5, &QPushButton::clicked, this, &Thumbnails::Command5_Click);
}

Thumbnails::~Thumbnails()
{
    // Queued jobs go at once; a job already decoding stops at its decoder's next
    // read, and it must end before this object can go.
    cancelPass();
    m_pool.waitForDone();
}

void Thumbnails::setWorkers(int count)
{
    m_pool.setMaxThreadCount(qMax(1, count));
}

void Thumbnails::BilderAnzeigen_Click()
{
    const bool checked = m_c.BilderAnzeigen->isChecked();
    if (m_c.BilderAnzeigen->isVisibleTo(&m_form)) {
        // A settings file that cannot be written costs only the remembered value;
        // no message is shown for it.
        const ini::WriteResult written =
            ini::IniWrite(QStringLiteral("Einstellungen"), QStringLiteral("BilderAnzeigen"),
                          checked ? QStringLiteral("1") : QStringLiteral("0"), m_s.IniPath, true);
        Q_UNUSED(written);
    }
    // Nothing is drawn on checking: thumbnails come with the next display that
    // reloads. Unchecking leaves the slots not yet reached with the placeholder.
    if (!checked)
        cancelPass();
}

void Thumbnails::Command5_Click()
{
    // The directory of this run is read again, not the remembered one: they
    // differ when the settings file could not store this run's directory.
    m_pages.LoadFileList(m_s.PictureDir);
    m_pages.ShowPage(true);
}

void Thumbnails::cancelPass()
{
    if (!m_pass)
        return;
    m_pass->cancelled = true;
    // Decodes waiting for memory give up; running ones stop at their next read.
    m_budget.wakeWaiters();
    m_pool.clear();
    m_pass.reset();
    m_items.clear();
    m_outstanding = 0;
    const QMutexLocker lock(&m_inboxMutex);
    m_inbox.clear();
}

void Thumbnails::startPass()
{
    cancelPass();
    if (m_s.Closing || !m_c.BilderAnzeigen->isChecked())
        return;

    auto pass = std::make_shared<Pass>();
    m_passGeneration = m_s.Generation;
    for (int i = 0; i <= m_s.LastSlot && i < m_s.PageNames.size(); ++i) {
        const QString &path = m_s.PageNames[i];
        if (path.isEmpty())
            continue;
        Item item{i, path, thumbs::fileKey(path), m_c.Picture1[i]->devicePixelSize()};
        const QImage cached = m_cache.find(item.key, item.box);
        if (!cached.isNull()) {
            show(i, cached, Decoded);
            continue;
        }
        m_items << item;
    }
    if (m_items.isEmpty()) {
        emit passFinished();
        return;
    }
    m_pass = pass;
    m_outstanding = int(m_items.size());

    for (int n = 0; n < m_items.size(); ++n) {
        const QString path = m_items[n].path;
        const QSize box = m_items[n].box;
        m_pool.start(
            [this, pass, n, path, box] {
                if (pass->cancelled)
                    return;
                thumbs::Result r = thumbs::fromEmbedded(exif::readHead(path), box);
                if (r.ok() && !pass->cancelled)
                    post(Delivery{pass, n, Embedded, std::move(r)});
            },
            EmbeddedPriority);
    }
    for (int n = 0; n < m_items.size(); ++n) {
        const QString path = m_items[n].path;
        const QSize box = m_items[n].box;
        m_pool.start(
            [this, pass, n, path, box] {
                if (pass->cancelled)
                    return;
                thumbs::Result r = thumbs::decodeFile(path, box, {&m_budget, &pass->cancelled});
                if (!pass->cancelled)
                    post(Delivery{pass, n, Decoded, std::move(r)});
            },
            DecodedPriority);
    }
}

void Thumbnails::post(Delivery d)
{
    // Runs on a worker. One drain at a time is queued to the GUI thread; this
    // object outlives every job (its destructor waits for the pool).
    const QMutexLocker lock(&m_inboxMutex);
    m_inbox << std::move(d);
    if (!m_drainQueued) {
        m_drainQueued = true;
        QMetaObject::invokeMethod(this, &Thumbnails::drainInbox, Qt::QueuedConnection);
    }
}

void Thumbnails::drainInbox()
{
    // Results are shown for a few milliseconds at a time; then the window gets
    // its input, timers and painting before the next batch.
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
                QTimer::singleShot(0, this, &Thumbnails::drainInbox);
                return;
            }
            d = m_inbox.takeFirst();
        }
        deliver(d);
    }
}

int Thumbnails::currentSlotOf(const Item &item) const
{
    const int last = qMin(m_s.LastSlot, int(m_s.PageNames.size()) - 1);
    if (item.slot <= last && m_s.PageNames[item.slot] == item.path)
        return item.slot;
    // A display without reload (a relayout, a save) may have moved the picture to
    // another slot or renamed its file meanwhile.
    for (int i = 0; i <= last; ++i)
        if (m_s.PageNames[i] == item.path)
            return i;
    if (item.slot <= last && !m_s.PageNames[item.slot].isEmpty() &&
        thumbs::fileKey(m_s.PageNames[item.slot]) == item.key)
        return item.slot;
    return -1;
}

void Thumbnails::deliver(const Delivery &d)
{
    // Anything from a pass that was cancelled or replaced, or from an earlier
    // page, is dropped here.
    if (!m_pass || d.pass != m_pass || m_passGeneration != m_s.Generation || m_s.Closing || d.item < 0 ||
        d.item >= m_items.size())
        return;
    Item &item = m_items[d.item];
    const int slot = currentSlotOf(item);

    if (d.stage == Embedded) {
        if (slot >= 0 && item.shown < Embedded && d.result.ok()) {
            item.shown = Embedded;
            show(slot, d.result.image, Embedded);
        }
        return;
    }

    if (slot >= 0) {
        item.shown = Decoded;
        if (d.result.ok()) {
            m_cache.insert(item.key, item.box, d.result.image);
            show(slot, d.result.image, Decoded);
        } else {
            // A file that cannot be loaded shows the placeholder, also when its
            // embedded thumbnail was shown first.
            m_c.Picture1[slot]->setPicture(m_c.NoImage->pixmap());
            emit pictureShown(slot, Placeholder);
        }
    }
    if (--m_outstanding == 0) {
        m_pass.reset();
        m_items.clear();
        emit passFinished();
    }
}

void Thumbnails::show(int slot, const QImage &image, int stage)
{
    m_c.Picture1[slot]->setPicture(QPixmap::fromImage(image));
    emit pictureShown(slot, stage);
}
