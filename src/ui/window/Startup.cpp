#include "ui/window/Startup.h"

#include "core/pages/PageModel.h"
#include "core/pictures/PictureList.h"
#include "core/platform/FileNames.h"
#include "core/settings/Settings.h"
#include "ui/names/Renaming.h"
#include "ui/pages/PageView.h"
#include "ui/window/Dialogs.h"

#include <QCoreApplication>
#include <QResizeEvent>
#include <QWidget>

Startup::Startup(QWidget &window, Settings &settings, PageModel &model, PageView &view,
                 Thumbnails &thumbnails, Renaming &renaming, const QString &commandLine)
    : m_window(window), m_settings(settings), m_model(model), m_view(view), m_thumbnails(thumbnails),
      m_renaming(renaming), m_commandLine(commandLine)
{
}

void Startup::Form_Load()
{
    prepare();
    if (showsBeforeFilling()) {
        show();
        fillFirstPage();
    } else {
        fillFirstPage();
        show();
    }
    finish();
}

bool Startup::showsBeforeFilling() const
{
    // A maximised window learns its size only once the window manager has
    // placed it; any other is laid out, and its first page filled, at the size
    // it opens with, so that its first frame is the whole page.
    return m_window.windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen);
}

void Startup::prepare()
{
    m_settings.load();
    m_model.setLastSlot(grid::HighestSlot);
    m_model.setPageIndex(0);

    QString given = m_commandLine.trimmed();
    // A picture given (as "Open with" hands one over) opens its directory at
    // the page that holds it.
    if (!given.isEmpty() && !platform::isDirectory(given) && !pages::pictureExtension(given).isEmpty() &&
        platform::pathExists(given, platform::Links::Followed)) {
        m_picture = platform::fileNameOf(given);
        given = platform::directoryOf(given);
        if (given.isEmpty())
            given = QStringLiteral(".");
    }
    if (!given.isEmpty()) {
        // Made absolute here, once: a relative directory stored as it was given
        // would name another place at the next start from elsewhere.
        const QString dir = platform::absoluteDirectory(given);
        // Only a directory that holds at least one visible file is taken;
        // anything else leaves the remembered directory in force. One the
        // settings file cannot store is still this run's directory.
        if (platform::holdsVisibleFile(dir))
            m_settings.setVerzeichnis(dir);
        else if (!platform::isDirectory(dir))
            m_missing = dir;
    }

    if (m_settings.vollbild())
        m_window.setWindowState(m_window.windowState() | Qt::WindowMaximized);

    // A renaming that a crash interrupted is put right before the list is read.
    m_renaming.recoverInterruptedRenames();
    // The list comes in the order remembered.
    m_model.setOrder(m_settings.sortByCaptureDate() ? PageModel::Order::CaptureDate : PageModel::Order::Name);
    m_model.load(m_settings.verzeichnis());
}

void Startup::show()
{
    m_window.show();
}

void Startup::fillFirstPage()
{
    // A hidden window gets the resize that showing it would bring now: the
    // page is filled after it, as for a window already shown.
    if (!m_window.isVisible() && m_window.testAttribute(Qt::WA_PendingResizeEvent)) {
        m_window.setAttribute(Qt::WA_PendingResizeEvent, false);
        QResizeEvent resize(m_window.size(), QSize());
        QCoreApplication::sendEvent(&m_window, &resize);
    }
    m_view.LayoutThumbnails();
    if (!m_picture.isEmpty())
        m_model.setPageOf(m_picture);
    m_picture.clear();
    m_model.showPage(true);
}

void Startup::finish()
{
    // The remembered directory stands in; the user learns once, without being
    // stopped, that the one given was not there.
    if (!m_missing.isEmpty())
        platform::Notice(
            &m_window,
            QStringLiteral("Das Verzeichnis %1 wurde nicht gefunden.\n\nNamora zeigt stattdessen %2.")
                .arg(m_missing, m_model.directory()),
            QStringLiteral("Verzeichnis nicht gefunden"));
    m_missing.clear();
}
