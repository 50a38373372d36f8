#pragma once

#include "ui/window/Form1.h"

#include <QObject>
#include <memory>

// Brings the window up in a few turns of the event loop rather than in one
// long stretch, so the program takes input and paints from its first moment:
// the fonts are loaded, the window is built, then it loads (settings, the
// picture list, show, the first page) and paints.
class Launcher : public QObject {
    Q_OBJECT
public:
    explicit Launcher(const Form1::Options &options, QObject *parent = nullptr);
    ~Launcher() override;

    // Returns at once; the steps follow in the event loop.
    void start();
    // The window, once built (null before).
    Form1 *form() const { return m_form.get(); }

signals:
    // The window is built, not yet loaded.
    void built();
    // The window has loaded: its first page is filled.
    void loaded();

private:
    void step();

    Form1::Options m_options;
    int m_font = 0;
    int m_stage = 0; // once the window is built: prepare, show, first page
    std::unique_ptr<Form1> m_form;
};
