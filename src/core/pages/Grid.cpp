#include "core/pages/Grid.h"

namespace grid {

Result compute(const Input &in)
{
    Result r;
    const double limit = in.height - in.bottomFrameHeight;
    r.rows = RowLimit;
    double offset = 0;
    for (int i = 1; i <= RowLimit; ++i) {
        if (offset + in.text1Top + in.text1Height > limit) {
            r.rows = i - 1;
            break;
        }
        offset += CellHeight;
    }
    if (r.rows == 0)
        return r;
    r.placed = true;
    int columns = ColumnLimit;
    double colOffset = 0;
    for (int i = 1; i <= ColumnLimit; ++i) {
        columns = i;
        colOffset += CellWidth;
        if (colOffset + in.picture1Left > in.width)
            break;
    }
    r.columns = columns - 1;
    r.lastSlot = qMin(r.columns * r.rows - 1, HighestSlot);
    return r;
}

Counter counter(int pageIndex, int lastSlot, int count, int fileCount)
{
    Counter c;
    const int perPage = lastSlot + 1;
    if (perPage > 0) {
        const int pages = (count + perPage - 1) / perPage;
        c.pageLine = QStringLiteral("Seite: %1 / %2").arg(pageIndex + 1).arg(pages);
    } else {
        c.pageLine = QStringLiteral("Seite: -");
    }
    const qint64 first = qint64(pageIndex) * perPage + 1;
    qint64 last = first + lastSlot;
    if (last > fileCount)
        last = fileCount;
    c.pictureLine = QStringLiteral("Bild: %1-%2 / %3").arg(first).arg(last).arg(count);
    return c;
}

} // namespace grid
