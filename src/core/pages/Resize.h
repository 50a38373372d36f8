#pragma once

#include "core/pages/Grid.h"

#include <QString>

// What a change of the window's size does to the bars around the thumbnail grid,
// in twips. The grid itself is laid out by grid::compute.
namespace resizing {

constexpr double BottomMargin = grid::BarMargin; // below BottomFrame1 and ArrowFrame
constexpr double ArrowRightMargin = 360;         // right of ArrowFrame
constexpr double WrappedTop = 600;               // TopFrame2's top when it sits under TopFrame1
constexpr double WrapHeightAdded = 500;          // the window grows by this when the bars wrap
constexpr double UnwrapWidth = 22710;            // wider than this, the bars go side by side again

struct Box {
    double left = 0;
    double top = 0;
    double width = 0;
    double height = 0;
};

struct Input {
    double width = 0;  // window's outer width
    double height = 0; // window's outer height
    Box bottomFrame1;
    Box arrowFrame;
    Box topFrame1;
    Box topFrame2;
    bool visible = true; // bars only wrap on a window the user can see
};

enum class ToolBars {
    Unchanged,
    Wrap,   // TopFrame2 goes under TopFrame1 and the window grows
    Unwrap, // TopFrame2 goes back beside TopFrame1
};

struct Result {
    double bottomFrame1Top = 0;
    double arrowFrameTop = 0;
    double arrowFrameLeft = 0;
    ToolBars toolBars = ToolBars::Unchanged;
    double topFrame2Left = 0; // where TopFrame2 stands afterwards
    double topFrame2Top = 0;
    double height = 0; // the window's outer height afterwards
};

// Positions of the bars for the window's current size. The bars wrap when
// TopFrame2 no longer fits beside TopFrame1 and unwrap only above UnwrapWidth, so
// between the two widths they stay as they are.
Result arrange(const Input &in);

// The frame of the controls beyond the two tool bars stands beside the bar
// whose right end is free: TopFrame2 while the bars are side by side, TopFrame1
// while TopFrame2 is wrapped under it. It moves nothing else.
constexpr double ExtrasFrameWidth = 3420;
constexpr double ExtrasFrameHeight = 495;
Box extrasFrame(const Box &topFrame1, double topFrame2Left, double topFrame2Top, double topFrame2Width);

// Whether slot i is shown for a page of lastSlot + 1 slots.
inline bool slotVisible(int slot, int lastSlot)
{
    return slot <= lastSlot && slot <= grid::HighestSlot;
}

} // namespace resizing
