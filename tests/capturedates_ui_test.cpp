#include "core/pages/PageModel.h"
#include "core/settings/Ini.h"
#include "support/TestSupport.h"
#include "ui/pages/CaptureDates.h"

#include "TestPictures.h"

#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include <utime.h>

namespace {

// Two cameras and a scan: by name DSC_ comes first, by date the two cameras
// interleave, and the scan (no date of its own) goes last.
struct Shot {
    const char *name;
    const char *date; // empty: a plain JPEG without EXIF
};
const Shot Shots[] = {
    {"DSC_0001.jpg", "2008:05:30 10:30:00"},
    {"IMG_0001.jpg", "2008:05:30 10:00:00"},
    {"IMG_0002.jpg", "2008:06:01 09:00:00"},
    {"Scan.jpg", ""},
};

const QDateTime ScanTime(QDate(2001, 2, 3), QTime(4, 5, 6));

QString settingsValue(const testing::FormFixture &fx, const QString &key)
{
    return ini::IniRead(QStringLiteral("Einstellungen"), key, fx.iniPath(), QStringLiteral("<missing>"));
}

void writeShots(const QString &dir)
{
    for (const Shot &s : Shots) {
        const QString path = QDir(dir).filePath(QString::fromLatin1(s.name));
        if (*s.date) {
            testpics::CameraOptions o;
            o.dateTimeOriginal = QString::fromLatin1(s.date);
            o.thumbnailSize = QSize();
            QVERIFY(testpics::writeCameraPhoto(path, QSize(64, 48), 1, o));
        } else {
            testing::writePictures(dir, {QString::fromLatin1(s.name)});
            struct utimbuf t;
            t.actime = t.modtime = time_t(ScanTime.toSecsSinceEpoch());
            QCOMPARE(::utime(QFile::encodeName(path).constData(), &t), 0);
        }
    }
}

} // namespace

class CaptureDatesUiTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void buttonPutsEachPicturesOwnDateInFrontOfItsName_data();
    void buttonPutsEachPicturesOwnDateInFrontOfItsName();
    void altDReachesTheButtonFromANameBox();
    void withAllPagesEveryPictureGetsItsDate();
    void clickBeforeTheDatesAreInWaitsForThem();
    void nameBoxTooltipsNameDateAndSourceAndMarkTheFileTime();
    void formatSettingIsUsedAndAnUnusableOneFallsBackWithANotice_data();
    void formatSettingIsUsedAndAnUnusableOneFallsBackWithANotice();
    void switchingTheOrderAsksAboutTypedNamesThenShowsPageOne();
    void storedDateOrderListsByDateAfterProgressInTheCounter();
    void extrasFrameKeepsTheDesignedTabOrder();

private:
    Form1 &start(const QString &settings = QString());
    Controls &c() { return m_fx->form->controls(); }
    PageModel &model() { return m_fx->form->model(); }
    CaptureDates &dates() { return *m_fx->form->findChild<CaptureDates *>(); }
    QStringList names(int count);

    std::unique_ptr<testing::FormFixture> m_fx;
};

void CaptureDatesUiTest::init()
{
    m_fx = std::make_unique<testing::FormFixture>();
    QVERIFY(m_fx->programDir.isValid() && m_fx->pictureDir.isValid());
    writeShots(m_fx->pictureDir.path());
}

void CaptureDatesUiTest::cleanup()
{
    m_fx.reset();
}

Form1 &CaptureDatesUiTest::start(const QString &settings)
{
    m_fx->writeSettings(QStringLiteral("[Einstellungen]\nBilderAnzeigen=0\n") + settings);
    return m_fx->start();
}

QStringList CaptureDatesUiTest::names(int count)
{
    QStringList out;
    for (int i = 0; i < count; ++i)
        out << c().Text1[i]->toPlainText();
    return out;
}

void CaptureDatesUiTest::buttonPutsEachPicturesOwnDateInFrontOfItsName_data()
{
    QTest::addColumn<QString>("prefixBox");
    QTest::addColumn<QString>("separator");
    QTest::newRow("digit last: underscore") << "1990.01.31"
                                            << "_";
    QTest::newRow("the prefix box's separator") << "2008 ."
                                                << ".";
    QTest::newRow("hyphen") << "Rom-"
                            << "-";
}

void CaptureDatesUiTest::buttonPutsEachPicturesOwnDateInFrontOfItsName()
{
    QFETCH(QString, prefixBox);
    QFETCH(QString, separator);
    start();
    c().JahrText->setText(prefixBox);
    QTRY_VERIFY_WITH_TIMEOUT(model().pageDatesKnown(), 10000);
    c().Aufnahmedatum->click();
    const QString scan = ScanTime.toString(QStringLiteral("yyyy.MM.dd"));
    QStringList expected = {QStringLiteral("2008.05.30") + separator + QStringLiteral("DSC_0001"),
                            QStringLiteral("2008.05.30") + separator + QStringLiteral("IMG_0001"),
                            QStringLiteral("2008.06.01") + separator + QStringLiteral("IMG_0002"),
                            scan + separator + QStringLiteral("Scan"), QString()};
    QCOMPARE(names(5), expected);
    QCOMPARE(QApplication::focusWidget(), c().Text1[0]);
    // Each click adds the date once more, to the pictures only.
    c().Aufnahmedatum->click();
    QCOMPARE(c().Text1[2]->toPlainText(), QStringLiteral("2008.06.01") + separator +
                                              QStringLiteral("2008.06.01") + separator +
                                              QStringLiteral("IMG_0002"));
    QCOMPARE(c().Text1[4]->toPlainText(), QString());
    QVERIFY(model().isModified());
}

void CaptureDatesUiTest::withAllPagesEveryPictureGetsItsDate()
{
    start(QStringLiteral("AlleSeiten=1\n"));
    QVERIFY(c().AlleSeiten->isChecked());
    model().relayout(1); // two pictures a page: the others' dates are not read yet
    QTRY_VERIFY_WITH_TIMEOUT(model().pageDatesKnown(), 10000);
    QVERIFY(!model().toolDatesKnown());
    c().Aufnahmedatum->click();
    QTRY_VERIFY_WITH_TIMEOUT(
        model().pictureName(3).startsWith(ScanTime.toString(QStringLiteral("yyyy.MM.dd"))), 10000);
    QCOMPARE(model().pictureName(2), QStringLiteral("2008.06.01_IMG_0002"));
    QCOMPARE(model().pictureName(0), QStringLiteral("2008.05.30_DSC_0001"));
    QCOMPARE(model().changedCount(), 4);
}

void CaptureDatesUiTest::altDReachesTheButtonFromANameBox()
{
    Form1 &form = start();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QTRY_VERIFY_WITH_TIMEOUT(model().pageDatesKnown(), 10000);
    c().Text1[2]->setFocus(Qt::OtherFocusReason);
    QTRY_COMPARE(QApplication::focusWidget(), c().Text1[2]);
    QTest::keyClick(c().Text1[2], Qt::Key_D, Qt::AltModifier);
    QTRY_COMPARE_WITH_TIMEOUT(c().Text1[1]->toPlainText(), QStringLiteral("2008.05.30_IMG_0001"), 5000);
    // Nothing was typed into the box that had the focus.
    QCOMPARE(c().Text1[2]->toPlainText(), QStringLiteral("2008.06.01_IMG_0002"));
}

void CaptureDatesUiTest::clickBeforeTheDatesAreInWaitsForThem()
{
    // The page was just shown and the event loop has not run: its dates are
    // still being read when the button is clicked.
    start();
    QVERIFY(!model().pageDatesKnown());
    c().Aufnahmedatum->click();
    QVERIFY(dates().prefixPending());
    QTRY_COMPARE_WITH_TIMEOUT(c().Text1[0]->toPlainText(), QStringLiteral("2008.05.30_DSC_0001"), 10000);
    QCOMPARE(c().Text1[2]->toPlainText(), QStringLiteral("2008.06.01_IMG_0002"));

    // A click whose page is shown anew before the dates are in is dropped:
    // the names of the new display stay as the files are named.
    c().Command5->click(); // "Verzeichnis neu einlesen": records without dates
    QVERIFY(!model().pageDatesKnown());
    c().Aufnahmedatum->click();
    QVERIFY(dates().prefixPending());
    model().showPage(true);
    QVERIFY(!dates().prefixPending());
    // The dates and the end of their request come in the same turn.
    QTRY_VERIFY_WITH_TIMEOUT(model().pageDatesKnown(), 10000);
    QCOMPARE(c().Text1[0]->toPlainText(), QStringLiteral("DSC_0001"));
}

void CaptureDatesUiTest::nameBoxTooltipsNameDateAndSourceAndMarkTheFileTime()
{
    start();
    QTRY_VERIFY_WITH_TIMEOUT(!c().Text1[3]->toolTip().isEmpty(), 10000);
    QCOMPARE(c().Text1[1]->toolTip(),
             QStringLiteral("Aufnahmedatum: 30.05.2008 10:00:00\nQuelle: EXIF DateTimeOriginal"));
    const QString scan = c().Text1[3]->toolTip();
    QVERIFY2(
        scan.startsWith(QStringLiteral("Datum: ") + ScanTime.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"))),
        qPrintable(scan));
    QVERIFY2(scan.contains(QStringLiteral("Änderungszeit der Datei")) &&
                 scan.contains(QStringLiteral("Achtung")),
             qPrintable(scan));
    QVERIFY(!c().Text1[1]->toolTip().contains(QStringLiteral("Achtung")));
    QCOMPARE(c().Text1[4]->toolTip(), QString());
}

void CaptureDatesUiTest::formatSettingIsUsedAndAnUnusableOneFallsBackWithANotice_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("first");
    QTest::addColumn<int>("notices");
    QTest::newRow("date and time") << "yyyy-MM-dd_HH.mm.ss"
                                   << "2008-05-30_10.30.00_DSC_0001" << 0;
    QTest::newRow("no date in it") << "'Urlaub'"
                                   << "2008.05.30_DSC_0001" << 1;
}

void CaptureDatesUiTest::formatSettingIsUsedAndAnUnusableOneFallsBackWithANotice()
{
    QFETCH(QString, format);
    QFETCH(int, notices);
    testing::MessageBoxes boxes;
    start(QStringLiteral("DatumFormat=") + format + QLatin1Char('\n'));
    QTRY_VERIFY_WITH_TIMEOUT(model().pageDatesKnown(), 10000);
    c().Aufnahmedatum->click();
    QTEST(c().Text1[0]->toPlainText(), "first");
    // Said once a run, not at every click.
    c().Aufnahmedatum->click();
    QCOMPARE(boxes.notices().size(), notices);
    if (notices > 0)
        QVERIFY(boxes.notices().first().prompt.contains(format));
    QVERIFY(boxes.shown().isEmpty());
}

void CaptureDatesUiTest::switchingTheOrderAsksAboutTypedNamesThenShowsPageOne()
{
    testing::MessageBoxes boxes;
    start();
    QCOMPARE(model().fileNames().first(), QStringLiteral("DSC_0001.jpg"));
    QTest::keyClicks(c().Text1[0], QStringLiteral("x"));
    QVERIFY(model().isModified());
    QAction *byDate = dates().orderMenu().actions().at(1);

    // Cancel: nothing changes.
    boxes.answer(platform::AnswerCancel);
    byDate->trigger();
    QCOMPARE(boxes.shown().size(), 1);
    QCOMPARE(boxes.shown().first().style, int(platform::YesNoCancelQuestion));
    QCOMPARE(model().order(), PageModel::Order::Name);
    QVERIFY(model().isModified());
    QCOMPARE(settingsValue(*m_fx, QStringLiteral("Sortierung")), QStringLiteral("<missing>"));

    // No: the typed name goes, the order is stored and page 1 follows.
    boxes.answer(platform::AnswerNo);
    byDate->trigger();
    QCOMPARE(boxes.shown().size(), 2);
    QCOMPARE(settingsValue(*m_fx, QStringLiteral("Sortierung")), QStringLiteral("Aufnahmedatum"));
    QTRY_VERIFY_WITH_TIMEOUT(!model().isOrdering(), 10000);
    QCOMPARE(names(4), QStringList({QStringLiteral("IMG_0001"), QStringLiteral("DSC_0001"),
                                    QStringLiteral("IMG_0002"), QStringLiteral("Scan")}));
    QCOMPARE(model().pageIndex(), 0);
    QVERIFY(!model().isModified());

    // Without typed names no question; back to names at once.
    dates().orderMenu().actions().at(0)->trigger();
    QCOMPARE(boxes.shown().size(), 2);
    QCOMPARE(c().Text1[0]->toPlainText(), QStringLiteral("DSC_0001"));
    QCOMPARE(settingsValue(*m_fx, QStringLiteral("Sortierung")), QStringLiteral("Name"));
}

void CaptureDatesUiTest::storedDateOrderListsByDateAfterProgressInTheCounter()
{
    start(QStringLiteral("Sortierung=Aufnahmedatum\n"));
    // While the dates are read the page shows no picture, and the counter says
    // how far the reading is.
    QCOMPARE(c().CounterTxt->text(), QStringLiteral("Aufnahmedaten\n0 / 4"));
    QVERIFY(c().Text1[0]->isHidden());
    QTRY_COMPARE_WITH_TIMEOUT(c().CounterTxt->text(), QStringLiteral("Seite: 1 / 1\nBild: 1-4 / 4"), 10000);
    QCOMPARE(names(4), QStringList({QStringLiteral("IMG_0001"), QStringLiteral("DSC_0001"),
                                    QStringLiteral("IMG_0002"), QStringLiteral("Scan")}));
    QVERIFY(!c().Text1[0]->isHidden());
    // The menu shows the order in force.
    dates().CounterTxt_ContextMenu(QPoint(1, 1));
    QVERIFY(dates().orderMenu().actions().at(1)->isChecked());
    dates().orderMenu().hide();
}

void CaptureDatesUiTest::extrasFrameKeepsTheDesignedTabOrder()
{
    start();
    // The added button comes after every designed control of the tool bars
    // and the grid in the focus chain, so their designed order is untouched.
    QList<QWidget *> chain;
    QWidget *w = c().JahrText;
    do {
        chain << w;
        w = w->nextInFocusChain();
    } while (w != c().JahrText && chain.size() < 2000);
    const qsizetype button = chain.indexOf(c().Aufnahmedatum);
    QVERIFY(button >= 0);
    for (QWidget *designed : {static_cast<QWidget *>(c().ReloadBUtton), static_cast<QWidget *>(c().Command4),
                              static_cast<QWidget *>(c().Text1[grid::HighestSlot]),
                              static_cast<QWidget *>(c().Command3[grid::HighestSlot])})
        QVERIFY2(chain.indexOf(designed) < button, qPrintable(designed->objectName()));
    QCOMPARE(c().Aufnahmedatum->parentWidget(), c().ExtrasFrame);
    QCOMPARE(c().ExtrasFrame->objectName(), QStringLiteral("ExtrasFrame"));
    QCOMPARE(c().Aufnahmedatum->text(), QStringLiteral("Aufnahme&datum"));
    QVERIFY(!c().Aufnahmedatum->toolTip().isEmpty());
}

QTEST_MAIN(CaptureDatesUiTest)
#include "capturedates_ui_test.moc"
