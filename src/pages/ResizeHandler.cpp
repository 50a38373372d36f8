#include "pages/ResizeHandler.h"

#include "app/Form1.h"
#include "app/Ini.h"
#include "app/Twips.h"
#include "app/Widgets.h"
#include "pages/PageView.h"
#include "pages/Resize.h"

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

ResizeHandler::ResizeHandler(Form1 &form)
    : QObject(&form), m_form(form), m_c(form.controls()), m_s(form.state())
{
    connect(&form, &Form1::resized, this, &ResizeHandler::Form_Resize);
}

void ResizeHandler::Form_Resize()
{
    // A minimised window keeps everything as it was, the settings file included.
    if (m_form.windowState() & Qt::WindowMinimized)
        return;
    if (m_depth >= MaxDepth) {
        m_pending = true;
        return;
    }
    if (m_depth == 0)
        m_filledLastSlot = m_s.LastSlot;
    ++m_depth;
    run();
    --m_depth;
    for (int i = 0; m_depth == 0 && m_pending && i < MaxReruns; ++i) {
        m_pending = false;
        if (m_form.windowState() & Qt::WindowMinimized)
            break;
        m_filledLastSlot = m_s.LastSlot;
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
    const bool maximised = m_form.windowState() & Qt::WindowMaximized;
    ini::IniWrite(QStringLiteral("Einstellungen"), QStringLiteral("Vollbild"),
                  maximised ? QStringLiteral("1") : QStringLiteral("0"), m_s.IniPath, true);

    const int remembered = m_s.LastSlot;

    resizing::Input in;
    in.width = twips::windowWidth(&m_form);
    in.height = twips::windowHeight(&m_form);
    in.bottomFrame1 = box(m_c.BottomFrame1);
    in.arrowFrame = box(m_c.ArrowFrame);
    in.topFrame1 = box(m_c.TopFrame1);
    in.topFrame2 = box(m_c.TopFrame2);
    in.visible = m_form.isVisible();
    const resizing::Result r = resizing::arrange(in);

    twips::setTop(m_c.BottomFrame1, r.bottomFrame1Top);
    twips::setTop(m_c.ArrowFrame, r.arrowFrameTop);
    m_form.pageView().LayoutThumbnails();
    twips::setLeft(m_c.ArrowFrame, r.arrowFrameLeft);

    if (r.toolBars != resizing::ToolBars::Unchanged) {
        twips::setLeft(m_c.TopFrame2, r.topFrame2Left);
        twips::setTop(m_c.TopFrame2, r.topFrame2Top);
    }
    if (r.toolBars == resizing::ToolBars::Unwrap) {
        // The grid was laid out under the wrapped bar's place; the window does not
        // shrink back, so its last row would reach into the bottom bar until the
        // next resize. It moves up with the bar now.
        m_form.pageView().LayoutThumbnails();
    }
    if (r.toolBars == resizing::ToolBars::Wrap) {
        const quint64 before = m_runs;
        // A maximised window cannot change its height (the platform would drop
        // the maximised state instead).
        if (!maximised)
            twips::setWindowHeight(&m_form, r.height);
        // Without a nested run (maximised, or a platform that reports the new
        // size later) the grid would stay under the bar's old place and overlap
        // the wrapped bar until the next resize: lay it out under the bar now.
        if (m_runs == before)
            m_form.pageView().LayoutThumbnails();
    }

    for (int i = 0; i < FormState::SlotCount; ++i) {
        const bool visible = resizing::slotVisible(i, m_s.LastSlot);
        m_c.Picture1[i]->setVisible(visible);
        m_c.Text1[i]->setVisible(visible);
        m_c.Command3[i]->setVisible(visible);
    }

    if (m_s.LastSlot != remembered)
        refill();
}

void ResizeHandler::refill()
{
    // The refill puts other pictures into the slots: keep what the user typed,
    // so each picture shows its typed name again wherever it lands.
    QStringList typed;
    typed.reserve(FormState::SlotCount);
    for (int i = 0; i < FormState::SlotCount; ++i)
        typed << m_c.Text1[i]->toPlainText();
    resizing::stashTypedNames(m_s.TypedNames, m_s.PageNames, typed, m_s.PictureDir, m_filledLastSlot);
    m_form.pageView().ShowPage(false);
    m_filledLastSlot = m_s.LastSlot;
}
