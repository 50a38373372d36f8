#pragma once

#include <QString>

class PageModel;
class PageView;
class QWidget;
class Renaming;
class Settings;
class Thumbnails;

// What happens when the window loads: the settings are read, a directory named
// on the command line is taken, the maximised state restored, an interrupted
// renaming put right, the pictures listed, the window shown, the grid laid out
// and the first page filled.
class Startup {
public:
    Startup(QWidget &window, Settings &settings, PageModel &model, PageView &view, Thumbnails &thumbnails,
            Renaming &renaming, const QString &commandLine);

    void Form_Load();
    // The same in steps, for a start-up in turns of the event loop: what
    // happens while the window is hidden (settings, command line, maximised
    // state, an interrupted renaming, the picture list); laying out and
    // filling its first page; showing it, in the order showsBeforeFilling()
    // tells; last, what the user must learn of the start.
    void prepare();
    bool showsBeforeFilling() const;
    void fillFirstPage();
    // Tells when the first page's slots show their first-stage pictures.
    Thumbnails &thumbnails() { return m_thumbnails; }
    void show();
    void finish();

private:
    QWidget &m_window;
    Settings &m_settings;
    PageModel &m_model;
    PageView &m_view;
    Thumbnails &m_thumbnails;
    Renaming &m_renaming;
    QString m_commandLine;
    QString m_missing; // the directory given that does not exist, until said
    QString m_picture; // the picture given, whose page is shown first
};
