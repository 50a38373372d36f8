#pragma once

#include <QObject>

struct Controls;
class QWidget;

// The keys a desktop user expects, from anywhere in the window, each doing
// exactly what its button does (with the button's questions): Page Down / Page
// Up page like the arrows, Ctrl+S saves, F5 reads the directory again, Ctrl+O
// opens the directory chooser and Escape closes it as "Abbruch" does; Alt+Up /
// Alt+Down move the focus to the name box above / below. Keys the boxes use
// (Enter, letters, Ctrl+Z) are left to them. Each button's tooltip names its key.
class Shortcuts : public QObject {
    Q_OBJECT
public:
    Shortcuts(QWidget &window, Controls &controls, QObject *parent = nullptr);
    ~Shortcuts() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool moveBetweenNameBoxes(int step);

    QWidget &m_window;
    Controls &m_c;
};
