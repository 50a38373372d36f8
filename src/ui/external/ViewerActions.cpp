#include "ui/external/ViewerActions.h"

#include "core/pages/PageModel.h"
#include "core/platform/Process.h"
#include "core/platform/Viewer.h"
#include "ui/window/Widgets.h"

ViewerActions::ViewerActions(const PictureBoxes &pictures, const PageModel &model, QObject *parent)
    : QObject(parent), m_model(model)
{
    for (int i = 0; i < grid::SlotCount; ++i)
        connect(pictures[i], &PictureBox::clicked, this, [this, i] { Picture1_Click(i); });
}

void ViewerActions::Picture1_Click(int Index)
{
    if (Index < 0 || Index > m_model.lastSlot())
        return;
    const viewer::Command command = viewer::viewerCommand(m_model.filePath(Index));
    if (command.program.isEmpty())
        return;
    // Whether the viewer starts is not our concern: no message either way.
    platform::startDetached(command.program, command.arguments);
}
