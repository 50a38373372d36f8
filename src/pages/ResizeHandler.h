#pragma once

#include <QObject>

class Form1;
struct Controls;
struct FormState;

// Follows the window's size and state: remembers whether it is maximised, keeps
// the bars in place, wraps the second tool bar on narrow windows, lays the grid
// out again and refills the page when the number of slots changed.
class ResizeHandler : public QObject {
    Q_OBJECT
public:
    explicit ResizeHandler(Form1 &form);

    // The window's resize handler; runs on every change of size or state.
    void Form_Resize();

private:
    void run();
    void refill();

    Form1 &m_form;
    Controls &m_c;
    FormState &m_s;

    // Growing the window when the bars wrap raises a resize from within a run; that
    // nested run is wanted (it lays the grid out under the wrapped bar), anything
    // deeper is folded into one more run after the outermost one ends.
    int m_depth = 0;
    bool m_pending = false;
    quint64 m_runs = 0;
    // The LastSlot the page's slots were last filled for: a nested run may see
    // LastSlot already changed by the run around it, before that run refilled.
    int m_filledLastSlot = -1;
};
