#pragma once

#include <QObject>

class PageModel;
class PageView;
class QWidget;
class Settings;
struct Controls;

// Follows the window's size and state: remembers whether it is maximised, keeps
// the bars in place, wraps the second tool bar on narrow windows, lays the grid
// out again and refills the page when the number of slots changed.
class ResizeHandler : public QObject {
    Q_OBJECT
public:
    ResizeHandler(QWidget &window, Controls &controls, Settings &settings, PageModel &model, PageView &view,
                  QObject *parent = nullptr);

    // The window's resize handler; runs on every change of size or state.
    void Form_Resize();

private:
    void run();

    QWidget &m_window;
    Controls &m_c;
    Settings &m_settings;
    PageModel &m_model;
    PageView &m_view;

    // Growing the window when the bars wrap raises a resize from within a run; that
    // nested run is wanted (it lays the grid out under the wrapped bar), anything
    // deeper is folded into one more run after the outermost one ends.
    int m_depth = 0;
    bool m_pending = false;
    quint64 m_runs = 0;
};
