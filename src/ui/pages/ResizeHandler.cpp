#include "ui/pages/ResizeHandler.h"

#include "core/pages/PageModel.h"
#include "core/pages/Resize.h"
#include "core/settings/Settings.h"
#include "ui/pages/PageView.h"
#include "ui/window/Controls.h"
#include "ui/window/Twips.h"
#include "ui/window/Widgets.h"

#include <QFrame>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

constexpr int MaxDepth = 2;  // a run and the one its height change raises
constexpr int MaxReruns = 2; // resizes folded while nested, run again afterwards

resizing::Box box(const QWidget *w)
{
    return {twips::left(w), twips::top(w), twips::width(w), twips::height(w)};
}

} // namespace

ResizeHandler::ResizeHandler(QWidget &window, Controls &controls, Settings &settings, PageModel &model,
                             PageView &view, QObject *parent)
    : QObject(parent), m_window(window), m_c(controls), m_settings(settings), m_model(model), m_view(view)
{
}

void ResizeHandler::Form_Resize()
{
    // A minimised window keeps everything as it was, the settings file included.
    if (m_window.windowState() & Qt::WindowMinimized)
        return;
    if (m_depth >= MaxDepth) {
        m_pending = true;
        return;
    }
    ++m_depth;
    run();
    --m_depth;
    for (int i = 0; m_depth == 0 && m_pending && i < MaxReruns; ++i) {
        m_pending = false;
        if (m_window.windowState() & Qt::WindowMinimized)
            break;
        ++m_depth;
        run();
        --m_depth;
    }
    if (m_depth == 0)
        m_pending = false;
}

void ResizeHandler::run()
{
    ++m_runs;
    const bool maximised = m_window.windowState() & Qt::WindowMaximized;
    m_settings.setVollbild(maximised);

    const int remembered = m_model.lastSlot();

    resizing::Input in;
    in.width = twips::windowWidth(&m_window);
    in.height = twips::windowHeight(&m_window);
    in.bottomFrame1 = box(m_c.BottomFrame1);
    in.arrowFrame = box(m_c.ArrowFrame);
    in.topFrame1 = box(m_c.TopFrame1);
    in.topFrame2 = box(m_c.TopFrame2);
    in.visible = m_window.isVisible();
    const resizing::Result r = resizing::arrange(in);

    twips::setTop(m_c.BottomFrame1, r.bottomFrame1Top);
    twips::setTop(m_c.ArrowFrame, r.arrowFrameTop);
    m_view.LayoutThumbnails();
    twips::setLeft(m_c.ArrowFrame, r.arrowFrameLeft);

    if (r.toolBars != resizing::ToolBars::Unchanged) {
        twips::setLeft(m_c.TopFrame2, r.topFrame2Left);
        twips::setTop(m_c.TopFrame2, r.topFrame2Top);
        const resizing::Box extras =
            resizing::extrasFrame(in.topFrame1, r.topFrame2Left, r.topFrame2Top, in.topFrame2.width);
        twips::place(m_c.ExtrasFrame, extras.left, extras.top, extras.width, extras.height);
    }
    if (r.toolBars == resizing::ToolBars::Unwrap) {
        // The grid was laid out under the wrapped bar's place; the window does not
        // shrink back, so its last row would reach into the bottom bar until the
        // next resize. It moves up with the bar now.
        m_view.LayoutThumbnails();
    }
    if (r.toolBars == resizing::ToolBars::Wrap) {
        const quint64 before = m_runs;
        // A maximised window cannot change its height (the platform would drop
        // the maximised state instead).
        if (!maximised)
            twips::setWindowHeight(&m_window, r.height);
        // Without a nested run (maximised, or a platform that reports the new
        // size later) the grid would stay under the bar's old place and overlap
        // the wrapped bar until the next resize: lay it out under the bar now.
        if (m_runs == before)
            m_view.LayoutThumbnails();
    }

    m_view.showSlotsUpTo(m_model.lastSlot());
    // The page is filled again for the new number of slots; each picture keeps
    // the name typed for it, wherever it lands.
    if (m_model.lastSlot() != remembered)
        m_model.showPage(false);
}
