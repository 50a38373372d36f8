#include "core/pages/PageModel.h"
#include "support/TestSupport.h"
#include "ui/pages/PageView.h"
#include "ui/window/Launcher.h"
#include "ui/window/Twips.h"
#include "ui/window/Widgets.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QtTest>

using testing::FormFixture;

namespace {

QStringList numberedNames(int count)
{
    QStringList names;
    for (int i = 1; i <= count; ++i)
        names << QStringLiteral("IMG_%1.jpg").arg(i);
    return names;
}

// Reads one value of the settings file without going through the program's reader.
QString storedValue(const QString &iniPath, const QString &key)
{
    QSettings s(iniPath, QSettings::IniFormat);
    return s.value(QStringLiteral("Einstellungen/") + key).toString();
}

int visibleSlots(Controls &c)
{
    int n = 0;
    for (int i = 0; i < grid::SlotCount; ++i) {
        const bool p = c.Picture1[i]->isVisible(), t = c.Text1[i]->isVisible(),
                   b = c.Command3[i]->isVisible();
        if (p != t || t != b)
            return -1000; // a slot only partly shown is a fault of its own
        n += t ? 1 : 0;
    }
    return n;
}

// A window big enough for 13 rows by 19 columns, so a page holds 53 pictures.
void startLarge(FormFixture &fx)
{
    twips::setWindowSize(&fx.build(), 90000, 26000);
    fx.form->Form_Load();
}

} // namespace

class FormTest : public QObject {
    Q_OBJECT
private slots:
    void controlsStartAsDesigned();
    void pageShowsNamesSlotsCounterAndArrows_data();
    void pageShowsNamesSlotsCounterAndArrows();
    void secondPageOf120ShowsPictures54To106();
    void designedWindowHolds25PicturesPerPage();
    void commandLineDirectoryIsRememberedOnlyWhenItHoldsFiles_data();
    void commandLineDirectoryIsRememberedOnlyWhenItHoldsFiles();
    void vollbildMaximisesOnlyForExactlyOne_data();
    void vollbildMaximisesOnlyForExactlyOne();
    void unlistableDirectoryShowsNoForeignFilesAndAHint();
    void startingWritesOnlyTheWindowState();
    void unwritableSettingsKeepWhatWasTypedAndSayItOnce();
    void closingSetsClosing();
    void startInTurnsEndsAsTheWholeLoadDoes();
    void relayoutNeverLeavesAnotherPicturesThumbnail();
    void programAnswersHelpAndVersion();
};

void FormTest::controlsStartAsDesigned()
{
    FormFixture fx;
    testing::writePictures(fx.pictureDir.path(), {QStringLiteral("a.jpg")});
    Form1 &f = fx.start();
    Controls &c = f.controls();
    QCOMPARE(f.windowTitle(), QStringLiteral("Namora  - Version 1.3b"));
    QVERIFY(f.findChild<QPushButton *>(QStringLiteral("ZurückBtn")) == c.ZurueckBtn);
    QVERIFY(f.findChild<QGroupBox *>(QStringLiteral("VerzeichnisWahl")) == c.VerzeichnisWahl);
    QCOMPARE(c.Command1->text(), QStringLiteral("|<- Links anfügen"));
    QCOMPARE(c.REchtsAnf->text(), QStringLiteral("->| Rechts anfügen"));
    QCOMPARE(c.Command4->text(), QStringLiteral("(X) Alles löschen"));
    QCOMPARE(c.VerzeichnisWahl->title(), QStringLiteral("Verzeichnis Wählen"));
    QVERIFY(!c.Ersetzen->isEnabled());
    QVERIFY(!c.ZurueckBtn->isEnabled());
    QVERIFY(!c.NextBtn->isEnabled());
    QVERIFY(!c.VerzeichnisWahl->isVisible());
    QVERIFY(!c.NoImage->isVisible());
    // The page's slots are all the window has.
    QCOMPARE(f.findChildren<PictureBox *>(QStringLiteral("Picture1")).size(), qsizetype(grid::SlotCount));
    QCOMPARE(backColour(c.SuchenTxt), 0x00C0C0FFu);
    QCOMPARE(backColour(c.Ersetzenentxt), 0x00C0FFC0u);
    QCOMPARE(twips::left(c.TopFrame2), 9720.0);
    QCOMPARE(twips::width(c.VerzeichnisText), 9495.0);
    // The placeholder is what every slot starts with.
    QCOMPARE(c.Picture1[0]->picture().size(), QSize(151, 104));
    // Slot 0 starts under the tool bars, its name box and button beside it.
    QCOMPARE(twips::top(c.Picture1[0]), 615.0);
    QCOMPARE(twips::left(c.Text1[0]) - twips::left(c.Picture1[0]), 2280.0);
}

void FormTest::pageShowsNamesSlotsCounterAndArrows_data()
{
    QTest::addColumn<int>("pictures");
    QTest::addColumn<int>("visible");
    QTest::addColumn<QString>("counter");
    QTest::addColumn<bool>("next");
    QTest::newRow("empty directory") << 0 << 0 << QStringLiteral("Seite: 1 / 1\nBild: 0 / 0") << false;
    QTest::newRow("one full page") << 53 << 53 << QStringLiteral("Seite: 1 / 1\nBild: 1-53 / 53") << false;
    QTest::newRow("one more than a page")
        << 54 << 53 << QStringLiteral("Seite: 1 / 2\nBild: 1-53 / 54") << true;
    QTest::newRow("three pages") << 120 << 53 << QStringLiteral("Seite: 1 / 3\nBild: 1-53 / 120") << true;
}

void FormTest::pageShowsNamesSlotsCounterAndArrows()
{
    QFETCH(int, pictures);
    FormFixture fx;
    testing::writePictures(fx.pictureDir.path(), numberedNames(pictures));
    startLarge(fx);
    Form1 &f = *fx.form;
    Controls &c = f.controls();
    QCOMPARE(f.model().lastSlot(), 52);
    QCOMPARE(f.model().fileCount(), pictures);
    QCOMPARE(f.model().fileNames(), numberedNames(pictures));
    QTEST(visibleSlots(c), "visible");
    QTEST(c.CounterTxt->text(), "counter");
    QTEST(c.NextBtn->isEnabled(), "next");
    QVERIFY(!c.ZurueckBtn->isEnabled());
    // Natural order: IMG_2 comes before IMG_10.
    if (pictures >= 10) {
        QCOMPARE(c.Text1[1]->toPlainText(), QStringLiteral("IMG_2"));
        QCOMPARE(c.Text1[9]->toPlainText(), QStringLiteral("IMG_10"));
        QCOMPARE(f.model().filePath(9), fx.picturePath() + QStringLiteral("IMG_10.jpg"));
    }
    for (int i = pictures; i <= 52; ++i) {
        QVERIFY(c.Text1[i]->toPlainText().isEmpty());
        QVERIFY(f.model().filePath(i).isEmpty());
    }
}

void FormTest::secondPageOf120ShowsPictures54To106()
{
    FormFixture fx;
    testing::writePictures(fx.pictureDir.path(), numberedNames(120));
    startLarge(fx);
    Form1 &f = *fx.form;
    f.model().setPageIndex(1);
    f.model().showPage(true);
    Controls &c = f.controls();
    QCOMPARE(c.CounterTxt->text(), QStringLiteral("Seite: 2 / 3\nBild: 54-106 / 120"));
    QCOMPARE(c.Text1[0]->toPlainText(), QStringLiteral("IMG_54"));
    QCOMPARE(c.Text1[52]->toPlainText(), QStringLiteral("IMG_106"));
    QVERIFY(c.NextBtn->isEnabled());
    QVERIFY(c.ZurueckBtn->isEnabled());

    f.model().setPageIndex(2);
    f.model().showPage(true);
    QCOMPARE(c.CounterTxt->text(), QStringLiteral("Seite: 3 / 3\nBild: 107-120 / 120"));
    QCOMPARE(visibleSlots(c), 14);
    QVERIFY(!c.NextBtn->isEnabled());
}

void FormTest::designedWindowHolds25PicturesPerPage()
{
    FormFixture fx;
    testing::writePictures(fx.pictureDir.path(), numberedNames(30));
    Form1 &f = fx.start();
    QCOMPARE(twips::windowWidth(&f), 22995.0);
    QCOMPARE(twips::windowHeight(&f), 10800.0);
    QCOMPARE(f.findChild<PageView *>()->gridRows(), 5);
    QCOMPARE(f.findChild<PageView *>()->gridColumns(), 5);
    QCOMPARE(f.model().lastSlot(), 24);
    QCOMPARE(visibleSlots(f.controls()), 25);
    QCOMPARE(f.controls().CounterTxt->text(), QStringLiteral("Seite: 1 / 2\nBild: 1-25 / 30"));
    // Column by column: slot 5 opens the second column, in the first row.
    Controls &c = f.controls();
    QCOMPARE(twips::top(c.Picture1[5]), twips::top(c.Picture1[0]));
    QCOMPARE(twips::left(c.Picture1[5]) - twips::left(c.Picture1[0]), 4560.0);
    QCOMPARE(twips::top(c.Picture1[1]) - twips::top(c.Picture1[0]), 1800.0);
}

void FormTest::commandLineDirectoryIsRememberedOnlyWhenItHoldsFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("taken");
    QTest::newRow("existing with pictures") << QStringLiteral("pictures") << true;
    QTest::newRow("blanks around the path") << QStringLiteral("blanks") << true;
    QTest::newRow("empty directory") << QStringLiteral("empty") << false;
    QTest::newRow("missing directory") << QStringLiteral("missing") << false;
    QTest::newRow("no directory given") << QStringLiteral("none") << false;
}

void FormTest::commandLineDirectoryIsRememberedOnlyWhenItHoldsFiles()
{
    QFETCH(QString, kind);
    QFETCH(bool, taken);
    FormFixture fx;
    QTemporaryDir earlier;
    testing::writePictures(earlier.path(), {QStringLiteral("old.jpg")});
    testing::writePictures(fx.pictureDir.path(), {QStringLiteral("new.jpg")});
    QTemporaryDir empty;
    fx.writeSettings(QStringLiteral("[Einstellungen]\nVerzeichnis=%1/\n").arg(earlier.path()));

    QString commandLine = fx.pictureDir.path();
    if (kind == QLatin1String("blanks"))
        commandLine = QStringLiteral("  ") + commandLine + QStringLiteral("   ");
    else if (kind == QLatin1String("empty"))
        commandLine = empty.path();
    else if (kind == QLatin1String("missing"))
        commandLine = fx.pictureDir.path() + QStringLiteral("/gone");
    else if (kind == QLatin1String("none"))
        commandLine.clear();
    Form1 &f = fx.start(commandLine);

    const QString expected = taken ? fx.picturePath() : earlier.path() + QLatin1Char('/');
    QCOMPARE(storedValue(fx.iniPath(), QStringLiteral("Verzeichnis")), expected);
    QCOMPARE(f.model().directory(), expected);
    QCOMPARE(f.controls().Text1[0]->toPlainText(), taken ? QStringLiteral("new") : QStringLiteral("old"));
    QCOMPARE(f.controls().VerzeichnisText->text(), expected);
}

void FormTest::vollbildMaximisesOnlyForExactlyOne_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<bool>("maximised");
    QTest::newRow("1") << QStringLiteral("[Einstellungen]\nVollbild=1\n") << true;
    QTest::newRow("0") << QStringLiteral("[Einstellungen]\nVollbild=0\n") << false;
    QTest::newRow("missing") << QString() << false;
    QTest::newRow("yes is not 1") << QStringLiteral("[Einstellungen]\nVollbild=yes\n") << false;
}

void FormTest::vollbildMaximisesOnlyForExactlyOne()
{
    QFETCH(QString, settings);
    FormFixture fx;
    if (!settings.isEmpty())
        fx.writeSettings(settings);
    Form1 &f = fx.start();
    QTEST(bool(f.windowState() & Qt::WindowMaximized), "maximised");
}

void FormTest::unlistableDirectoryShowsNoForeignFilesAndAHint()
{
    FormFixture fx;
    // The program's own directory holds pictures: they must not appear under the
    // name of the directory that cannot be listed.
    testing::writePictures(fx.programDir.path(), {QStringLiteral("foreign.jpg")});
    const QString gone = fx.pictureDir.path() + QStringLiteral("/vanished/");
    fx.writeSettings(QStringLiteral("[Einstellungen]\nVerzeichnis=%1\n").arg(gone));
    Form1 &f = fx.start(QString());
    QCOMPARE(f.model().directory(), gone);
    QCOMPARE(f.model().fileCount(), 0);
    QCOMPARE(visibleSlots(f.controls()), 0);
    QVERIFY(f.controls().VerzeichnisText->text().startsWith(gone));
    QVERIFY(f.controls().VerzeichnisText->text().size() > gone.size());
}

void FormTest::startingWritesOnlyTheWindowState()
{
    FormFixture fx;
    Form1 &f = fx.start(QString());
    // Without a directory on the command line the program's own directory is
    // listed. Reading the settings creates nothing; the one value a start writes
    // is the window's state, which every resize records.
    QCOMPARE(f.model().directory(), fx.programDir.path() + QLatin1Char('/'));
    QVERIFY(QFile::exists(fx.iniPath()));
    QSettings s(fx.iniPath(), QSettings::IniFormat);
    QCOMPARE(s.childGroups(), QStringList{QStringLiteral("Einstellungen")});
    s.beginGroup(QStringLiteral("Einstellungen"));
    QCOMPARE(s.childKeys(), QStringList{QStringLiteral("Vollbild")});
    QCOMPARE(s.value(QStringLiteral("Vollbild")).toString(), QStringLiteral("0"));
}

void FormTest::unwritableSettingsKeepWhatWasTypedAndSayItOnce()
{
    FormFixture fx;
    testing::writePictures(fx.pictureDir.path(), numberedNames(3));
    // A settings file that cannot be rewritten: other users may write it.
    fx.writeSettings(QStringLiteral("[Einstellungen]\nLetztesDatum=2001.01.01\n"));
    QFile::setPermissions(fx.iniPath(), QFile::ReadOwner | QFile::WriteOwner | QFile::WriteGroup);
    testing::MessageBoxes boxes;
    Form1 &f = fx.start();
    Controls &c = f.controls();
    f.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&f));
    QCOMPARE(c.JahrText->text(), QStringLiteral("2001.01.01"));

    c.JahrText->setFocus();
    c.JahrText->selectAll();
    QTest::keyClicks(c.JahrText, QStringLiteral("2024.07.14_"));
    c.Command1->setFocus(); // leaving the box stores the prefix
    // The next page display shows what the user typed, not the stale file.
    QTest::mouseClick(c.ReloadBUtton, Qt::LeftButton);
    QCOMPARE(c.JahrText->text(), QStringLiteral("2024.07.14_"));
    QCOMPARE(f.settings().letztesDatum(), QStringLiteral("2024.07.14_"));

    // Said once, without stopping the user; the file is left as it was.
    QCOMPARE(boxes.notices().size(), 1);
    QVERIFY(boxes.notices().first().prompt.contains(fx.iniPath()));
    QVERIFY(boxes.shown().isEmpty());
    QCOMPARE(storedValue(fx.iniPath(), QStringLiteral("LetztesDatum")), QStringLiteral("2001.01.01"));
}

void FormTest::startInTurnsEndsAsTheWholeLoadDoes()
{
    // The program starts in turns of the event loop, the slots revealed a group
    // a turn; once done, the window is what the load in one go gives.
    FormFixture whole, turns;
    for (FormFixture *fx : {&whole, &turns})
        testing::writePictures(fx->pictureDir.path(), numberedNames(60));
    startLarge(whole);
    Launcher launcher(turns.options());
    QSignalSpy built(&launcher, &Launcher::built);
    QSignalSpy loaded(&launcher, &Launcher::loaded);
    launcher.start();
    QVERIFY(launcher.form() == nullptr); // nothing happens before the loop turns
    QVERIFY(built.wait(10000));
    twips::setWindowSize(launcher.form(), 90000, 26000);
    QVERIFY(loaded.count() == 1 || loaded.wait(10000));
    Form1 &f = *launcher.form();
    QVERIFY(f.isVisible());
    QCOMPARE(f.model().lastSlot(), 52);
    QTRY_COMPARE_WITH_TIMEOUT(visibleSlots(f.controls()), 53, 5000);
    QCOMPARE(visibleSlots(f.controls()), visibleSlots(whole.form->controls()));
    for (int i = 0; i < grid::SlotCount; ++i)
        QCOMPARE(f.controls().Text1[i]->toPlainText(), whole.form->controls().Text1[i]->toPlainText());
    QCOMPARE(f.controls().CounterTxt->text(), whole.form->controls().CounterTxt->text());
    QCOMPARE(f.controls().NextBtn->isEnabled(), whole.form->controls().NextBtn->isEnabled());
}

void FormTest::closingSetsClosing()
{
    FormFixture fx;
    Form1 &f = fx.start();
    QSignalSpy spy(&f, &Form1::closing);
    f.close();
    QVERIFY(f.isClosing());
    QCOMPARE(spy.count(), 1);
}

void FormTest::programAnswersHelpAndVersion()
{
    QProcess p;
    p.start(QStringLiteral(NAMORA_BINARY), {QStringLiteral("--version")});
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(p.readAllStandardOutput().contains("1.3"));
    p.start(QStringLiteral(NAMORA_BINARY), {QStringLiteral("--help")});
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(p.readAllStandardOutput().contains("directory"));
}

void FormTest::relayoutNeverLeavesAnotherPicturesThumbnail()
{
    // Each picture has its own hue (see writePictures), so a thumbnail tells
    // which file it was made from.
    FormFixture fx;
    testing::writePictures(fx.pictureDir.path(), numberedNames(60));
    Form1 &f = fx.start();
    Controls &c = f.controls();
    QCOMPARE(f.model().lastSlot(), 24);
    f.model().setPageIndex(1);
    f.model().showPage(true);
    const auto hueAt = [&c](int slot) {
        const QImage img = c.Picture1[slot]->picture().toImage();
        if (img.size() == QSize(151, 104))
            return -1; // the placeholder
        return img.pixelColor(img.rect().center()).hsvHue();
    };
    const auto near = [](int hue, int expected) { return hue >= 0 && qAbs(hue - expected) <= 6; };
    QTRY_VERIFY_WITH_TIMEOUT(near(hueAt(0), (25 * 37) % 360), 10000);

    // Twice as many slots: the second page now starts at picture 54.
    twips::setWindowSize(&f, 90000, 26000);
    QCOMPARE(f.model().lastSlot(), 52);
    QCOMPARE(c.Text1[0]->toPlainText(), QStringLiteral("IMG_54"));
    QVERIFY(!near(hueAt(0), (25 * 37) % 360));
    QTRY_VERIFY_WITH_TIMEOUT(near(hueAt(0), (53 * 37) % 360), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(near(hueAt(6), (59 * 37) % 360), 10000);
}

QTEST_MAIN(FormTest)
#include "form_test.moc"
