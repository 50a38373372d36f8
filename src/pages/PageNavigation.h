#pragma once

#include "app/Form1.h"

#include <QObject>

class Renaming;
struct Controls;
struct FormState;

// The arrows that move one page forward or back, "Zurücksetzen", and the
// question whether typed names are to be saved before they would be lost. The
// question is also installed as the window's unsaved-names guard, so every part
// that leaves the page asks it the same way.
class PageNavigation : public QObject {
    Q_OBJECT
public:
    PageNavigation(Form1 &form, Renaming &renaming);
    ~PageNavigation() override;

    void NextBtn_Click();
    void ZurueckBtn_Click();
    void ReloadBUtton_Click();

    // True when a filled slot's box differs from its file's name (without the
    // four-character extension), or a name typed for a picture that a relayout
    // moved off the page differs from that picture's name. Case-sensitive.
    bool PageModified() const;

    // Asks about unsaved names when there are any: Yes saves (Saved, or
    // Cancelled when the save was refused), No discards, Cancel cancels.
    Form1::UnsavedAnswer askToSave();

private:
    Form1 &m_form;
    Renaming &m_renaming;
    Controls &m_c;
    FormState &m_s;
};
