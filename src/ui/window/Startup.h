#pragma once

#include <QString>

class PageModel;
class PageView;
class QWidget;
class Renaming;
class Settings;

// What happens when the window loads: the settings are read, a directory named
// on the command line is taken, the maximised state restored, an interrupted
// renaming put right, the pictures listed, the window shown, the grid laid out
// and the first page filled.
class Startup {
public:
    Startup(QWidget &window, Settings &settings, PageModel &model, PageView &view, Renaming &renaming,
            const QString &commandLine);

    void Form_Load();
    // The same in steps, for a start-up in turns of the event loop: what
    // happens while the window is hidden (settings, command line, maximised
    // state, an interrupted renaming, the picture list); showing it; laying
    // out and filling its first page, which the user already sees coming.
    void prepare();
    // gradually: the slots are held back now and appear a group a turn once
    // the first page is filled (see PageView::holdSlots).
    void show(bool gradually = false);
    void fillFirstPage();

private:
    QWidget &m_window;
    Settings &m_settings;
    PageModel &m_model;
    PageView &m_view;
    Renaming &m_renaming;
    QString m_commandLine;
    QString m_missing; // the directory given that does not exist, until said
    QString m_picture; // the picture given, whose page is shown first
};
