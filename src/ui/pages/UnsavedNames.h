#pragma once

class PageModel;
class QWidget;
class Renaming;

// The question before typed, unsaved names would be lost: leaving the page,
// choosing another directory, ending the program for an update. One object,
// handed to every part that asks it, so all ask it the same way.
class UnsavedNames {
public:
    enum class Answer {
        NothingPending, // no picture has a typed name
        Saved,          // Yes: the names were saved
        Discard,        // No: go on without saving
        Cancelled,      // Cancel, or a Yes whose save was refused
    };

    UnsavedNames(QWidget &window, PageModel &model, Renaming &renaming);

    // Asks when there are typed names: Yes saves, No discards, Cancel cancels.
    Answer ask();

private:
    QWidget &m_window;
    PageModel &m_model;
    Renaming &m_renaming;
};
