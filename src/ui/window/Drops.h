#pragma once

#include <QObject>

class DirChooser;
class QWidget;

// Folders and pictures dragged from a file manager onto the window: a folder
// opens as the chooser's "Speichern" would open it, a picture opens its folder
// at its page. Anything else is refused where it would land, so the cursor
// shows that nothing will happen; the name boxes never take a dragged file's
// path as text. Text dragged into a name box stays the box's own business.
class Drops : public QObject {
    Q_OBJECT
public:
    Drops(QWidget &window, DirChooser &chooser, QObject *parent = nullptr);
    ~Drops() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget &m_window;
    DirChooser &m_chooser;
};
