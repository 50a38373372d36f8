#include "core/pages/Grid.h"

#include <QtTest>

class GridTest : public QObject {
    Q_OBJECT
private slots:
    void layoutFitsRowsAndColumns_data();
    void layoutFitsRowsAndColumns();
    void rowsEndAboveTheBottomBar();
    void counterCaption_data();
    void counterCaption();
};

void GridTest::layoutFitsRowsAndColumns_data()
{
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("height");
    QTest::addColumn<double>("text1Top");
    QTest::addColumn<bool>("placed");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("lastSlot");
    // 120 + 5 x 4560 = 22920 fits in 23000; a sixth row would end at 11190 > 10185.
    QTest::newRow("worked example 23000 x 10800") << 23000.0 << 10800.0 << 720.0 << true << 5 << 5 << 24;
    QTest::newRow("designed window 22995 x 10800") << 22995.0 << 10800.0 << 720.0 << true << 5 << 5 << 24;
    QTest::newRow("one twip short of five columns") << 22919.0 << 10800.0 << 720.0 << true << 5 << 4 << 19;
    QTest::newRow("too low for one row") << 23000.0 << 2900.0 << 720.0 << false << 0 << 0 << -1;
    QTest::newRow("narrower than one cell") << 4679.0 << 10800.0 << 720.0 << true << 5 << 0 << -1;
    QTest::newRow("exactly one cell wide") << 4680.0 << 10800.0 << 720.0 << true << 5 << 1 << 4;
    QTest::newRow("huge window capped at 53") << 100000.0 << 100000.0 << 720.0 << true << 13 << 19 << 52;
    QTest::newRow("rows use the old top of Text1(0)") << 23000.0 << 10800.0 << 1500.0 << true << 4 << 5 << 19;
}

void GridTest::layoutFitsRowsAndColumns()
{
    QFETCH(double, width);
    QFETCH(double, height);
    QFETCH(double, text1Top);
    grid::Input in;
    in.width = width;
    in.height = height;
    in.bottomFrameHeight = 615;
    in.text1Top = text1Top;
    const grid::Result r = grid::compute(in);
    QTEST(r.placed, "placed");
    QTEST(r.rows, "rows");
    if (r.placed) {
        QTEST(r.columns, "columns");
        QTEST(r.lastSlot, "lastSlot");
    }
}

void GridTest::rowsEndAboveTheBottomBar()
{
    // Every window from too small to wide and tall, with the bars side by side
    // (slots start under the first bar) and wrapped (a bar lower): no row may
    // reach the bottom bar, and wherever the rows did not reach it before, the
    // grid is as it was.
    const double bottomFrame = 615;
    int kept = 0;
    for (const double top0 : {615.0, 1095.0}) {
        for (double height = 2000; height <= 30000; height += 15) {
            for (const double width : {4000.0, 4680.0, 18000.0, 22995.0, 30000.0}) {
                grid::Input in;
                in.width = width;
                in.height = height;
                in.bottomFrameHeight = bottomFrame;
                in.text1Top = top0;
                const grid::Result r = grid::compute(in);
                const double barTop = height - bottomFrame - grid::BarMargin;
                if (r.placed)
                    QVERIFY2(
                        top0 + (r.rows - 1) * grid::CellHeight + in.text1Height <= barTop,
                        qPrintable(QStringLiteral("%1 x %2: %3 rows").arg(width).arg(height).arg(r.rows)));
                // The rows the grid had when it ignored the bar's margin.
                int before = 0;
                while (before < grid::RowLimit &&
                       top0 + before * grid::CellHeight + in.text1Height <= height - bottomFrame)
                    ++before;
                if (before > 0 && top0 + (before - 1) * grid::CellHeight + in.text1Height <= barTop) {
                    QCOMPARE(r.rows, before);
                    ++kept;
                }
            }
        }
    }
    QVERIFY(kept > 1000);
}

void GridTest::counterCaption_data()
{
    QTest::addColumn<int>("pageIndex");
    QTest::addColumn<int>("lastSlot");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("caption");
    QTest::newRow("120 on page 2") << 1 << 52 << 120 << QStringLiteral("Seite: 2 / 3\nBild: 54-106 / 120");
    QTest::newRow("empty directory") << 0 << 52 << 0 << QStringLiteral("Seite: 1 / 1\nBild: 0 / 0");
    QTest::newRow("one full page") << 0 << 52 << 53 << QStringLiteral("Seite: 1 / 1\nBild: 1-53 / 53");
    QTest::newRow("54 on page 2") << 1 << 52 << 54 << QStringLiteral("Seite: 2 / 2\nBild: 54-54 / 54");
    QTest::newRow("106 is two pages") << 0 << 52 << 106 << QStringLiteral("Seite: 1 / 2\nBild: 1-53 / 106");
    QTest::newRow("159 is three pages") << 0 << 52 << 159 << QStringLiteral("Seite: 1 / 3\nBild: 1-53 / 159");
    QTest::newRow("page 3 after shrinking to 20")
        << 2 << 52 << 20 << QStringLiteral("Seite: 1 / 1\nBild: 1-20 / 20");
    QTest::newRow("page 3 after shrinking to 60")
        << 2 << 52 << 60 << QStringLiteral("Seite: 2 / 2\nBild: 54-60 / 60");
    QTest::newRow("no slot fits") << 0 << -1 << 10 << QStringLiteral("Seite: -\nBild: - / 10");
    QTest::newRow("beyond 16 bits") << 999 << 52 << 100000
                                    << QStringLiteral("Seite: 1000 / 1887\nBild: 52948-53000 / 100000");
}

void GridTest::counterCaption()
{
    QFETCH(int, pageIndex);
    QFETCH(int, lastSlot);
    QFETCH(int, count);
    QTEST(grid::counter(pageIndex, lastSlot, count, count).caption(), "caption");
}

QTEST_APPLESS_MAIN(GridTest)
#include "grid_test.moc"
