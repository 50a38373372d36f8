#include "ui/window/Launcher.h"

#include "core/pictures/ThumbnailDecoder.h"
#include "ui/pages/Thumbnails.h"
#include "ui/window/Startup.h"

#include <QEvent>
#include <QThreadPool>

namespace {
// How long a hidden window waits for the first-stage pictures of its first
// page before it shows itself without the rest of them.
constexpr int FirstPicturesWaitMs = 60;
// How long after its first paint the window leaves the processors to the
// display to put that frame on the screen before the decodes begin; and when
// they begin at the latest, should no paint come (a window shown minimised).
constexpr int FirstFrameMs = 50;
constexpr int LatestDecodesMs = 500;
} // namespace

Launcher::Launcher(const Form1::Options &options, QObject *parent) : QObject(parent), m_options(options)
{
    m_wait.setSingleShot(true);
    m_wait.setInterval(FirstPicturesWaitMs);
    connect(&m_wait, &QTimer::timeout, this, &Launcher::finish);
}

Launcher::~Launcher() = default;

void Launcher::start()
{
    // The picture decoder loads beside the window being built.
    QThreadPool::globalInstance()->start(&thumbs::loadDecoder);
    QTimer::singleShot(0, this, &Launcher::step);
}

void Launcher::step()
{
    // The window is built and loads while hidden (settings, the picture list,
    // the first page); the embedded thumbnails of that page are read on the
    // workers while the fonts load here, one a turn; then the window shows
    // itself, the pictures in its first frame. A window that opens maximised
    // learns its size from the window manager: it is shown before its page is
    // filled.
    if (!m_form) {
        m_form = std::make_unique<Form1>(m_options);
        emit built();
    } else if (!m_prepared) {
        m_form->startup().prepare();
        m_prepared = true;
    } else if (!m_filled) {
        Startup &startup = m_form->startup();
        m_filled = true;
        if (startup.showsBeforeFilling()) {
            startup.show();
            startup.fillFirstPage();
            finish();
            return;
        }
        startup.thumbnails().holdDecodes();
        startup.fillFirstPage();
        m_wait.start();
    } else if (m_font < Form1::designedFontCount()) {
        Form1::loadFont(m_font++);
    } else {
        Thumbnails &thumbnails = m_form->startup().thumbnails();
        if (thumbnails.firstStageShown() || !m_wait.isActive())
            finish();
        else
            m_waiting = connect(&thumbnails, &Thumbnails::firstStageFinished, this, &Launcher::finish);
        return;
    }
    QTimer::singleShot(0, this, &Launcher::step);
}

bool Launcher::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_form.get() && event->type() == QEvent::Paint) {
        m_form->removeEventFilter(this);
        QTimer::singleShot(FirstFrameMs, this, &Launcher::releaseDecodes);
    }
    return false;
}

void Launcher::releaseDecodes()
{
    m_form->removeEventFilter(this);
    m_form->startup().thumbnails().releaseDecodes();
}

void Launcher::finish()
{
    disconnect(m_waiting);
    m_wait.stop();
    if (m_finished)
        return;
    m_finished = true;
    Startup &startup = m_form->startup();
    if (!m_form->isVisible()) {
        m_form->installEventFilter(this);
        QTimer::singleShot(LatestDecodesMs, this, &Launcher::releaseDecodes);
        startup.show();
    }
    startup.finish();
    emit loaded();
}
