#include "ui/pages/NameMarker.h"

#include <QEvent>
#include <QPainter>

NameMarker::NameMarker(QWidget &box) : QWidget(&box)
{
    setObjectName(QStringLiteral("NameMarker"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    setGeometry(box.rect());
    box.installEventFilter(this);
    hide();
}

void NameMarker::setState(State state)
{
    if (state == m_state)
        return;
    m_state = state;
    setVisible(state != State::None);
    if (state != State::None)
        raise();
    update();
}

bool NameMarker::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parent() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    return false;
}

void NameMarker::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    if (m_state == State::Problem) {
        p.setPen(QPen(QColor(0xd0, 0x10, 0x10), 2));
        p.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
    } else if (m_state == State::Changed) {
        p.fillRect(QRect(0, 0, 3, height()), QColor(0x4a, 0x7c, 0xd0));
    }
}
