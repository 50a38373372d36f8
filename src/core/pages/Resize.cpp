#include "core/pages/Resize.h"

namespace resizing {

Result arrange(const Input &in)
{
    Result r;
    r.bottomFrame1Top = in.height - in.bottomFrame1.height - BottomMargin;
    r.arrowFrameTop = in.height - in.arrowFrame.height - BottomMargin;
    r.arrowFrameLeft = in.width - in.arrowFrame.width - ArrowRightMargin;
    r.topFrame2Left = in.topFrame2.left;
    r.topFrame2Top = in.topFrame2.top;
    r.height = in.height;

    const bool sideBySide = in.topFrame2.left != in.topFrame1.left;
    if (in.topFrame2.left + in.topFrame2.width > in.width && sideBySide && in.visible) {
        r.toolBars = ToolBars::Wrap;
        r.topFrame2Left = in.topFrame1.left;
        r.topFrame2Top = WrappedTop;
        r.height = in.height + WrapHeightAdded;
    } else if (in.width > UnwrapWidth && !sideBySide) {
        r.toolBars = ToolBars::Unwrap;
        r.topFrame2Left = in.topFrame1.left + in.topFrame1.width;
        r.topFrame2Top = in.topFrame1.top;
    }
    return r;
}

Box extrasFrame(const Box &topFrame1, double topFrame2Left, double topFrame2Top, double topFrame2Width)
{
    const bool sideBySide = topFrame2Left != topFrame1.left;
    if (sideBySide)
        return {topFrame2Left + topFrame2Width, topFrame2Top, ExtrasFrameWidth, ExtrasFrameHeight};
    return {topFrame1.left + topFrame1.width, topFrame1.top, ExtrasFrameWidth, ExtrasFrameHeight};
}

} // namespace resizing
