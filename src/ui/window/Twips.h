#pragma once

#include <QtGlobal>

class QWidget;

// The layout arithmetic works in twips, as the program always has; widgets are
// placed in logical pixels. 15 twips make one logical pixel (96 dpi).
namespace twips {

constexpr double PerPixel = 15;

// The window's outer size is its client size plus a fixed frame allowance, so the
// designed client area 22875 x 10260 is the outer 22995 x 10800 that the layout
// rules expect, on every platform, offscreen included.
constexpr double FrameWidth = 120;
constexpr double FrameHeight = 540;

// The one place where twips are rounded to pixels.
int toPx(double t);
inline double fromPx(int px)
{
    return px * PerPixel;
}

void place(QWidget *w, double left, double top, double width, double height);
double left(const QWidget *w);
double top(const QWidget *w);
double width(const QWidget *w);
double height(const QWidget *w);
void setLeft(QWidget *w, double left);
void setTop(QWidget *w, double top);
void setHeight(QWidget *w, double height);

// Outer size of a top-level window.
double windowWidth(const QWidget *window);
double windowHeight(const QWidget *window);
void setWindowSize(QWidget *window, double outerWidth, double outerHeight);
void setWindowHeight(QWidget *window, double outerHeight);

} // namespace twips
