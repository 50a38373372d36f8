#pragma once

#include "app/Controls.h"
#include "pages/FormState.h"

#include <QWidget>
#include <functional>
#include <memory>

class NameEditing;
class PageNavigation;
class Renaming;
class PageView;

// The one window. It creates the controls exactly as designed, owns the form
// state, creates the controllers and hands the window's own events on to them.
class Form1 : public QWidget {
    Q_OBJECT
public:
    struct Options {
        QString iniPath;     // full path of the settings file
        QString programDir;  // the program's directory (default picture directory)
        QString commandLine; // the directory named on the command line, may be empty
    };

    explicit Form1(const Options &options, QWidget *parent = nullptr);
    ~Form1() override;

    Controls &controls() { return m_c; }
    FormState &state() { return m_state; }
    const Options &options() const { return m_options; }
    PageView &pageView() { return *m_pageView; }

    // Start-up: form state, settings path, command-line directory, maximised
    // state, picture list, show, layout, first page.
    void Form_Load();

    // What the user decided about typed, unsaved names before the page is left or
    // the program ends.
    enum class UnsavedAnswer {
        NothingPending, // the page holds no typed names
        Saved,          // Yes: the names were saved
        Discard,        // No: go on without saving
        Cancelled,      // Cancel, or a Yes whose save was refused
    };
    // Asks about unsaved names through the installed guard; without one there is
    // nothing to ask.
    UnsavedAnswer askAboutUnsavedNames();
    std::function<UnsavedAnswer()> unsavedNamesGuard;

signals:
    // The window's size or state changed (also while loading).
    void resized();
    // The window is being closed; Closing is already set.
    void closing();

protected:
    void resizeEvent(QResizeEvent *e) override;
    void changeEvent(QEvent *e) override;
    void closeEvent(QCloseEvent *e) override;

private:
    void createControls();
    void createControllers();

    Options m_options;
    Controls m_c;
    FormState m_state;
    std::unique_ptr<PageView> m_pageView;
    std::unique_ptr<NameEditing> m_nameEditing;
    std::unique_ptr<Renaming> m_renaming;
    std::unique_ptr<PageNavigation> m_pageNavigation;
};
