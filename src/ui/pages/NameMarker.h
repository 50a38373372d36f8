#pragma once

#include <QWidget>

// Drawn over a name box, leaving its colours alone: a red frame when the save
// would refuse the name, a thin blue bar at its left edge when the name differs
// from its file's (what "Namen Speichern" will change). It lets every click
// through and follows the box's size.
class NameMarker : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int state READ stateValue)
public:
    enum class State { None, Changed, Problem };
    explicit NameMarker(QWidget &box);

    void setState(State state);
    State state() const { return m_state; }
    int stateValue() const { return int(m_state); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    State m_state = State::None;
};
