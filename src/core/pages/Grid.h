#pragma once

#include <QString>

// Grid arithmetic of the thumbnail page, in twips (15 per logical pixel).
namespace grid {

constexpr double CellHeight = 1800;
constexpr double CellWidth = 4560;
constexpr int RowLimit = 13;
constexpr int ColumnLimit = 20;
// A page has at most this many thumbnail slots, 0..HighestSlot.
constexpr int SlotCount = 53;
constexpr int HighestSlot = SlotCount - 1;
constexpr double ButtonOffset = 1320; // "X" button below the top of its picture box
constexpr double BarMargin = 600;     // between the bottom bar and the window's bottom edge

struct Input {
    double width = 0;             // window's outer width
    double height = 0;            // window's outer height
    double bottomFrameHeight = 0; // BottomFrame1.Height
    double text1Top = 0;          // Text1(0).Top before the layout moves it
    double text1Height = 1575;    // Text1(0).Height
    double picture1Left = 120;    // Picture1(0).Left
};

struct Result {
    int rows = 0;        // GridRows
    int columns = 0;     // GridColumns (whole cells that fit, at most 19)
    int lastSlot = -1;   // LastSlot
    bool placed = false; // false when not even one row fits: nothing moves
};

// Rows and columns that fit and the resulting LastSlot (capped at HighestSlot). When no
// row fits, placed is false and the caller keeps columns and LastSlot as they were.
Result compute(const Input &in);

// Position of slot i (column i / rows, row i % rows) relative to slot 0.
inline double slotRowOffset(int i, int rows)
{
    return (i % rows) * CellHeight;
}
inline double slotColumnOffset(int i, int rows)
{
    return (i / rows) * CellWidth;
}

// The page counter: "Seite: p / pages" and "Bild: first-last / count". When no
// slot fits (lastSlot -1) pages cannot be computed and the first line reads
// "Seite: -".
struct Counter {
    QString pageLine;
    QString pictureLine;
    QString caption() const { return pageLine + QLatin1Char('\n') + pictureLine; }
};
Counter counter(int pageIndex, int lastSlot, int count, int fileCount);

// Whether the arrows are enabled; only applied when lastSlot < count.
inline bool nextEnabled(int pageIndex, int lastSlot, int count)
{
    return qint64(pageIndex + 1) * (lastSlot + 1) < count;
}
inline bool backEnabled(int pageIndex)
{
    return pageIndex > 0;
}

} // namespace grid
