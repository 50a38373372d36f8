#pragma once

#include "ui/window/Form1.h"

#include <QObject>
#include <QTimer>
#include <memory>

// Brings the window up in a few turns of the event loop: the window is built,
// loads while hidden (settings, the picture list, the first page), loads its
// fonts while the first page's embedded thumbnails are read, and is shown once
// they are in, so that its first frame is the whole page.
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
    // The window has loaded: its first page is filled and the window shown.
    void loaded();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void step();
    void finish();
    void releaseDecodes();

    Form1::Options m_options;
    bool m_prepared = false;
    bool m_filled = false;
    int m_font = 0;
    bool m_finished = false;
    std::unique_ptr<Form1> m_form;
    QTimer m_wait; // the longest wait for the first page's pictures
    QMetaObject::Connection m_waiting;
};
