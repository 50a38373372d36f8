#include "ui/window/Widgets.h"

#include <QMouseEvent>
#include <QPainter>

QColor colourFromBgr(quint32 bgr)
{
    return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}

void setBackColour(QWidget *w, quint32 bgr)
{
    QPalette pal = w->palette();
    const QColor c = colourFromBgr(bgr);
    pal.setColor(QPalette::Base, c);
    pal.setColor(QPalette::Button, c);
    pal.setColor(QPalette::Window, c);
    w->setPalette(pal);
    w->setProperty("BackColor", bgr);
}

quint32 backColour(const QWidget *w)
{
    return w->property("BackColor").toUInt();
}

void setTextColour(QWidget *w, quint32 bgr)
{
    QPalette pal = w->palette();
    pal.setColor(QPalette::WindowText, colourFromBgr(bgr));
    pal.setColor(QPalette::Text, colourFromBgr(bgr));
    w->setPalette(pal);
}

QFont makeFont(const QString &family, double pointSize, int weight, bool italic, bool underline)
{
    QFont f(family);
    f.setPointSizeF(pointSize);
    f.setWeight(weight >= 900 ? QFont::Black : weight >= 700 ? QFont::Bold : QFont::Normal);
    f.setItalic(italic);
    f.setUnderline(underline);
    return f;
}

void ClickLabel::mouseReleaseEvent(QMouseEvent *e)
{
    if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()))
        emit clicked();
    QLabel::mouseReleaseEvent(e);
}

PictureBox::PictureBox(QWidget *parent) : ClickLabel(parent) {}

void PictureBox::setPicture(const QPixmap &p)
{
    m_picture = p;
    update();
}

QSize PictureBox::devicePixelSize() const
{
    return size() * devicePixelRatioF();
}

void PictureBox::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (!m_picture.isNull()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawPixmap(rect(), m_picture);
    }
}
