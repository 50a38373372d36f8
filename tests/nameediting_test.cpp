#include "core/pages/PageModel.h"
#include "core/settings/Ini.h"
#include "support/TestSupport.h"
#include "ui/pages/PageView.h"
#include "ui/window/Widgets.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyleFactory>
#include <QtTest>

namespace {

constexpr quint32 White = 0x00FFFFFF;
constexpr quint32 PaleYellow = 0x00F0FFFF;

const QStringList Pictures = {QStringLiteral("IMG_0815.jpg"), QStringLiteral("Img_0816.jpg"),
                              QStringLiteral("Urlaub.jpg")};

QString settingsValue(const testing::FormFixture &fx, const QString &key)
{
    return ini::IniRead(QStringLiteral("Einstellungen"), key, fx.iniPath(), QStringLiteral("<missing>"));
}

// Presses a key where the keyboard focus is, as the user would.
void press(Qt::Key key)
{
    QWidget *w = QApplication::focusWidget();
    QVERIFY(w);
    QTest::keyClick(w, key);
}

} // namespace

class NameEditingTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void enterWalksNameBoxesAndStopsAtTheLastPicture_data();
    void enterWalksNameBoxesAndStopsAtTheLastPicture();
    void nameBoxSelectionFollowsThePrefixOnFocus();
    void xButtonTogglesBetweenEmptyAndFileName();
    void clearAllEmptiesTheSlotsOfThePageOnly();
    void toolBarBoxesTurnWhiteOnFocusAndPaleYellowWhenLeft_data();
    void toolBarBoxesTurnWhiteOnFocusAndPaleYellowWhenLeft();
    void switchingWindowsIsNoFocusChange();
    void firstBoxOfTheOpeningWindowTakesItsFocusWork();
    void enterInAToolBarBoxMovesToItsButtonWithoutTyping_data();
    void enterInAToolBarBoxMovesToItsButtonWithoutTyping();
    void prefixIsCleanedStoredAndComesBackOnNextDisplay();
    void blanksAroundThePrefixGoBeforeItIsApplied();
    void clickIntoThePrefixSelectsAsTheKeyboardDoes();
    void suffixIsStoredTrimmedAndComesBackOnNextDisplay();
    void prefixAndSuffixGoToPicturesOnly();
    void startNumberIsNormalisedWhenLeftAndNumbersAllSlots();
    void replaceButtonFollowsTheSearchText();
    void replaceRewritesEveryNameOfThePage();
    void enterInReplacementWithDisabledButtonKeepsTheFocus();

private:
    Controls &c() { return m_fx->form->controls(); }
    PageModel &s() { return m_fx->form->model(); }
    void focus(QWidget *w);

    std::unique_ptr<testing::FormFixture> m_fx;
};

void NameEditingTest::initTestCase()
{
    // Colours are asserted: use the style the program uses.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
}

void NameEditingTest::init()
{
    m_fx = std::make_unique<testing::FormFixture>();
    QVERIFY(m_fx->programDir.isValid() && m_fx->pictureDir.isValid());
    testing::writePictures(m_fx->pictureDir.path(), Pictures);
    m_fx->writeSettings(QStringLiteral("[Einstellungen]\nBilderAnzeigen=0\n"));
    Form1 &form = m_fx->start();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QCOMPARE(s().fileCount(), 3);
    QVERIFY(s().lastSlot() >= 3);
}

void NameEditingTest::cleanup()
{
    m_fx.reset();
}

void NameEditingTest::focus(QWidget *w)
{
    QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(2, 2));
    QTRY_COMPARE(QApplication::focusWidget(), w);
}

void NameEditingTest::enterWalksNameBoxesAndStopsAtTheLastPicture_data()
{
    QTest::addColumn<int>("key");
    QTest::newRow("Return") << int(Qt::Key_Return);
    QTest::newRow("keypad Enter") << int(Qt::Key_Enter);
}

void NameEditingTest::enterWalksNameBoxesAndStopsAtTheLastPicture()
{
    QFETCH(int, key);
    focus(c().Text1[0]);
    press(Qt::Key(key));
    QCOMPARE(QApplication::focusWidget(), c().Text1[1]);
    press(Qt::Key(key));
    QCOMPARE(QApplication::focusWidget(), c().Text1[2]);
    // Slot 3 holds no picture: its box is hidden, the focus stays.
    press(Qt::Key(key));
    QCOMPARE(QApplication::focusWidget(), c().Text1[2]);
    QCOMPARE(c().Text1[0]->toPlainText(), QStringLiteral("IMG_0815"));
    QCOMPARE(c().Text1[1]->toPlainText(), QStringLiteral("Img_0816"));
    QCOMPARE(c().Text1[2]->toPlainText(), QStringLiteral("Urlaub"));
}

void NameEditingTest::nameBoxSelectionFollowsThePrefixOnFocus()
{
    c().JahrText->setText(QStringLiteral("1990.01.31"));
    c().Text1[1]->setPlainText(QStringLiteral("1990.01.31 Urlaub"));
    focus(c().Text1[0]);
    press(Qt::Key_Return);
    QCOMPARE(c().Text1[1]->textCursor().selectedText(), QStringLiteral("Urlaub"));
    press(Qt::Key_Return);
    QCOMPARE(c().Text1[2]->textCursor().selectedText(), QStringLiteral("Urlaub"));
    QCOMPARE(c().Text1[2]->textCursor().selectionStart(), 0);
    // Typing replaces the selection: the selection is a real one.
    QTest::keyClicks(c().Text1[2], QStringLiteral("Rom"));
    QCOMPARE(c().Text1[2]->toPlainText(), QStringLiteral("Rom"));
}

void NameEditingTest::xButtonTogglesBetweenEmptyAndFileName()
{
    QTest::mouseClick(c().Command3[0], Qt::LeftButton);
    QCOMPARE(c().Text1[0]->toPlainText(), QString());
    QTest::mouseClick(c().Command3[0], Qt::LeftButton);
    QCOMPARE(c().Text1[0]->toPlainText(), QStringLiteral("IMG_0815"));

    // An edit is lost on the clearing click; a lone blank counts as text.
    c().Text1[1]->setPlainText(QStringLiteral(" "));
    QTest::mouseClick(c().Command3[1], Qt::LeftButton);
    QCOMPARE(c().Text1[1]->toPlainText(), QString());
    QTest::mouseClick(c().Command3[1], Qt::LeftButton);
    QCOMPARE(c().Text1[1]->toPlainText(), QStringLiteral("Img_0816"));
}

void NameEditingTest::clearAllEmptiesTheSlotsOfThePageOnly()
{
    const int last = s().lastSlot();
    c().Text1[last]->setPlainText(QStringLiteral("hidden"));
    c().Text1[last + 1]->setPlainText(QStringLiteral("beyond the page"));
    QWidget *before = QApplication::focusWidget();
    QTest::mouseClick(c().Command4, Qt::LeftButton);
    for (int i = 0; i <= last; ++i)
        QCOMPARE(c().Text1[i]->toPlainText(), QString());
    QCOMPARE(c().Text1[last + 1]->toPlainText(), QStringLiteral("beyond the page"));
    QCOMPARE(s().filePath(0), m_fx->picturePath() + Pictures.at(0));
    // The button takes the focus on the click, nothing else moves it.
    QVERIFY(QApplication::focusWidget() == c().Command4 || QApplication::focusWidget() == before);
}

void NameEditingTest::toolBarBoxesTurnWhiteOnFocusAndPaleYellowWhenLeft_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<quint32>("design");
    QTest::newRow("JahrText") << QStringLiteral("JahrText") << PaleYellow;
    QTest::newRow("RechtsAnfTxt") << QStringLiteral("RechtsAnfTxt") << PaleYellow;
    QTest::newRow("NummerTxt") << QStringLiteral("NummerTxt") << PaleYellow;
    QTest::newRow("SuchenTxt") << QStringLiteral("SuchenTxt") << quint32(0x00C0C0FF);
    QTest::newRow("Ersetzenentxt") << QStringLiteral("Ersetzenentxt") << quint32(0x00C0FFC0);
}

void NameEditingTest::toolBarBoxesTurnWhiteOnFocusAndPaleYellowWhenLeft()
{
    QFETCH(QString, box);
    auto *edit = m_fx->form->findChild<QLineEdit *>(box);
    QVERIFY(edit);
    QFETCH(quint32, design);
    // The box that holds the focus when the window opens has had it already.
    if (QApplication::focusWidget() != edit)
        QCOMPARE(backColour(edit), design);
    focus(c().Text1[0]);
    focus(edit);
    QCOMPARE(backColour(edit), White);
    QCOMPARE(edit->palette().color(QPalette::Base), colourFromBgr(White));
    focus(c().Text1[0]);
    QCOMPARE(backColour(edit), PaleYellow);
    QCOMPARE(edit->palette().color(QPalette::Base), colourFromBgr(PaleYellow));
}

void NameEditingTest::switchingWindowsIsNoFocusChange()
{
    focus(c().JahrText);
    c().JahrText->setText(QStringLiteral("12:30"));
    // Another window or a message box taking over is not the box losing focus:
    // nothing is cleaned, stored or recoloured.
    QFocusEvent out(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(c().JahrText, &out);
    QFocusEvent popup(QEvent::FocusOut, Qt::PopupFocusReason);
    QApplication::sendEvent(c().JahrText, &popup);
    QCOMPARE(backColour(c().JahrText), White);
    QCOMPARE(c().JahrText->text(), QStringLiteral("12:30"));
    QCOMPARE(settingsValue(*m_fx, QStringLiteral("LetztesDatum")), QStringLiteral("<missing>"));
}

void NameEditingTest::firstBoxOfTheOpeningWindowTakesItsFocusWork()
{
    // The focus arrives with the window's activation; for a box that did not hold
    // it before, that is a real arrival.
    QCOMPARE(QApplication::focusWidget(), c().JahrText);
    QCOMPARE(backColour(c().JahrText), White);
    QCOMPARE(c().JahrText->selectedText(), QStringLiteral("90.01.31"));
    QTest::keyClicks(c().JahrText, QStringLiteral("04/05/06"));
    focus(c().Text1[0]);
    QCOMPARE(c().JahrText->text(), QStringLiteral("1904_05_06"));
    QCOMPARE(backColour(c().JahrText), PaleYellow);
}

void NameEditingTest::enterInAToolBarBoxMovesToItsButtonWithoutTyping_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("button");
    QTest::newRow("prefix") << QStringLiteral("JahrText") << QStringLiteral("Command1");
    QTest::newRow("suffix") << QStringLiteral("RechtsAnfTxt") << QStringLiteral("REchtsAnf");
    QTest::newRow("start number") << QStringLiteral("NummerTxt") << QStringLiteral("SetNr");
    QTest::newRow("search") << QStringLiteral("SuchenTxt") << QStringLiteral("Ersetzenentxt");
}

void NameEditingTest::enterInAToolBarBoxMovesToItsButtonWithoutTyping()
{
    QFETCH(QString, box);
    QFETCH(QString, button);
    auto *edit = m_fx->form->findChild<QLineEdit *>(box);
    auto *target = m_fx->form->findChild<QWidget *>(button);
    QVERIFY(edit && target);
    focus(edit);
    const QString before = edit->text();
    press(Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), target);
    QCOMPARE(edit->text(), before);
    QCOMPARE(backColour(edit), PaleYellow);
}

void NameEditingTest::prefixIsCleanedStoredAndComesBackOnNextDisplay()
{
    focus(c().Text1[0]);
    // Tabbing in: the selection leaves the first two digits of the year, although
    // a line edit selects all of its text when tabbed into.
    c().JahrText->setFocus(Qt::TabFocusReason);
    QCOMPARE(QApplication::focusWidget(), c().JahrText);
    QCOMPARE(c().JahrText->selectedText(), QStringLiteral("90.01.31"));
    c().JahrText->selectAll();
    QTest::keyClicks(c().JahrText, QStringLiteral("12:30 "));
    focus(c().RechtsAnfTxt);
    QCOMPARE(c().JahrText->text(), QStringLiteral("12_30"));
    QCOMPARE(settingsValue(*m_fx, QStringLiteral("LetztesDatum")), QStringLiteral("12_30"));

    c().JahrText->setText(QStringLiteral("typed but never left"));
    m_fx->form->model().showPage(false);
    QCOMPARE(c().JahrText->text(), QStringLiteral("12_30"));
}

void NameEditingTest::blanksAroundThePrefixGoBeforeItIsApplied()
{
    focus(c().JahrText);
    c().JahrText->setText(QStringLiteral("  2023.07.01 "));
    QTest::mouseClick(c().Command1, Qt::LeftButton);
    QCOMPARE(settingsValue(*m_fx, QStringLiteral("LetztesDatum")), QStringLiteral("2023.07.01"));
    QCOMPARE(c().Text1[0]->toPlainText(), QStringLiteral("2023.07.01IMG_0815"));
    // The file itself holds the values without their blanks.
    focus(c().RechtsAnfTxt);
    c().RechtsAnfTxt->setText(QStringLiteral("_Rom "));
    focus(c().Text1[1]);
    QFile ini(m_fx->iniPath());
    QVERIFY(ini.open(QIODevice::ReadOnly));
    const QByteArray stored = ini.readAll();
    QVERIFY2(stored.contains("LetztesDatum=2023.07.01\r\n") || stored.contains("LetztesDatum=2023.07.01\n"),
             stored.constData());
    QVERIFY2(stored.contains("RechtsAnf=_Rom\r\n") || stored.contains("RechtsAnf=_Rom\n"),
             stored.constData());
}

void NameEditingTest::clickIntoThePrefixSelectsAsTheKeyboardDoes()
{
    focus(c().Text1[0]);
    QTest::mouseClick(c().JahrText, Qt::LeftButton, {}, QPoint(c().JahrText->width() / 2, 5));
    QCOMPARE(QApplication::focusWidget(), c().JahrText);
    QCOMPARE(c().JahrText->selectedText(), QStringLiteral("90.01.31"));
}

void NameEditingTest::suffixIsStoredTrimmedAndComesBackOnNextDisplay()
{
    focus(c().RechtsAnfTxt);
    QTest::keyClicks(c().RechtsAnfTxt, QStringLiteral(" a/b"));
    QTest::mouseClick(c().REchtsAnf, Qt::LeftButton);
    // Leaving the box for its button cleans and stores before the click appends.
    QCOMPARE(c().RechtsAnfTxt->text(), QStringLiteral(" a_b"));
    QCOMPARE(settingsValue(*m_fx, QStringLiteral("RechtsAnf")), QStringLiteral("a_b"));
    QCOMPARE(c().Text1[0]->toPlainText(), QStringLiteral("IMG_0815 a_b"));

    m_fx->form->model().showPage(true);
    QCOMPARE(c().RechtsAnfTxt->text(), QStringLiteral("a_b"));
}

void NameEditingTest::prefixAndSuffixGoToPicturesOnly()
{
    c().JahrText->setText(QStringLiteral("1990.01.31_"));
    c().Text1[1]->setPlainText(QString());
    QTest::mouseClick(c().Command1, Qt::LeftButton);
    QCOMPARE(c().Text1[0]->toPlainText(), QStringLiteral("1990.01.31_IMG_0815"));
    QCOMPARE(c().Text1[1]->toPlainText(), QStringLiteral("1990.01.31_"));
    QCOMPARE(c().Text1[3]->toPlainText(), QString());
    // The first name box takes the focus, selected behind the prefix and one
    // separator.
    QCOMPARE(QApplication::focusWidget(), c().Text1[0]);
    QCOMPARE(c().Text1[0]->textCursor().selectedText(), QStringLiteral("MG_0815"));

    c().RechtsAnfTxt->setText(QStringLiteral("_Rom"));
    QTest::mouseClick(c().REchtsAnf, Qt::LeftButton);
    QTest::mouseClick(c().REchtsAnf, Qt::LeftButton);
    QCOMPARE(c().Text1[2]->toPlainText(), QStringLiteral("1990.01.31_Urlaub_Rom_Rom"));
    QCOMPARE(c().Text1[3]->toPlainText(), QString());
}

void NameEditingTest::startNumberIsNormalisedWhenLeftAndNumbersAllSlots()
{
    focus(c().NummerTxt);
    c().NummerTxt->selectAll();
    QTest::keyClicks(c().NummerTxt, QStringLiteral("-05"));
    press(Qt::Key_Return);
    QCOMPARE(c().NummerTxt->text(), QStringLiteral("0-5"));
    QCOMPARE(QApplication::focusWidget(), c().SetNr);

    // Enter, Enter: the second one presses the button that took the focus.
    focus(c().NummerTxt);
    c().NummerTxt->selectAll();
    QTest::keyClicks(c().NummerTxt, QStringLiteral("01"));
    press(Qt::Key_Return);
    press(Qt::Key_Return);
    QCOMPARE(c().Text1[0]->toPlainText(), QStringLiteral("IMG_081501"));
    QCOMPARE(c().Text1[2]->toPlainText(), QStringLiteral("Urlaub03"));
    // Slots without a picture are numbered too; the next page display empties them.
    QCOMPARE(c().Text1[3]->toPlainText(), QStringLiteral("04"));
    QCOMPARE(c().Text1[s().lastSlot()]->toPlainText(),
             QString::number(s().lastSlot() + 1).rightJustified(2, QLatin1Char('0')));
    QCOMPARE(c().Text1[s().lastSlot() + 1]->toPlainText(), QString());
}

void NameEditingTest::replaceButtonFollowsTheSearchText()
{
    QVERIFY(!c().Ersetzen->isEnabled());
    focus(c().SuchenTxt);
    QTest::keyClick(c().SuchenTxt, Qt::Key_I);
    QVERIFY(c().Ersetzen->isEnabled());
    QTest::keyClick(c().SuchenTxt, Qt::Key_Backspace);
    QVERIFY(!c().Ersetzen->isEnabled());
    // A blank is something to search for.
    QTest::keyClick(c().SuchenTxt, Qt::Key_Space);
    QVERIFY(c().Ersetzen->isEnabled());
    c().SuchenTxt->clear();
    QVERIFY(!c().Ersetzen->isEnabled());
}

void NameEditingTest::replaceRewritesEveryNameOfThePage()
{
    focus(c().SuchenTxt);
    QTest::keyClicks(c().SuchenTxt, QStringLiteral("img_"));
    press(Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), c().Ersetzenentxt);
    QTest::keyClicks(c().Ersetzenentxt, QStringLiteral("Urlaub_"));
    press(Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), c().Ersetzen);
    QCOMPARE(c().Ersetzenentxt->text(), QStringLiteral("Urlaub_"));
    QCOMPARE(backColour(c().Ersetzenentxt), PaleYellow);

    QTest::mouseClick(c().Ersetzen, Qt::LeftButton);
    QCOMPARE(c().Text1[0]->toPlainText(), QStringLiteral("Urlaub_0815"));
    QCOMPARE(c().Text1[1]->toPlainText(), QStringLiteral("Urlaub_0816"));
    QCOMPARE(c().Text1[2]->toPlainText(), QStringLiteral("Urlaub"));
    QCOMPARE(c().Text1[3]->toPlainText(), QString());
}

void NameEditingTest::enterInReplacementWithDisabledButtonKeepsTheFocus()
{
    focus(c().Ersetzenentxt);
    QCOMPARE(backColour(c().Ersetzenentxt), White);
    press(Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), c().Ersetzenentxt);
    QCOMPARE(backColour(c().Ersetzenentxt), PaleYellow);
    QCOMPARE(c().Ersetzenentxt->text(), QString());
}

QTEST_MAIN(NameEditingTest)
#include "nameediting_test.moc"
