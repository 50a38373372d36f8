#include "core/pages/PageModel.h"
#include "core/pages/Resize.h"
#include "core/settings/Ini.h"
#include "support/TestSupport.h"
#include "ui/pages/PageView.h"
#include "ui/window/Twips.h"
#include "ui/window/Widgets.h"

#include <QApplication>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

using resizing::ToolBars;

class ResizeTest : public QObject {
    Q_OBJECT
private slots:
    void barsFollowTheWindowSize_data();
    void barsFollowTheWindowSize();

    void minimisedWindowChangesNothing();
    void maximisedStateIsRemembered();
    void onlySlotsUpToLastSlotShowAfterAnyResize();
    void barsWrapAndUnwrapOnTheWindow();
    void wrapWhileMaximisedKeepsStateAndMovesGridUnderBar();
    void unwrapMovesGridUpSoNoRowOverlapsTheBottomBar();
    void noSlotCoversTheBottomBar_data();
    void noSlotCoversTheBottomBar();
    void typedNamesSurviveAChangeOfSlotCount();
    void pageIsRefilledOnlyWhenSlotCountChanges();

private:
    Form1 &start(testing::FormFixture &f, int pictures = 60);
};

namespace {

QString vollbild(const testing::FormFixture &f)
{
    return ini::IniRead(QStringLiteral("Einstellungen"), QStringLiteral("Vollbild"), f.iniPath(), QString());
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Which slots show, as a string of '1' and '0', for short messages.
QString shownSlots(Form1 &form)
{
    const Controls &c = form.controls();
    QString s;
    for (int i = 0; i < grid::SlotCount; ++i) {
        const bool p = !c.Picture1[i]->isHidden(), t = !c.Text1[i]->isHidden(),
                   b = !c.Command3[i]->isHidden();
        s += (p && t && b) ? QLatin1Char('1') : (!p && !t && !b) ? QLatin1Char('0') : QLatin1Char('?');
    }
    return s;
}

QString expectedSlots(int lastSlot)
{
    QString s;
    for (int i = 0; i < grid::SlotCount; ++i)
        s += resizing::slotVisible(i, lastSlot) ? QLatin1Char('1') : QLatin1Char('0');
    return s;
}

void typeName(QPlainTextEdit *box, const QString &name)
{
    box->setFocus();
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(box, name);
}

} // namespace

Form1 &ResizeTest::start(testing::FormFixture &f, int pictures)
{
    QStringList names;
    for (int i = 0; i < pictures; ++i)
        names << QStringLiteral("IMG_%1.jpg").arg(i, 3, 10, QLatin1Char('0'));
    testing::writePictures(f.pictureDir.path(), names, QSize(16, 12));
    return f.start();
}

void ResizeTest::barsFollowTheWindowSize_data()
{
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("bar2Left");
    QTest::addColumn<double>("bar2Top");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<int>("toolBars");
    QTest::addColumn<double>("newBar2Left");
    QTest::addColumn<double>("newBar2Top");
    QTest::addColumn<double>("newHeight");
    // TopFrame1 stands at 120 / 120, 9615 wide; TopFrame2 is as wide.
    QTest::newRow("shrunk to 19000: wrap, 500 higher")
        << 19000.0 << 9720.0 << 120.0 << true << int(ToolBars::Wrap) << 120.0 << 600.0 << 11300.0;
    QTest::newRow("19334 is one twip too narrow")
        << 19334.0 << 9720.0 << 120.0 << true << int(ToolBars::Wrap) << 120.0 << 600.0 << 11300.0;
    QTest::newRow("19335 still fits beside")
        << 19335.0 << 9720.0 << 120.0 << true << int(ToolBars::Unchanged) << 9720.0 << 120.0 << 10800.0;
    QTest::newRow("hidden window never wraps")
        << 19000.0 << 9720.0 << 120.0 << false << int(ToolBars::Unchanged) << 9720.0 << 120.0 << 10800.0;
    QTest::newRow("stacked bars stay stacked at 22000")
        << 22000.0 << 120.0 << 600.0 << true << int(ToolBars::Unchanged) << 120.0 << 600.0 << 10800.0;
    QTest::newRow("stacked at exactly 22710")
        << 22710.0 << 120.0 << 600.0 << true << int(ToolBars::Unchanged) << 120.0 << 600.0 << 10800.0;
    QTest::newRow("past 22710 unwraps to 9735 / 120")
        << 22711.0 << 120.0 << 600.0 << true << int(ToolBars::Unwrap) << 9735.0 << 120.0 << 10800.0;
    QTest::newRow("stacked bars on a narrow window stay")
        << 9000.0 << 120.0 << 600.0 << true << int(ToolBars::Unchanged) << 120.0 << 600.0 << 10800.0;
}

void ResizeTest::barsFollowTheWindowSize()
{
    QFETCH(double, width);
    QFETCH(double, bar2Left);
    QFETCH(double, bar2Top);
    QFETCH(bool, visible);
    resizing::Input in;
    in.width = width;
    in.height = 10800;
    in.bottomFrame1 = {120, 7920, 17295, 615};
    in.arrowFrame = {17280, 7800, 4095, 855};
    in.topFrame1 = {120, 120, 9615, 495};
    in.topFrame2 = {bar2Left, bar2Top, 9615, 495};
    in.visible = visible;
    const resizing::Result r = resizing::arrange(in);
    QTEST(int(r.toolBars), "toolBars");
    QTEST(r.topFrame2Left, "newBar2Left");
    QTEST(r.topFrame2Top, "newBar2Top");
    QTEST(r.height, "newHeight");
    QCOMPARE(r.bottomFrame1Top, 10800.0 - 615 - 600);
    QCOMPARE(r.arrowFrameTop, 10800.0 - 855 - 600);
    QCOMPARE(r.arrowFrameLeft, width - 4095 - 360);
}

void ResizeTest::minimisedWindowChangesNothing()
{
    testing::FormFixture f;
    Form1 &form = start(f);
    QFile::remove(f.iniPath());
    const Controls &c = form.controls();
    const QRect bottom = c.BottomFrame1->geometry(), arrows = c.ArrowFrame->geometry(),
                bar2 = c.TopFrame2->geometry(), slot7 = c.Picture1[7]->geometry();
    const int lastSlot = form.model().lastSlot();
    const QString shown = shownSlots(form);

    form.showMinimized();
    QTRY_VERIFY(form.isMinimized());
    // Some platforms report a tiny size for a minimised window: still nothing moves.
    twips::setWindowSize(&form, 3000, 900);
    QCoreApplication::processEvents();
    QVERIFY2(!QFile::exists(f.iniPath()), "the settings file was written while minimised");
    QCOMPARE(c.BottomFrame1->geometry(), bottom);
    QCOMPARE(c.ArrowFrame->geometry(), arrows);
    QCOMPARE(c.TopFrame2->geometry(), bar2);
    QCOMPARE(c.Picture1[7]->geometry(), slot7);
    QCOMPARE(form.model().lastSlot(), lastSlot);
    QCOMPARE(shownSlots(form), shown);
}

void ResizeTest::maximisedStateIsRemembered()
{
    testing::FormFixture f;
    Form1 &form = start(f);
    form.showMaximized();
    QTRY_COMPARE(vollbild(f), QStringLiteral("1"));
    const QByteArray maximised = fileBytes(f.iniPath());
    form.showMinimized();
    QTRY_VERIFY(form.isMinimized());
    QCoreApplication::processEvents();
    QCOMPARE(fileBytes(f.iniPath()), maximised);
    form.showNormal();
    QTRY_COMPARE(vollbild(f), QStringLiteral("0"));
    form.showMaximized();
    QTRY_COMPARE(vollbild(f), QStringLiteral("1"));
    form.showNormal();
    QTRY_COMPARE(vollbild(f), QStringLiteral("0"));
}

void ResizeTest::onlySlotsUpToLastSlotShowAfterAnyResize()
{
    testing::FormFixture f;
    Form1 &form = start(f);
    QCOMPARE(shownSlots(form), expectedSlots(form.model().lastSlot()));
    struct Step {
        double width, height;
        int lastSlot; // -2: whatever the layout gives
    };
    // In sequence: every change of slot count in both directions, a window too
    // low for one row (keeps LastSlot) and one too narrow for one column.
    const Step steps[] = {{51000, 10800, 52}, {22995, 10800, -2}, {4000, 10800, -1}, {30000, 12000, -2},
                          {23000, 2000, -2},  {51000, 10800, 52}, {14000, 8000, -2}};
    for (const Step &s : steps) {
        twips::setWindowSize(&form, s.width, s.height);
        const QByteArray where = QByteArray::number(s.width) + " x " + QByteArray::number(s.height);
        if (s.lastSlot != -2)
            QVERIFY2(form.model().lastSlot() == s.lastSlot, where);
        QVERIFY2(shownSlots(form) == expectedSlots(form.model().lastSlot()), where);
        // No name box shows beyond the page's slots.
        int visibleBoxes = 0;
        for (const QWidget *w : form.findChildren<QWidget *>(QStringLiteral("Text1")))
            visibleBoxes += !w->isHidden();
        QVERIFY2(visibleBoxes == int(shownSlots(form).count(QLatin1Char('1'))), where);
    }
}

void ResizeTest::barsWrapAndUnwrapOnTheWindow()
{
    testing::FormFixture f;
    Form1 &form = start(f);
    const Controls &c = form.controls();
    twips::setWindowSize(&form, 23000, 10800);
    QCOMPARE(twips::left(c.TopFrame2), 9720.0);
    const double height = twips::windowHeight(&form);
    // The frame of the added controls follows the free end of the bars and
    // stays above the grid.
    const auto extrasAt = [&](double left) {
        QCOMPARE(twips::left(c.ExtrasFrame), left);
        QCOMPARE(twips::top(c.ExtrasFrame), 120.0);
        QVERIFY(twips::top(c.ExtrasFrame) + twips::height(c.ExtrasFrame) <= twips::top(c.Picture1[0]));
    };
    extrasAt(9720.0 + 9615);

    twips::setWindowSize(&form, 19000, height);
    QCOMPARE(twips::left(c.TopFrame2), 120.0);
    QCOMPARE(twips::top(c.TopFrame2), 600.0);
    // 500 twips are 33.3 pixels: rounded once, so within half a pixel.
    QVERIFY2(qAbs(twips::windowHeight(&form) - (height + 500)) <= twips::PerPixel / 2,
             QByteArray::number(twips::windowHeight(&form)));
    // The run raised by the height change laid the grid out under the wrapped bar.
    QCOMPARE(twips::top(c.Picture1[0]), 600.0 + 495);
    QCOMPARE(twips::top(c.BottomFrame1), twips::windowHeight(&form) - 615 - 600);
    extrasAt(120.0 + 9615);

    const double wrappedHeight = twips::windowHeight(&form);
    twips::setWindowSize(&form, 22000, wrappedHeight);
    QCOMPARE(twips::left(c.TopFrame2), 120.0);
    QCOMPARE(twips::windowHeight(&form), wrappedHeight);

    twips::setWindowSize(&form, 22800, wrappedHeight);
    QCOMPARE(twips::left(c.TopFrame2), 9735.0);
    QCOMPARE(twips::top(c.TopFrame2), 120.0);
    QCOMPARE(twips::windowHeight(&form), wrappedHeight);
    QCOMPARE(twips::left(c.ArrowFrame), 22800.0 - 4095 - 360);
    extrasAt(9735.0 + 9615);
}

void ResizeTest::unwrapMovesGridUpSoNoRowOverlapsTheBottomBar()
{
    testing::FormFixture f;
    Form1 &form = start(f);
    const Controls &c = form.controls();
    twips::setWindowSize(&form, 19000, 10800);
    QCOMPARE(twips::left(c.TopFrame2), 120.0);

    // Back to the designed size: the bars go side by side in the same run, and
    // the grid must follow them up at once, not at the next resize.
    twips::setWindowSize(&form, 22800, 10800);
    QCOMPARE(twips::top(c.TopFrame2), 120.0);
    QCOMPARE(twips::top(c.Picture1[0]), 120.0 + 495);
    const double bottomBar = twips::top(c.BottomFrame1);
    for (int i = 0; i <= form.model().lastSlot(); ++i)
        QVERIFY2(twips::top(c.Text1[i]) + twips::height(c.Text1[i]) <= bottomBar,
                 qPrintable(QStringLiteral("slot %1 reaches into the bottom bar").arg(i)));
}

void ResizeTest::noSlotCoversTheBottomBar_data()
{
    // Client sizes in pixels, as a user sets them; 0 x 0: maximised on the
    // test screen, which is too narrow for the bars side by side.
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("times");
    QTest::addColumn<int>("lastSlot"); // -2: whatever fits
    QTest::newRow("1525 x 650") << 1525 << 650 << 1 << 19;
    QTest::newRow("1525 x 640") << 1525 << 640 << 1 << 19;
    QTest::newRow("designed 1525 x 684 keeps 25") << 1525 << 684 << 1 << 24;
    QTest::newRow("1200 x 684 twice, bars wrapped") << 1200 << 684 << 2 << 11;
    QTest::newRow("maximised on a narrow screen") << 0 << 0 << 1 << -2;
}

void ResizeTest::noSlotCoversTheBottomBar()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, times);
    QFETCH(int, lastSlot);
    testing::FormFixture f;
    Form1 &form = start(f);
    const Controls &c = form.controls();
    if (width == 0) {
        form.showMaximized();
        QTRY_VERIFY(form.isMaximized() && twips::windowWidth(&form) < 19335);
        QTRY_COMPARE(twips::left(c.TopFrame2), 120.0);
    }
    for (int i = 0; width > 0 && i < times; ++i)
        twips::setWindowSize(&form, width * twips::PerPixel + twips::FrameWidth,
                             height * twips::PerPixel + twips::FrameHeight);
    if (lastSlot != -2)
        QCOMPARE(form.model().lastSlot(), lastSlot);
    QVERIFY(form.model().lastSlot() >= 0);
    const double barTop = twips::top(c.BottomFrame1);
    QCOMPARE(barTop, twips::windowHeight(&form) - 615 - 600);
    for (int i = 0; i <= form.model().lastSlot(); ++i) {
        for (const QWidget *w :
             {static_cast<const QWidget *>(c.Picture1[i]), static_cast<const QWidget *>(c.Text1[i]),
              static_cast<const QWidget *>(c.Command3[i])})
            QVERIFY2(twips::top(w) + twips::height(w) <= barTop,
                     qPrintable(QStringLiteral("slot %1 reaches into the bottom bar").arg(i)));
    }
    // What the bar holds is what a click there reaches.
    for (const QWidget *w :
         {static_cast<const QWidget *>(c.Speichern), static_cast<const QWidget *>(c.Command5),
          static_cast<const QWidget *>(c.CounterTxt), static_cast<const QWidget *>(c.NextBtn)}) {
        const QPoint centre = w->mapTo(&form, w->rect().center());
        QVERIFY2(form.childAt(centre) == w, qPrintable(w->objectName()));
    }
}

void ResizeTest::wrapWhileMaximisedKeepsStateAndMovesGridUnderBar()
{
    testing::FormFixture f;
    Form1 &form = start(f);
    form.showMaximized();
    QTRY_VERIFY(form.isMaximized() && twips::windowWidth(&form) < 19335);
    const Controls &c = form.controls();
    QTRY_COMPARE(twips::left(c.TopFrame2), 120.0);
    QVERIFY(form.isMaximized());
    QCOMPARE(twips::top(c.Picture1[0]), 600.0 + 495);
}

void ResizeTest::typedNamesSurviveAChangeOfSlotCount()
{
    testing::FormFixture f;
    Form1 &form = start(f);
    const Controls &c = form.controls();
    twips::setWindowSize(&form, 51000, 10800);
    QCOMPARE(form.model().lastSlot(), 52);
    typeName(c.Text1[3], QStringLiteral("Strand"));
    typeName(c.Text1[40], QStringLiteral("Berg"));

    // Fewer slots: file 40 leaves the page, file 3 stays in slot 3.
    twips::setWindowSize(&form, 23000, 10800);
    QVERIFY(form.model().lastSlot() < 40);
    QCOMPARE(c.Text1[3]->toPlainText(), QStringLiteral("Strand"));
    QCOMPARE(form.model().pictureName(40), QStringLiteral("Berg"));

    // A typed name in a page of fewer slots survives the next change too.
    typeName(c.Text1[4], QStringLiteral("Hafen"));
    twips::setWindowSize(&form, 51000, 10800);
    QCOMPARE(c.Text1[3]->toPlainText(), QStringLiteral("Strand"));
    QCOMPARE(c.Text1[4]->toPlainText(), QStringLiteral("Hafen"));
    QCOMPARE(c.Text1[40]->toPlainText(), QStringLiteral("Berg"));
    QCOMPARE(c.Text1[41]->toPlainText(), QStringLiteral("IMG_041"));

    // A display with reload starts from the files' names again.
    form.model().showPage(true);
    QCOMPARE(c.Text1[40]->toPlainText(), QStringLiteral("IMG_040"));
}

void ResizeTest::pageIsRefilledOnlyWhenSlotCountChanges()
{
    testing::FormFixture f;
    Form1 &form = start(f);
    const Controls &c = form.controls();
    twips::setWindowSize(&form, 23000, 10800);
    const int lastSlot = form.model().lastSlot();
    // The counter is rewritten by every page display: a probe shows whether one ran.
    c.CounterTxt->setText(QStringLiteral("probe"));
    twips::setWindowSize(&form, 23500, 11000);
    QCOMPARE(form.model().lastSlot(), lastSlot);
    QCOMPARE(c.CounterTxt->text(), QStringLiteral("probe"));
    twips::setWindowSize(&form, 28000, 11000);
    QVERIFY(form.model().lastSlot() != lastSlot);
    QVERIFY(c.CounterTxt->text() != QLatin1String("probe"));
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    ResizeTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "resize_test.moc"
