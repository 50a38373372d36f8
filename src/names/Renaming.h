#pragma once

#include <QObject>

class Form1;
struct Controls;
struct FormState;

// "Namen Speichern": checks the page's new names, renames the files all or
// nothing, and tells the user the outcome. At start-up it also puts back the
// files of a renaming that a crash interrupted.
class Renaming : public QObject {
    Q_OBJECT
public:
    explicit Renaming(Form1 &form);

    // Saves the typed names of the page (and names typed for pictures that a
    // relayout moved off it). True when every file now has its typed name.
    bool Speichern_Click();

    // True (after its message) when two filled slots carry the same name.
    bool CheckDuplicates();

    // Recovers journals left by an interrupted renaming and says what was done.
    void recoverInterruptedRenames();

private:
    Form1 &m_form;
    Controls &m_c;
    FormState &m_s;
};
