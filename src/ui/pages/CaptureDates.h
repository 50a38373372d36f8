#pragma once

#include "core/pages/PageModel.h"
#include "core/pictures/DateReader.h"

#include <QObject>

class QMenu;
class QAction;
class QWidget;
class Settings;
class UnsavedNames;
struct Controls;

// Each picture's own capture date: read off the GUI thread for the pictures of
// the page shown (the name boxes' tooltips name it and its source) and, when
// the list is ordered by date, for every picture of the directory, with the
// progress in the counter. Puts the dates in front of the page's names
// ("Aufnahme&datum") and switches the list order (the counter's context menu).
class CaptureDates : public QObject {
    Q_OBJECT
public:
    CaptureDates(QWidget &window, Controls &controls, PageModel &model, Settings &settings,
                 UnsavedNames &unsaved, QObject *parent = nullptr);

    // "Aufnahme&datum": each filled slot's name gets its picture's date in
    // front; the focus goes to Text1(0). Dates still being read are waited for.
    void Aufnahmedatum_Click();
    // The counter's context menu: the two orders, the current one checked.
    void CounterTxt_ContextMenu(const QPoint &pos);
    // An order chosen in that menu: asks about typed names, stores the order,
    // then the list shows page 1 in it.
    void Sortierung_Click(PageModel::Order order);
    // The window is closing: no more work.
    void windowClosing();

    QMenu &orderMenu() { return *m_menu; }
    dates::DateReader &reader() { return m_reader; }
    // A prefix click waits for the page's dates.
    bool prefixPending() const { return m_prefixPending; }

signals:
    // The dates of the page shown are all in.
    void pageDatesRead();

private:
    void pageShown();
    void readPageDates();
    void orderingStarted();
    void datesRead(int request, const QList<dates::Dated> &batch);
    void requestFinished(int request);
    void addPrefixes();
    QString usableFormat();

    QWidget &m_window;
    Controls &m_c;
    PageModel &m_model;
    Settings &m_settings;
    UnsavedNames &m_unsaved;
    dates::DateReader m_reader;
    QMenu *m_menu = nullptr;
    QAction *m_byName = nullptr;
    QAction *m_byDate = nullptr;
    bool m_closing = false;

    // The page's dates: the request, the listing it was made for, and the
    // list entry of each of its files.
    int m_pageRequest = 0;
    quint64 m_pageListing = 0;
    QList<int> m_pageEntries;
    // The order's dates: the request and the listing it was made for.
    int m_orderRequest = 0;
    quint64 m_orderListing = 0;
    // A prefix click waiting for the dates of the page of this generation.
    bool m_prefixPending = false;
    quint64 m_prefixGeneration = 0;
    bool m_formatReported = false;
};
