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

private:
    QWidget &m_window;
    Settings &m_settings;
    PageModel &m_model;
    PageView &m_view;
    Renaming &m_renaming;
    QString m_commandLine;
};
