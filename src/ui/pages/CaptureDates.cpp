#include "ui/pages/CaptureDates.h"

#include "core/settings/Settings.h"
#include "ui/pages/UnsavedNames.h"
#include "ui/window/Controls.h"
#include "ui/window/Dialogs.h"

#include <QActionGroup>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>

CaptureDates::CaptureDates(QWidget &window, Controls &controls, PageModel &model, Settings &settings,
                           UnsavedNames &unsaved, QObject *parent)
    : QObject(parent), m_window(window), m_c(controls), m_model(model), m_settings(settings),
      m_unsaved(unsaved)
{
    connect(m_c.Aufnahmedatum, &QPushButton::clicked, this, &CaptureDates::Aufnahmedatum_Click);
    connect(&m_model, &PageModel::pageShown, this, &CaptureDates::pageShown);
    connect(&m_model, &PageModel::orderingStarted, this, &CaptureDates::orderingStarted);
    connect(&m_reader, &dates::DateReader::datesRead, this,
            [this](int request, const QList<dates::Dated> &batch) { datesRead(request, batch); });
    connect(&m_reader, &dates::DateReader::finished, this, &CaptureDates::requestFinished);

    // The order needs no room of its own: it is a property of the list the
    // counter counts.
    m_menu = new QMenu(&window);
    auto *group = new QActionGroup(m_menu);
    m_byName = m_menu->addAction(QStringLiteral("Nach Name sortieren"));
    m_byDate = m_menu->addAction(QStringLiteral("Nach Aufnahmedatum sortieren"));
    for (QAction *a : {m_byName, m_byDate}) {
        a->setCheckable(true);
        group->addAction(a);
    }
    // triggered comes from the user's choice only.
    connect(m_byName, &QAction::triggered, this, [this] { Sortierung_Click(PageModel::Order::Name); });
    connect(m_byDate, &QAction::triggered, this, [this] { Sortierung_Click(PageModel::Order::CaptureDate); });
    m_c.CounterTxt->setContextMenuPolicy(Qt::CustomContextMenu);
    m_c.CounterTxt->setToolTip(QStringLiteral("Rechtsklick: nach Name oder nach Aufnahmedatum sortieren"));
    connect(m_c.CounterTxt, &QLabel::customContextMenuRequested, this, &CaptureDates::CounterTxt_ContextMenu);
}

void CaptureDates::windowClosing()
{
    m_closing = true;
    m_reader.cancel(m_pageRequest);
    m_reader.cancel(m_orderRequest);
    m_prefixPending = false;
}

// ---- the dates of the page ----

void CaptureDates::pageShown()
{
    // A reloaded page is another page: a prefix click for the one before goes.
    if (m_prefixPending && m_prefixGeneration != m_model.generation())
        m_prefixPending = false;
    readPageDates();
}

void CaptureDates::readPageDates()
{
    if (m_closing)
        return;
    QStringList paths;
    QList<int> entries;
    const bool whole = m_prefixPending && m_model.wholeDirectory();
    const int count = whole ? m_model.fileCount() : m_model.lastSlot() + 1;
    for (int i = 0; i < count; ++i) {
        if (!whole && !m_model.isFilled(i))
            continue;
        const int k = whole ? i : m_model.listIndex(i);
        if (m_model.pictures().at(k).date)
            continue;
        paths << m_model.pathOf(k);
        entries << k;
    }
    if (paths.isEmpty() && !m_reader.running(m_pageRequest)) {
        if (m_prefixPending)
            addPrefixes();
        return;
    }
    m_reader.cancel(m_pageRequest);
    m_pageListing = m_model.listing();
    m_pageEntries = entries;
    m_pageRequest = m_reader.read(paths, true);
}

void CaptureDates::datesRead(int request, const QList<dates::Dated> &batch)
{
    if (request == m_orderRequest) {
        if (m_model.isOrdering() && m_model.listing() == m_orderListing)
            m_model.setOrderingDates(batch);
        return;
    }
    if (request != m_pageRequest || m_model.listing() != m_pageListing)
        return;
    for (const dates::Dated &d : batch) {
        if (d.index >= 0 && d.index < m_pageEntries.size())
            m_model.setCaptureDate(m_pageEntries.at(d.index), d.date);
    }
}

void CaptureDates::requestFinished(int request)
{
    if (request != m_pageRequest)
        return;
    emit pageDatesRead();
    if (m_prefixPending && m_model.toolDatesKnown())
        addPrefixes();
}

// ---- the prefix ----

QString CaptureDates::usableFormat()
{
    const QString format = m_settings.datumFormat();
    if (dates::isUsableFormat(format))
        return format;
    // Said once a run: the names still get their dates, in the default form.
    if (!m_formatReported) {
        m_formatReported = true;
        platform::Notice(
            &m_window,
            QStringLiteral("Das Datumsformat „%1“ (Einstellung „DatumFormat“) ergibt kein Datum.\n\n"
                           "Namora verwendet stattdessen „%2“.")
                .arg(format, dates::defaultFormat()),
            QStringLiteral("Datumsformat"));
    }
    return dates::defaultFormat();
}

void CaptureDates::Aufnahmedatum_Click()
{
    if (m_closing || m_model.isOrdering())
        return;
    if (!m_model.toolDatesKnown()) {
        // The page's dates are on their way (read when the page was shown);
        // the click takes effect when they are in, or, with the whole
        // directory, when every picture's are.
        m_prefixPending = true;
        m_prefixGeneration = m_model.generation();
        if (!m_reader.running(m_pageRequest))
            readPageDates();
        return;
    }
    addPrefixes();
}

void CaptureDates::addPrefixes()
{
    m_prefixPending = false;
    m_model.addCaptureDatePrefix(usableFormat(), dates::separatorFor(m_c.JahrText->text()));
    // As after "|<- Links anfügen": on to the first name, whose focus handling
    // selects what follows the prefix.
    QPlainTextEdit *first = m_c.Text1[0];
    if (first->isEnabled() && first->isVisibleTo(&m_window))
        first->setFocus(Qt::OtherFocusReason);
}

// ---- the order ----

void CaptureDates::CounterTxt_ContextMenu(const QPoint &pos)
{
    const bool byDate = m_model.order() == PageModel::Order::CaptureDate;
    m_byDate->setChecked(byDate);
    m_byName->setChecked(!byDate);
    // Not exec(): a nested event loop would run the window's handlers inside
    // this one.
    m_menu->popup(m_c.CounterTxt->mapToGlobal(pos));
}

void CaptureDates::Sortierung_Click(PageModel::Order order)
{
    if (order == m_model.order())
        return;
    // Yes saves, No drops the typed names; either way the list may move.
    if (m_unsaved.ask() == UnsavedNames::Answer::Cancelled)
        return;
    m_settings.setSortByCaptureDate(order == PageModel::Order::CaptureDate);
    m_model.setOrder(order);
    if (order == PageModel::Order::Name)
        m_reader.cancel(m_orderRequest);
}

void CaptureDates::orderingStarted()
{
    m_reader.cancel(m_orderRequest);
    m_orderRequest = 0;
    if (m_closing)
        return;
    m_orderListing = m_model.listing();
    m_orderRequest = m_reader.read(m_model.orderingPaths());
}
