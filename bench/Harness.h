#pragma once

#include "ui/window/Form1.h"

#include <QSize>
#include <QString>
#include <QTemporaryDir>
#include <memory>

class Launcher;
class PageModel;
class Thumbnails;
class QAbstractButton;

namespace bench {

// The window size at which the page holds all 53 slots, and one at which it
// holds 25 (5 columns of 5 rows, the same 5 columns as the full page).
inline const QSize FullPage(1600, 1700);
inline const QSize SmallPage(1600, 700);

// A real window over a picture directory, as the program opens it, with its
// settings file and its rename journals in temporary directories of its own.
// Message boxes are answered: OK, and No to the question about unsaved names.
class Window {
public:
    // Writes the window's settings file (thumbnails on or off) and, unless
    // build is false, builds the window.
    Window(const QString &pictureDir, bool thumbnails, QSize size = FullPage, bool build = true);
    ~Window();

    // Builds the window at its size; nothing is loaded yet. Left to the caller
    // when the building is to be measured.
    void build();
    // Start-up: settings, list, show, layout, first page.
    void load() { m_form->Form_Load(); }
    // Start-up as the program does it, in turns of the event loop: fonts, the
    // window, its load. Returns at once; the window is there once built() is.
    void launch();
    bool built() const { return m_form != nullptr; }
    Launcher *launcher() const { return m_launcher.get(); }
    // Makes the window the active one, as a window manager does after the
    // start, so that the focus moves with clicks as it does for the user.
    bool activate();

    Form1 &form() { return *m_form; }
    Controls &controls() { return m_form->controls(); }
    PageModel &model() { return m_form->model(); }
    Thumbnails &thumbnails() { return *m_thumbnails; }
    int slotCount() const;
    int filledSlots() const;

    // Waits, without spinning, until the pass of the page shown is over (or the
    // pool was idle to begin with). False at the limit.
    bool waitForPass(int limitMs = 120000);
    // Waits until the pool has no work left, neither for the page shown nor for
    // its neighbours.
    bool waitForIdle(int limitMs = 120000);

private:
    QTemporaryDir m_programDir;
    QTemporaryDir m_journals;
    Form1::Options m_options;
    QSize m_size;
    std::unique_ptr<Launcher> m_launcher;
    Form1 *m_form = nullptr;
    std::unique_ptr<Form1> m_built;
    Thumbnails *m_thumbnails = nullptr;
};

// The title of the last message box the window showed (answered as above).
QString lastMessageTitle();

// A click with the mouse, as the user gives it: press and release in the
// middle of the button, with the focus moving as it does for the user.
void click(QAbstractButton *button);

} // namespace bench
