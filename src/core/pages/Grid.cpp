#include "core/pages/Grid.h"

namespace grid {

Result compute(const Input &in)
{
    Result r;
    // Rows end above the bottom bar's top: the bar stands BarMargin above the
    // window's bottom edge, and a row reaching into that band would cover the
    // save button and the counter.
    const double limit = in.height - in.bottomFrameHeight - BarMargin;
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
    if (perPage <= 0) {
        c.pageLine = QStringLiteral("Seite: -");
        c.pictureLine = QStringLiteral("Bild: - / %1").arg(count);
        return c;
    }
    // Never a page beyond the last (a directory that lost pictures) nor a
    // range that ends before it starts (an empty one): an empty directory is
    // one empty page.
    const int pages = qMax(1, (count + perPage - 1) / perPage);
    pageIndex = qBound(0, pageIndex, pages - 1);
    c.pageLine = QStringLiteral("Seite: %1 / %2").arg(pageIndex + 1).arg(pages);
    const qint64 first = qint64(pageIndex) * perPage + 1;
    const qint64 last = qMin<qint64>(first + lastSlot, fileCount);
    if (last < first)
        c.pictureLine = QStringLiteral("Bild: 0 / %1").arg(count);
    else
        c.pictureLine = QStringLiteral("Bild: %1-%2 / %3").arg(first).arg(last).arg(count);
    return c;
}

} // namespace grid
