#pragma once

#include "core/pages/Grid.h"

#include <QObject>
#include <array>

class PageModel;
class QWidget;
struct Controls;

// Binds the thumbnail slots to the page model: places the slots for the
// window's size, shows each slot's name and hides the slots without a picture,
// and keeps the counter, the arrows' enabled states and the directory label in
// step with the page. What the user types into a name box goes to the model.
// The only writer of the slots' name boxes, their visibility and geometry.
class NameMarker;
class PageView : public QObject {
    Q_OBJECT
public:
    PageView(QWidget &window, Controls &controls, PageModel &model, QObject *parent = nullptr);

    // Fits the slots into the window's size and gives the model the highest
    // slot that fits. When not even one row fits nothing moves.
    void LayoutThumbnails();

    // Shows slots 0..lastSlot and hides the others.
    void showSlotsUpTo(int lastSlot);

    int gridRows() const { return m_gridRows; }
    int gridColumns() const { return m_gridColumns; }

private:
    void pageShown();
    void setSlotVisible(int slot, bool visible);
    void showName(int slot);
    void showNames();
    void showDate(int slot);
    void boxEdited(int slot);
    // The markers and tooltips of the page's boxes: what the save would refuse,
    // what it will change, the capture date.
    void showMarker(int slot);
    void showMarkers();

    QWidget &m_window;
    Controls &m_c;
    PageModel &m_model;
    int m_gridRows = 0;     // rows that fit; 0 before the first layout
    int m_gridColumns = 0;  // columns that fit; 0 before the first layout
    bool m_writing = false; // a box is being set from the model, not typed into
    std::array<NameMarker *, grid::SlotCount> m_markers{};
};
