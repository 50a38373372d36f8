#pragma once

#include "ui/window/Controls.h"

#include <QWidget>
#include <memory>

class CaptureDates;
class Drops;
class UndoActions;
class Shortcuts;
class DirChooser;
class NameEditing;
class PageModel;
class PageNavigation;
class PageView;
class Renaming;
class ResizeHandler;
class Settings;
class Startup;
class Thumbnails;
class UnsavedNames;
class UpdateActions;
class ViewerActions;

// The one window. It creates the controls exactly as designed, the page model,
// the settings and the controllers that bind the controls to them, connects
// them, and hands its own load, resize and close events on. It has no behaviour
// of its own.
class Form1 : public QWidget {
    Q_OBJECT
public:
    struct Options {
        QString iniPath;        // full path of the settings file
        QString programDir;     // the program's directory (default picture directory)
        QString commandLine;    // the directory named on the command line, may be empty
        bool installed = false; // an installed program, updated by the package manager
    };

    explicit Form1(const Options &options, QWidget *parent = nullptr);
    ~Form1() override;

    // The designed fonts' stand-ins where they are not installed; the window
    // sets them up when it is built.
    static void substituteFonts();
    // Finds a designed font and loads its engine, which its first paint would
    // do otherwise (see Launcher).
    static int designedFontCount();
    static void loadFont(int index);

    // Start-up: settings, command-line directory, maximised state, picture list,
    // show, layout, first page.
    void Form_Load();
    // Form_Load's two steps, for a start-up in turns of the event loop.
    Startup &startup() { return *m_startup; }

    Controls &controls() { return m_c; }
    PageModel &model() { return *m_model; }
    Settings &settings() { return *m_settings; }
    UnsavedNames &unsavedNames() { return *m_unsavedNames; }
    // The window is being closed (set by the close event, never reset).
    bool isClosing() const { return m_closing; }

signals:
    // The window's size or state changed (also while loading).
    void resized();
    // The window is being closed; isClosing() is already true.
    void closing();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *e) override;
    void changeEvent(QEvent *e) override;
    void closeEvent(QCloseEvent *e) override;

private:
    void createControls();
    void createControllers();

    Options m_options;
    Controls m_c;
    bool m_closing = false;
    // The model and the settings outlive every controller (members go in
    // reverse order); the controllers are owned here alone and parented to the
    // window only so that they can be found by type.
    std::unique_ptr<Settings> m_settings;
    std::unique_ptr<PageModel> m_model;
    std::unique_ptr<PageView> m_pageView;
    std::unique_ptr<Thumbnails> m_thumbnails;
    std::unique_ptr<Renaming> m_renaming;
    std::unique_ptr<UnsavedNames> m_unsavedNames;
    std::unique_ptr<NameEditing> m_nameEditing;
    std::unique_ptr<PageNavigation> m_pageNavigation;
    std::unique_ptr<ResizeHandler> m_resizeHandler;
    std::unique_ptr<DirChooser> m_dirChooser;
    std::unique_ptr<ViewerActions> m_viewerActions;
    std::unique_ptr<UpdateActions> m_updateActions;
    std::unique_ptr<CaptureDates> m_captureDates;
    std::unique_ptr<UndoActions> m_undoActions;
    std::unique_ptr<Shortcuts> m_shortcuts;
    std::unique_ptr<Drops> m_drops;
    std::unique_ptr<Startup> m_startup;
};
