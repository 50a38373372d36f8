#pragma once

#include <QObject>

class PageModel;
class QWidget;
class Settings;
class UnsavedNames;
struct Controls;

// "Rückgängig" takes the directory's last save back (and, pressed again, the
// one before), asking first about typed names; its tooltip says what it will
// do, and it is disabled when there is nothing to take back. Also the switch
// "Begleitdateien mitnehmen", kept in the settings.
class UndoActions : public QObject {
    Q_OBJECT
public:
    UndoActions(QWidget &window, Controls &controls, PageModel &model, Settings &settings,
                UnsavedNames &unsaved, QObject *parent = nullptr);

    void Rueckgaengig_Click();

private:
    void refresh();

    QWidget &m_window;
    Controls &m_c;
    PageModel &m_model;
    Settings &m_settings;
    UnsavedNames &m_unsaved;
};
