#include "core/pages/PageModel.h"
#include "core/renaming/RenameRun.h"
#include "support/RenameScenario.h"
#include "support/TestSupport.h"
#include "ui/pages/NameMarker.h"
#include "ui/window/Controls.h"

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

using namespace testing;

// "Alle Seiten": the bulk tools and the save take every picture of the
// directory; and every box shows, while typing, what the save would refuse.
class WholeDirectoryTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void toolsTakeThePageOrTheWholeList_data();
    void toolsTakeThePageOrTheWholeList();
    void typedNamesStayAcrossPagesAndSaveAsOnePlan();
    void refusedWholeSaveRenamesNothing();
    void problemsAreThoseOfTheSave_data();
    void problemsAreThoseOfTheSave();
    void markersFollowTheTyping();

private:
    static QStringList pictures(int count)
    {
        QStringList names;
        for (int i = 1; i <= count; ++i)
            names << QStringLiteral("IMG_%1.jpg").arg(i, 2, 10, QLatin1Char('0'));
        return names;
    }
    static void openInPagesOfTen(PageModel &m, const QString &dir, bool whole)
    {
        m.load(dir);
        m.setLastSlot(9);
        m.showPage(true);
        m.setWholeDirectory(whole);
    }
    std::unique_ptr<QTemporaryDir> m_journals;
};

void WholeDirectoryTest::init()
{
    m_journals = std::make_unique<QTemporaryDir>();
    renaming::setJournalDirectory(m_journals->path());
}

void WholeDirectoryTest::cleanup()
{
    renaming::setJournalDirectory(QString());
    m_journals.reset();
}

void WholeDirectoryTest::toolsTakeThePageOrTheWholeList_data()
{
    // 25 pictures on pages of 10; the page shown is the second.
    QTest::addColumn<QString>("tool");
    QTest::addColumn<bool>("whole");
    QTest::addColumn<QStringList>("expected"); // names of pictures 1, 11, 20 and 25
    const auto row = [](const char *name, const char *tool, bool whole, QStringList expected) {
        QTest::newRow(name) << QString::fromLatin1(tool) << whole << expected;
    };
    row("prefix, page", "prefix", false, {u"IMG_01"_qs, u"X_IMG_11"_qs, u"X_IMG_20"_qs, u"IMG_25"_qs});
    row("prefix, all", "prefix", true, {u"X_IMG_01"_qs, u"X_IMG_11"_qs, u"X_IMG_20"_qs, u"X_IMG_25"_qs});
    row("suffix, all", "suffix", true, {u"IMG_01_Y"_qs, u"IMG_11_Y"_qs, u"IMG_20_Y"_qs, u"IMG_25_Y"_qs});
    row("numbers, page", "numbers", false, {u"IMG_01"_qs, u"IMG_11007"_qs, u"IMG_20016"_qs, u"IMG_25"_qs});
    row("numbers run through the list", "numbers", true,
        {u"IMG_01007"_qs, u"IMG_11017"_qs, u"IMG_20026"_qs, u"IMG_25031"_qs});
    row("replace, all", "replace", true, {u"Bild_01"_qs, u"Bild_11"_qs, u"Bild_20"_qs, u"Bild_25"_qs});
    row("clear, page", "clear", false, {u"IMG_01"_qs, QString(), QString(), u"IMG_25"_qs});
    row("clear, all", "clear", true, {QString(), QString(), QString(), QString()});
}

void WholeDirectoryTest::toolsTakeThePageOrTheWholeList()
{
    QFETCH(QString, tool);
    QFETCH(bool, whole);
    QFETCH(QStringList, expected);
    const PictureDir p(pictures(25));
    PageModel m;
    openInPagesOfTen(m, p.d, whole);
    m.setPageIndex(1);
    m.showPage(true);
    m.setStartNumber(u"007"_qs);
    if (tool == QLatin1String("prefix"))
        m.addPrefix(u"X_"_qs);
    else if (tool == QLatin1String("suffix"))
        m.addSuffix(u"_Y"_qs);
    else if (tool == QLatin1String("numbers"))
        m.addNumbers();
    else if (tool == QLatin1String("replace"))
        m.replaceText(u"img"_qs, u"Bild"_qs);
    else
        m.clearNames();
    QCOMPARE((QStringList{m.pictureName(0), m.pictureName(10), m.pictureName(19), m.pictureName(24)}),
             expected);
    const int changed = whole ? 25 : 10;
    QCOMPARE(m.changedCount(), changed);
    // Paging keeps them in both modes as far as the model goes; the start
    // number steps with the page only when the page alone is numbered.
    m.stepForward();
    m.showPage(false);
    QCOMPARE(m.pictureName(24), expected.last());
    QCOMPARE(m.startNumber(), whole ? u"007"_qs : u"017"_qs);
}

void WholeDirectoryTest::typedNamesStayAcrossPagesAndSaveAsOnePlan()
{
    PictureDir p(pictures(25));
    PageModel m;
    openInPagesOfTen(m, p.d, true);
    m.setName(0, u"Anfang"_qs);
    m.setPageIndex(2);
    m.showPage(false);
    m.setName(4, u"Ende"_qs);
    m.addPrefix(u"2024_"_qs);
    QCOMPARE(m.name(4), u"2024_Ende"_qs);
    const PageModel::SaveResult r = m.save();
    QVERIFY(r.ok());
    QCOMPARE(r.renamed, 25);
    QCOMPARE(r.waitingElsewhere, 0);
    QVERIFY(p.now().contains(u"2024_Anfang.jpg"_qs) && p.now().contains(u"2024_Ende.jpg"_qs) &&
            p.now().contains(u"2024_IMG_12.jpg"_qs));
    QCOMPARE(m.changedCount(), 0);
    // One save, one step back.
    QCOMPARE(m.undoSize(), 25);
    QVERIFY(m.undo().done);
    QCOMPARE(p.now(), p.before);
}

void WholeDirectoryTest::refusedWholeSaveRenamesNothing()
{
    PictureDir p(pictures(25));
    PageModel m;
    openInPagesOfTen(m, p.d, true);
    m.addSuffix(u"_x"_qs);
    m.setPageIndex(2);
    m.showPage(false);
    m.setName(0, u"IMG_01_x"_qs); // picture 21 takes picture 1's new name
    PageModel::SaveResult r = m.save();
    QCOMPARE(r.status, PageModel::SaveResult::Duplicates);
    QCOMPARE(r.duplicates, QStringList{u"IMG_01_x"_qs});
    m.setName(0, u"a/b"_qs);
    r = m.save();
    QCOMPARE(r.status, PageModel::SaveResult::Refused);
    QVERIFY2(r.message.contains(u"Bild 21 (IMG_21.jpg)"_qs), qPrintable(r.message));
    QCOMPARE(p.now(), p.before);
    QCOMPARE(m.changedCount(), 25);
}

void WholeDirectoryTest::problemsAreThoseOfTheSave_data()
{
    QTest::addColumn<QString>("typed"); // for picture 1 of IMG_01..IMG_03 and a file "Notiz.jpg.d/"
    QTest::addColumn<QString>("problem");
    QTest::newRow("own name") << u"IMG_01"_qs << QString();
    QTest::newRow("a new name") << u"Strand"_qs << QString();
    QTest::newRow("empty") << QString() << u"keinen Namen"_qs;
    QTest::newRow("a slash") << u"a/b"_qs << u"/"_qs;
    QTest::newRow("hidden") << u".Strand"_qs << u"Punkt"_qs;
    QTest::newRow("too long") << QString(260, u'x') << u"lang"_qs;
    QTest::newRow("a picture that keeps its name") << u"IMG_03"_qs << u"mehrfach"_qs;
    QTest::newRow("a name another box has too") << u"Hafen"_qs << u"mehrfach"_qs;
    QTest::newRow("a file that is no picture of the list") << u"Ordner"_qs << u"Ordner.jpg"_qs;
}

void WholeDirectoryTest::problemsAreThoseOfTheSave()
{
    QFETCH(QString, typed);
    QFETCH(QString, problem);
    PictureDir p(pictures(3));
    QVERIFY(QDir(p.d).mkdir(u"Ordner.jpg"_qs));
    PageModel m;
    m.load(p.d);
    m.showPage(true);
    m.setName(1, u"Hafen"_qs);
    m.setName(0, typed);
    const QString found = m.nameProblem(0);
    QVERIFY2(problem.isEmpty() ? found.isEmpty() : found.contains(problem), qPrintable(found));
    // The save agrees: it refuses exactly what is marked.
    QCOMPARE(m.save().ok(), problem.isEmpty());
}

void WholeDirectoryTest::markersFollowTheTyping()
{
    MessageBoxes boxes;
    FormFixture fx;
    fx.writeSettings(u"[Einstellungen]\nBilderAnzeigen=0\n"_qs);
    testing::writePictures(fx.pictureDir.path(), pictures(30), QSize(16, 12));
    QVERIFY(QDir(fx.pictureDir.path()).mkdir(u"Ordner.jpg"_qs)); // a name no picture of the list has
    Form1 &form = fx.start();
    Controls &c = form.controls();
    const auto marker = [&c](int slot) {
        const NameMarker *m = c.Text1[slot]->findChild<NameMarker *>();
        return m ? NameMarker::State(m->stateValue()) : NameMarker::State::None;
    };
    const QColor background = c.Text1[0]->palette().color(QPalette::Base);
    struct Step {
        int slot;
        QString text;
        NameMarker::State first, second;
        const char *tip; // in the first box's tooltip
    };
    using S = NameMarker::State;
    const QList<Step> steps{
        {0, u"Strand"_qs, S::Changed, S::None, ""},
        {1, u"Strand"_qs, S::Problem, S::Problem, "mehrfach"},
        {1, u"Hafen"_qs, S::Changed, S::Changed, ""},
        {0, u"Str/and"_qs, S::Problem, S::Changed, "/"},
        {0, u"IMG_03"_qs, S::Problem, S::Changed, "mehrfach"},
        {0, u"Ordner"_qs, S::Problem, S::Changed, "Ordner.jpg"},
        {0, u"IMG_01"_qs, S::None, S::Changed, ""},
    };
    for (const Step &s : steps) {
        c.Text1[s.slot]->setPlainText(s.text);
        QCOMPARE(marker(0), s.first);
        QCOMPARE(marker(1), s.second);
        QVERIFY2(c.Text1[0]->toolTip().contains(QLatin1String(s.tip)), qPrintable(c.Text1[0]->toolTip()));
        QCOMPARE(c.Text1[0]->palette().color(QPalette::Base), background);
    }
    QCOMPARE(c.GeaendertTxt->text(), u"1 Name geändert"_qs);
    // Switched to the whole directory, a page change keeps the name unasked.
    c.AlleSeiten->click();
    c.NextBtn->click();
    QVERIFY(boxes.shown().isEmpty());
    QCOMPARE(form.model().pictureName(1), u"Hafen"_qs);
}

QTEST_MAIN(WholeDirectoryTest)
#include "wholedirectory_test.moc"
