#include "core/pages/PageModel.h"
#include "core/renaming/RenameRun.h"
#include "core/settings/Ini.h"
#include "support/TestSupport.h"
#include "support/UpdateScenario.h"
#include "ui/window/Controls.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeView>
#include <QtTest>

// The keys of the window, sent to the widget that has the focus, as the user
// presses them; and what a file manager drops onto it.
class ShortcutsTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void keysDoWhatTheirButtonsDo_data();
    void keysDoWhatTheirButtonsDo();
    void keysOfTheNameBoxesStayTheirs();
    void companionSwitchIsRemembered();
    void dropsOpenAFolderOrAPicturesFolder_data();
    void dropsOpenAFolderOrAPicturesFolder();

private:
    Controls &c() { return m_fx->form->controls(); }
    PageModel &m() { return m_fx->form->model(); }
    void key(int k, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(k), mods);
    }

    std::unique_ptr<QTemporaryDir> m_journals;
    std::unique_ptr<testing::MessageBoxes> m_boxes;
    std::unique_ptr<testing::FormFixture> m_fx;
};

void ShortcutsTest::init()
{
    m_journals = std::make_unique<QTemporaryDir>();
    renaming::setJournalDirectory(m_journals->path());
    m_boxes = std::make_unique<testing::MessageBoxes>();
    m_fx = std::make_unique<testing::FormFixture>();
    m_fx->writeSettings(QStringLiteral("[Einstellungen]\nBilderAnzeigen=0\n"));
    QStringList names;
    for (int i = 1; i <= 60; ++i)
        names << QStringLiteral("IMG_%1.jpg").arg(i, 2, 10, QLatin1Char('0'));
    testing::writePictures(m_fx->pictureDir.path(), names, QSize(16, 12));
    Form1 &form = m_fx->start();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    c().Text1[0]->setFocus(Qt::TabFocusReason);
    QTRY_COMPARE(QApplication::focusWidget(), c().Text1[0]);
}

void ShortcutsTest::cleanup()
{
    m_fx.reset();
    m_boxes.reset();
    renaming::setJournalDirectory(QString());
}

void ShortcutsTest::keysDoWhatTheirButtonsDo_data()
{
    QTest::addColumn<QString>("action");
    QTest::newRow("Page Down in a name box pages on") << "pagedown";
    QTest::newRow("Page Up pages back") << "pageup";
    QTest::newRow("Page Down with a typed name asks, Cancel stays") << "ask";
    QTest::newRow("Ctrl+S saves") << "save";
    QTest::newRow("F5 reads the directory again") << "reload";
    QTest::newRow("Ctrl+O opens the chooser, Escape closes it") << "chooser";
    QTest::newRow("Alt+Down and Alt+Up walk the name boxes") << "walk";
    QTest::newRow("Ctrl+Z outside the boxes takes the save back") << "undo";
    QTest::newRow("Alt+R takes it back from a name box") << "undoalt";
}

void ShortcutsTest::keysDoWhatTheirButtonsDo()
{
    QFETCH(QString, action);
    if (action == QLatin1String("pagedown")) {
        key(Qt::Key_PageDown);
        QCOMPARE(m().pageIndex(), 1);
    } else if (action == QLatin1String("pageup")) {
        key(Qt::Key_PageDown);
        c().Text1[0]->setFocus(Qt::TabFocusReason);
        key(Qt::Key_PageUp);
        QCOMPARE(m().pageIndex(), 0);
    } else if (action == QLatin1String("ask")) {
        c().Text1[0]->setPlainText(QStringLiteral("Strand"));
        m_boxes->answer(platform::AnswerCancel);
        key(Qt::Key_PageDown);
        QCOMPARE(m_boxes->shown().size(), 1);
        QCOMPARE(m_boxes->shown().first().style, int(platform::YesNoCancelQuestion));
        QCOMPARE(m().pageIndex(), 0);
    } else if (action == QLatin1String("save")) {
        c().Text1[0]->setPlainText(QStringLiteral("Strand"));
        key(Qt::Key_S, Qt::ControlModifier);
        QVERIFY(QFile::exists(m_fx->picturePath() + QStringLiteral("Strand.jpg")));
    } else if (action == QLatin1String("reload")) {
        testing::writePictures(m_fx->pictureDir.path(), {QStringLiteral("IMG_61.jpg")}, QSize(16, 12));
        key(Qt::Key_F5);
        QCOMPARE(m().fileCount(), 61);
    } else if (action == QLatin1String("chooser")) {
        key(Qt::Key_O, Qt::ControlModifier);
        QTRY_VERIFY(c().VerzeichnisWahl->isVisible());
        // Page Down in the tree is the tree's own.
        c().DirTemp->setFocus(Qt::TabFocusReason);
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(c().DirTemp));
        key(Qt::Key_PageDown);
        QCOMPARE(m().pageIndex(), 0);
        key(Qt::Key_Escape);
        QTRY_VERIFY(!c().VerzeichnisWahl->isVisible());
        QCOMPARE(m().directory(), m_fx->picturePath());
    } else if (action.startsWith(QLatin1String("undo"))) {
        QVERIFY(!c().Rueckgaengig->isEnabled());
        c().Text1[0]->setPlainText(QStringLiteral("Strand"));
        c().Text1[1]->setPlainText(QStringLiteral("Hafen"));
        key(Qt::Key_S, Qt::ControlModifier);
        QVERIFY(QFile::exists(m_fx->picturePath() + QStringLiteral("Strand.jpg")));
        QVERIFY(c().Rueckgaengig->isEnabled());
        QVERIFY(c().Rueckgaengig->toolTip().startsWith(QStringLiteral("2 Dateien zurückbenennen")));
        if (action == QLatin1String("undo")) {
            c().Speichern->setFocus(Qt::TabFocusReason);
            QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(c().Speichern));
            key(Qt::Key_Z, Qt::ControlModifier);
        } else {
            key(Qt::Key_R, Qt::AltModifier);
        }
        // A mnemonic presses its button as a click shows it: a moment later.
        QTRY_VERIFY(QFile::exists(m_fx->picturePath() + QStringLiteral("IMG_01.jpg")));
        QVERIFY(QFile::exists(m_fx->picturePath() + QStringLiteral("IMG_02.jpg")));
        QCOMPARE(m_boxes->shown().last().prompt, QStringLiteral("2 Dateien wurden zurückbenannt."));
        QVERIFY(!c().Rueckgaengig->isEnabled());
        QCOMPARE(c().Text1[0]->toPlainText(), QStringLiteral("IMG_01"));
    } else {
        key(Qt::Key_Down, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), c().Text1[1]);
        key(Qt::Key_Down, Qt::AltModifier);
        key(Qt::Key_Up, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), c().Text1[1]);
    }
}

void ShortcutsTest::companionSwitchIsRemembered()
{
    QVERIFY(c().Begleitdateien->isChecked());
    QTest::mouseClick(c().Begleitdateien, Qt::LeftButton, {}, QPoint(6, c().Begleitdateien->height() / 2));
    QVERIFY(!c().Begleitdateien->isChecked());
    QVERIFY(!m().takeCompanions());
    QCOMPARE(ini::IniRead(QStringLiteral("Einstellungen"), QStringLiteral("Begleitdateien"), m_fx->iniPath(),
                          QString()),
             QStringLiteral("0"));
}

void ShortcutsTest::keysOfTheNameBoxesStayTheirs()
{
    // Letters go into the box, Ctrl+Z undoes typing there, Enter moves down.
    QPlainTextEdit *box = c().Text1[0];
    const QString before = box->toPlainText();
    box->moveCursor(QTextCursor::End);
    key(Qt::Key_X);
    QCOMPARE(box->toPlainText(), before + QLatin1Char('x'));
    key(Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(box->toPlainText(), before);
    key(Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), c().Text1[1]);
    QVERIFY(c().NextBtn->toolTip().contains(QStringLiteral("Bild ab")));
    QVERIFY(c().Speichern->toolTip().contains(QStringLiteral("Strg+S")));
}

void ShortcutsTest::dropsOpenAFolderOrAPicturesFolder_data()
{
    // Paths relative to a second picture directory "other" of 60 pictures;
    // "-" stands for an address that is not a local file.
    QTest::addColumn<QStringList>("dropped");
    QTest::addColumn<QString>("onto");    // "box": a name box, else the window
    QTest::addColumn<int>("answer");      // to the question about a typed name; 0: none typed
    QTest::addColumn<bool>("accepted");   // the drag shows that a drop would open something
    QTest::addColumn<QString>("openDir"); // expected directory afterwards: "other" or "same"
    QTest::addColumn<QString>("showing"); // a picture the page shown holds; empty: the first page
    QTest::newRow("a folder onto a name box")
        << QStringList{QStringLiteral(".")} << "box" << 0 << true << "other" << QString();
    QTest::newRow("a picture opens its folder at its page")
        << QStringList{QStringLiteral("IMG_58.jpg")} << "window" << 0 << true << "other"
        << QStringLiteral("IMG_58.jpg");
    QTest::newRow("pictures of one folder, at the first")
        << QStringList{QStringLiteral("IMG_55.jpg"), QStringLiteral("IMG_02.jpg")} << "window" << 0 << true
        << "other" << QStringLiteral("IMG_55.jpg");
    QTest::newRow("typed name: Cancel keeps the directory")
        << QStringList{QStringLiteral(".")} << "window" << int(platform::AnswerCancel) << true << "same"
        << QString();
    QTest::newRow("typed name: No opens the folder")
        << QStringList{QStringLiteral(".")} << "window" << int(platform::AnswerNo) << true << "other"
        << QString();
    QTest::newRow("a text file is refused")
        << QStringList{QStringLiteral("notes.txt")} << "box" << 0 << false << "same" << QString();
    QTest::newRow("two folders are refused") << QStringList{QStringLiteral("."), QStringLiteral("sub")}
                                             << "window" << 0 << false << "same" << QString();
    QTest::newRow("a picture and a folder are refused")
        << QStringList{QStringLiteral("IMG_01.jpg"), QStringLiteral("sub")} << "window" << 0 << false
        << "same" << QString();
    QTest::newRow("a remote address is refused")
        << QStringList{QStringLiteral("-")} << "window" << 0 << false << "same" << QString();
}

void ShortcutsTest::dropsOpenAFolderOrAPicturesFolder()
{
    QFETCH(QStringList, dropped);
    QFETCH(QString, onto);
    QFETCH(int, answer);
    QFETCH(bool, accepted);
    QFETCH(QString, openDir);
    QFETCH(QString, showing);

    QTemporaryDir other;
    QStringList names;
    for (int i = 1; i <= 60; ++i)
        names << QStringLiteral("IMG_%1.jpg").arg(i, 2, 10, QLatin1Char('0'));
    testing::writePictures(other.path(), names, QSize(16, 12));
    QVERIFY(QDir(other.path()).mkdir(QStringLiteral("sub")));
    testing::writeFile(other.filePath(QStringLiteral("notes.txt")), "text");
    QList<QUrl> urls;
    for (const QString &d : dropped)
        urls << (d == QLatin1String("-") ? QUrl(QStringLiteral("https://example.org/IMG_01.jpg"))
                                         : QUrl::fromLocalFile(other.filePath(d)));
    if (answer != 0) {
        c().Text1[0]->setPlainText(QStringLiteral("Strand"));
        m_boxes->answer(answer);
    }
    QMimeData data;
    data.setUrls(urls);
    data.setText(urls.front().toString());
    QWidget *target =
        onto == QLatin1String("box") ? c().Text1[1]->viewport() : static_cast<QWidget *>(m_fx->form.get());
    const QString textBefore = c().Text1[1]->toPlainText();
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction | Qt::LinkAction, &data, Qt::LeftButton,
                          Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QCOMPARE(enter.isAccepted(), accepted);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction | Qt::LinkAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();

    const QString expected = openDir == QLatin1String("other")
                                 ? QDir(other.path()).absolutePath() + QLatin1Char('/')
                                 : m_fx->picturePath();
    QCOMPARE(m().directory(), expected);
    if (showing.isEmpty()) {
        QCOMPARE(m().pageIndex(), 0);
    } else {
        QVERIFY(m().pageIndex() > 0);
        QVERIFY(m().pageIndex() * (m().lastSlot() + 1) <= names.indexOf(showing));
        QVERIFY((m().pageIndex() + 1) * (m().lastSlot() + 1) > names.indexOf(showing));
    }
    QCOMPARE(m_boxes->shown().size(), answer != 0 && accepted ? 1 : 0);
    // A dropped file's address never lands in a box as text.
    if (openDir == QLatin1String("same") && answer == 0)
        QCOMPARE(c().Text1[1]->toPlainText(), textBefore);
}

QTEST_MAIN(ShortcutsTest)
#include "shortcuts_test.moc"
