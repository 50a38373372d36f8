#pragma once

#include "ui/window/Controls.h"

#include <QObject>

class PageModel;

// Opens a slot's picture in the system's viewer when its box is clicked.
class ViewerActions : public QObject {
    Q_OBJECT
public:
    using PictureBoxes = std::array<PictureBox *, grid::SlotCount>;

    ViewerActions(const PictureBoxes &pictures, const PageModel &model, QObject *parent = nullptr);

    // Opens the picture of slot Index in the viewer; an empty slot does nothing.
    void Picture1_Click(int Index);

private:
    const PageModel &m_model;
};
