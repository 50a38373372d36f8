#include "ui/window/Drops.h"

#include "core/platform/Volumes.h"
#include "ui/chooser/DirChooser.h"

#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

namespace {

std::optional<dirs::DropTarget> targetOf(const QMimeData *data)
{
    QStringList paths;
    for (const QUrl &url : data->urls())
        paths << (url.isLocalFile() ? url.toLocalFile() : QString());
    return dirs::dropTarget(paths);
}

} // namespace

Drops::Drops(QWidget &window, DirChooser &chooser, QObject *parent)
    : QObject(parent), m_window(window), m_chooser(chooser)
{
    m_window.setAcceptDrops(true);
    // Before the widget under the cursor: a name box would take a file's
    // address as text.
    qApp->installEventFilter(this);
}

Drops::~Drops()
{
    if (qApp)
        qApp->removeEventFilter(this);
}

bool Drops::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if ((type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) ||
        !watched->isWidgetType() || static_cast<QWidget *>(watched)->window() != &m_window)
        return false;
    auto *drop = static_cast<QDropEvent *>(event);
    if (!drop->mimeData() || !drop->mimeData()->hasUrls())
        return false;
    const std::optional<dirs::DropTarget> target = targetOf(drop->mimeData());
    // A modal question is open: nothing may change the directory under it.
    if (!target || QApplication::activeModalWidget()) {
        drop->ignore();
        return true;
    }
    drop->setDropAction(Qt::CopyAction);
    drop->accept();
    if (type == QEvent::Drop) {
        // Opened after the drag has ended: the question about typed names must
        // not run inside the file manager's drag.
        const dirs::DropTarget t = *target;
        QMetaObject::invokeMethod(
            this, [this, t] { m_chooser.openDirectory(t.directory, t.picture); }, Qt::QueuedConnection);
    }
    return true;
}
