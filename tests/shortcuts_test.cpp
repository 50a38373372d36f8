#include "core/pages/PageModel.h"
#include "core/renaming/RenameRun.h"
#include "support/TestSupport.h"
#include "ui/window/Controls.h"

#include <QGroupBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeView>
#include <QtTest>

// The keys of the window, sent to the widget that has the focus, as the user
// presses them.
class ShortcutsTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void keysDoWhatTheirButtonsDo_data();
    void keysDoWhatTheirButtonsDo();
    void keysOfTheNameBoxesStayTheirs();

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
    } else {
        key(Qt::Key_Down, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), c().Text1[1]);
        key(Qt::Key_Down, Qt::AltModifier);
        key(Qt::Key_Up, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), c().Text1[1]);
    }
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

QTEST_MAIN(ShortcutsTest)
#include "shortcuts_test.moc"
