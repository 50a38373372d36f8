#pragma once

#include <QObject>
#include <functional>

class PageModel;
class QCheckBox;
class QWidget;
class Settings;
class UnsavedNames;
struct Controls;

// "Rückgängig" takes the directory's last save back (and, pressed again, the
// one before), asking first about typed names; its tooltip says what it will
// do, and it is disabled when there is nothing to take back. Also the switches
// that decide what a save takes, kept in the settings: "Begleitdateien
// mitnehmen" and "Alle Seiten".
class UndoActions : public QObject {
    Q_OBJECT
public:
    UndoActions(QWidget &window, Controls &controls, PageModel &model, Settings &settings,
                UnsavedNames &unsaved, QObject *parent = nullptr);

    void Rueckgaengig_Click();

private:
    void refresh();
    void bindSwitch(QCheckBox *box, const std::function<bool()> &stored,
                    const std::function<void(bool)> &store, const std::function<void(bool)> &apply);

    QWidget &m_window;
    Controls &m_c;
    PageModel &m_model;
    Settings &m_settings;
    UnsavedNames &m_unsaved;
};
