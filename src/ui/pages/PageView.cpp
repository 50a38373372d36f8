#include "ui/pages/PageView.h"

#include "core/pages/Grid.h"
#include "core/pages/PageModel.h"
#include "core/pages/Resize.h"
#include "ui/pages/NameMarker.h"
#include "ui/window/Controls.h"
#include "ui/window/Twips.h"
#include "ui/window/Widgets.h"

#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

PageView::PageView(QWidget &window, Controls &controls, PageModel &model, QObject *parent)
    : QObject(parent), m_window(window), m_c(controls), m_model(model)
{
    connect(&model, &PageModel::pageShown, this, &PageView::pageShown);
    connect(&model, &PageModel::nameChanged, this, [this](int slot) {
        showName(slot);
        showMarkers();
    });
    connect(&model, &PageModel::namesChanged, this, &PageView::showNames);
    connect(&model, &PageModel::captureDateChanged, this,
            [this](int listIndex) { showDate(m_model.slotOf(listIndex)); });
    connect(&model, &PageModel::orderingProgressed, this,
            [this] { m_c.CounterTxt->setText(m_model.counterCaption()); });
    for (int i = 0; i < grid::SlotCount; ++i) {
        connect(m_c.Text1[i], &QPlainTextEdit::textChanged, this, [this, i] { boxEdited(i); });
    }
}

void PageView::boxEdited(int slot)
{
    if (m_writing)
        return;
    m_model.setName(slot, m_c.Text1[slot]->toPlainText());
    // A name typed may end or make a duplicate in other boxes of the page.
    showMarkers();
}

void PageView::showMarker(int slot)
{
    if (slot < 0 || slot >= grid::SlotCount)
        return;
    const QString problem = m_model.nameProblem(slot);
    const NameMarker::State state = !problem.isEmpty()          ? NameMarker::State::Problem
                                    : m_model.nameDiffers(slot) ? NameMarker::State::Changed
                                                                : NameMarker::State::None;
    // Made when first needed: most boxes of a start never show one.
    NameMarker *&marker = m_markers[size_t(slot)];
    if (!marker && state != NameMarker::State::None)
        marker = new NameMarker(*m_c.Text1[slot]);
    if (marker)
        marker->setState(state);
    // The date a prefix would take, and where it comes from.
    const std::optional<dates::CaptureDate> date =
        m_model.isFilled(slot) ? m_model.pictures().at(m_model.listIndex(slot)).date : std::nullopt;
    QStringList tip;
    if (!problem.isEmpty())
        tip << problem;
    if (date)
        tip << dates::describe(*date);
    m_c.Text1[slot]->setToolTip(tip.join(QLatin1Char('\n')));
}

void PageView::showMarkers()
{
    for (int i = 0; i <= m_model.lastSlot() && i < grid::SlotCount; ++i)
        showMarker(i);
    const int changed = m_model.changedCount();
    m_c.GeaendertTxt->setText(changed == 0   ? QString()
                              : changed == 1 ? QStringLiteral("1 Name geändert")
                                             : QStringLiteral("%1 Namen geändert").arg(changed));
}

void PageView::showName(int slot)
{
    if (slot < 0 || slot >= grid::SlotCount)
        return;
    QPlainTextEdit *box = m_c.Text1[slot];
    const QString text = m_model.name(slot);
    if (box->toPlainText() == text)
        return;
    m_writing = true;
    box->setPlainText(text);
    m_writing = false;
}

void PageView::showDate(int slot)
{
    showMarker(slot);
}

void PageView::showNames()
{
    for (int i = 0; i <= m_model.lastSlot(); ++i)
        showName(i);
    showMarkers();
}

void PageView::setSlotVisible(int slot, bool visible)
{
    m_c.Text1[slot]->setVisible(visible);
    m_c.Picture1[slot]->setVisible(visible);
    m_c.Command3[slot]->setVisible(visible);
}

void PageView::pageShown()
{
    m_c.VerzeichnisText->setText(m_model.directoryCaption());
    m_c.NextBtn->setEnabled(m_model.nextEnabled());
    m_c.ZurueckBtn->setEnabled(m_model.backEnabled());
    m_c.CounterTxt->setText(m_model.counterCaption());
    for (int i = 0; i <= m_model.lastSlot(); ++i) {
        showName(i);
        setSlotVisible(i, m_model.isFilled(i));
    }
    showMarkers();
}

void PageView::showSlotsUpTo(int lastSlot)
{
    for (int i = 0; i < grid::SlotCount; ++i)
        setSlotVisible(i, resizing::slotVisible(i, lastSlot));
}

void PageView::LayoutThumbnails()
{
    grid::Input in;
    in.width = twips::windowWidth(&m_window);
    in.height = twips::windowHeight(&m_window);
    in.bottomFrameHeight = twips::height(m_c.BottomFrame1);
    // Rows are fitted from where the layout puts the first row: under the
    // second tool bar, which wrapping may just have moved down.
    in.text1Top = twips::top(m_c.TopFrame2) + twips::height(m_c.TopFrame2);
    in.text1Height = twips::height(m_c.Text1[0]);
    in.picture1Left = twips::left(m_c.Picture1[0]);
    const grid::Result r = grid::compute(in);
    m_gridRows = r.rows;
    if (!r.placed)
        return;

    const double top0 = twips::top(m_c.TopFrame2) + twips::height(m_c.TopFrame2);
    twips::setTop(m_c.Picture1[0], top0);
    twips::setTop(m_c.Text1[0], top0);
    twips::setTop(m_c.Command3[0], top0 + grid::ButtonOffset);
    const double pl = twips::left(m_c.Picture1[0]);
    const double tl = twips::left(m_c.Text1[0]);
    const double bl = twips::left(m_c.Command3[0]);
    // Slot i stands in column i / rows and row i % rows, counted from slot 0.
    for (int i = 1; i <= grid::HighestSlot; ++i) {
        const double top = top0 + grid::slotRowOffset(i, r.rows);
        const double col = grid::slotColumnOffset(i, r.rows);
        twips::place(m_c.Picture1[i], pl + col, top, twips::width(m_c.Picture1[i]),
                     twips::height(m_c.Picture1[i]));
        twips::place(m_c.Text1[i], tl + col, top, twips::width(m_c.Text1[i]), twips::height(m_c.Text1[i]));
        twips::place(m_c.Command3[i], bl + col, top + grid::ButtonOffset, twips::width(m_c.Command3[i]),
                     twips::height(m_c.Command3[i]));
    }
    m_gridColumns = r.columns;
    m_model.setLastSlot(r.lastSlot);
}
