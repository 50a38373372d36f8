#include "ui/window/Twips.h"

#include <QWidget>
#include <cmath>

namespace twips {

int toPx(double t)
{
    return int(std::lround(t / PerPixel));
}

void place(QWidget *w, double l, double t, double wd, double h)
{
    w->setGeometry(toPx(l), toPx(t), toPx(wd), toPx(h));
}

double left(const QWidget *w)
{
    return fromPx(w->x());
}
double top(const QWidget *w)
{
    return fromPx(w->y());
}
double width(const QWidget *w)
{
    return fromPx(w->width());
}
double height(const QWidget *w)
{
    return fromPx(w->height());
}
void setLeft(QWidget *w, double l)
{
    w->move(toPx(l), w->y());
}
void setTop(QWidget *w, double t)
{
    w->move(w->x(), toPx(t));
}
void setHeight(QWidget *w, double h)
{
    w->resize(w->width(), qMax(0, toPx(h)));
}

double windowWidth(const QWidget *window)
{
    return fromPx(window->width()) + FrameWidth;
}
double windowHeight(const QWidget *window)
{
    return fromPx(window->height()) + FrameHeight;
}

void setWindowSize(QWidget *window, double outerWidth, double outerHeight)
{
    window->resize(qMax(1, toPx(outerWidth - FrameWidth)), qMax(1, toPx(outerHeight - FrameHeight)));
}

void setWindowHeight(QWidget *window, double outerHeight)
{
    window->resize(window->width(), qMax(1, toPx(outerHeight - FrameHeight)));
}

} // namespace twips
