#include "core/pages/PageModel.h"
#include "core/pictures/Companions.h"
#include "core/pictures/PictureList.h"
#include "core/renaming/RenameRun.h"
#include "core/renaming/UndoHistory.h"
#include "support/RenameScenario.h"

#include <QDir>
#include <QFile>
#include <QtTest>
#include <sys/stat.h>

using namespace testing;

// A picture's companion files go with it, and a save can be taken back, batch
// by batch, also after a restart: through the page model, on real files.
class CompanionsUndoTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void companionsAreFoundByName_data();
    void companionsAreFoundByName();
    void companionsAreRenamedWithTheirPicture();
    void takenCompanionNameRefusesTheWholeSave();
    void killedSaveWithCompanionsIsRecovered();
    void undoReachesBackSeveralSavesAfterARestart();
    void undoSkipsFilesChangedMeanwhile_data();
    void undoSkipsFilesChangedMeanwhile();
    void damagedHistoryIsSetAsideAndSaid();
    void historyIsPrivateAndBounded();

private:
    // A model on a fresh page of dir; the first names typed and saved.
    static PageModel::SaveResult saveNames(PageModel &m, const QStringList &names)
    {
        m.showPage(true);
        for (int i = 0; i < names.size(); ++i)
            if (!names.at(i).isNull())
                m.setName(i, names.at(i));
        return m.save();
    }

    std::unique_ptr<QTemporaryDir> m_journals;
};

void CompanionsUndoTest::init()
{
    m_journals = std::make_unique<QTemporaryDir>();
    renaming::setJournalDirectory(m_journals->path() + QStringLiteral("/namora"));
}

void CompanionsUndoTest::cleanup()
{
    renaming::setJournalDirectory(QString());
    m_journals.reset();
}

void CompanionsUndoTest::companionsAreFoundByName_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("ofFirst"); // companions of the first picture in list order
    QTest::newRow("both sidecar styles, RAW in any case")
        << QStringList{u"IMG_1.jpg"_qs,     u"IMG_1.CR2"_qs, u"IMG_1.xmp"_qs,
                       u"IMG_1.jpg.xmp"_qs, u"IMG_1.Nef"_qs, u"IMG_1.WAV"_qs}
        << QStringList{u"IMG_1.CR2"_qs, u"IMG_1.Nef"_qs, u"IMG_1.WAV"_qs, u"IMG_1.jpg.xmp"_qs,
                       u"IMG_1.xmp"_qs};
    QTest::newRow("the base name is matched exactly")
        << QStringList{u"IMG_1.jpg"_qs, u"img_1.cr2"_qs, u"IMG_10.cr2"_qs, u"IMG_1 .xmp"_qs} << QStringList{};
    QTest::newRow("other kinds, hidden files and directories are no companions")
        << QStringList{u"a.jpg"_qs, u"a.txt"_qs, u"a.tif"_qs, u".a.xmp"_qs, u"a.dng/"_qs} << QStringList{};
    QTest::newRow("two pictures of one base share none")
        << QStringList{u"b.jpeg"_qs, u"b.jpg"_qs, u"b.xmp"_qs, u"b.jpg.xmp"_qs} << QStringList{};
}

void CompanionsUndoTest::companionsAreFoundByName()
{
    QFETCH(QStringList, files);
    QFETCH(QStringList, ofFirst);
    QTemporaryDir dir;
    for (const QString &f : files) {
        if (f.endsWith(QLatin1Char('/')))
            QVERIFY(QDir(dir.path()).mkdir(f));
        else
            writeFiles(dir.path() + QLatin1Char('/'), {f});
    }
    const pages::PictureListing listing = pages::listPictures(dir.path());
    QList<QStringList> found = pages::companionsOf(listing.names, listing.companions);
    found.first().sort();
    QCOMPARE(found.first(), ofFirst);
    PageModel m;
    m.load(dir.path());
    QStringList inModel = m.pictures().first().companions;
    inModel.sort();
    QCOMPARE(inModel, ofFirst);
}

void CompanionsUndoTest::companionsAreRenamedWithTheirPicture()
{
    PictureDir p({u"IMG_1.JPG"_qs, u"IMG_1.cr2"_qs, u"IMG_1.JPG.xmp"_qs, u"IMG_2.jpg"_qs, u"IMG_2.Xmp"_qs});
    PageModel m;
    m.load(p.d);
    const PageModel::SaveResult r = saveNames(m, {u"Strand"_qs, QString()});
    QVERIFY(r.ok());
    QCOMPARE(r.companions, 2);
    QCOMPARE(p.now().keys(), QStringList({u"IMG_2.Xmp"_qs, u"IMG_2.jpg"_qs, u"Strand.JPG"_qs,
                                          u"Strand.JPG.xmp"_qs, u"Strand.cr2"_qs}));
    QCOMPARE(p.now().value(u"Strand.cr2"_qs), p.before.value(u"IMG_1.cr2"_qs));
    QCOMPARE(m.pictures().first().fileName, u"Strand.JPG"_qs);
    QCOMPARE(m.pictures().first().companions.size(), 2);

    // Switched off, a picture goes alone.
    m.setTakeCompanions(false);
    QVERIFY(saveNames(m, {QString(), u"Hafen"_qs}).ok());
    QVERIFY(p.now().contains(u"IMG_2.Xmp"_qs));
}

void CompanionsUndoTest::takenCompanionNameRefusesTheWholeSave()
{
    PictureDir p({u"IMG_1.jpg"_qs, u"IMG_1.CR2"_qs, u"IMG_2.jpg"_qs, u"Strand.CR2"_qs});
    PageModel m;
    m.load(p.d);
    const PageModel::SaveResult r = saveNames(m, {u"Strand"_qs, u"Hafen"_qs});
    QCOMPARE(r.status, PageModel::SaveResult::Refused);
    QVERIFY2(r.message.contains(QStringLiteral("Begleitdatei „IMG_1.CR2“")), qPrintable(r.message));
    QCOMPARE(p.now(), p.before);
    QVERIFY(!m.canUndo());
}

void CompanionsUndoTest::killedSaveWithCompanionsIsRecovered()
{
    const PictureDir p({u"A.jpg"_qs, u"A.NEF"_qs, u"A.jpg.xmp"_qs, u"B.jpg"_qs, u"B.nef"_qs});
    // A swap of two pictures with their companions: every step can be the last.
    const Edits swap{{u"A.jpg"_qs, u"B"_qs}, {u"B.jpg"_qs, u"A"_qs}};
    const int steps = int(p.plan(swap).steps.size());
    QVERIFY(steps >= 6);
    for (int k = 1; k < steps; ++k) {
        runAndKillAfter(p.plan(swap), k);
        QVERIFY(p.now() != p.before);
        const QList<renaming::Recovery> recovered = renaming::recoverJournals();
        QCOMPARE(recovered.size(), 1);
        QVERIFY2(recovered[0].problems.isEmpty() && recovered[0].setAsideAs.isEmpty(),
                 qPrintable(renaming::recoveryMessage(recovered)));
        QCOMPARE(p.now(), p.before);
    }
}

void CompanionsUndoTest::undoReachesBackSeveralSavesAfterARestart()
{
    PictureDir p({u"IMG_1.jpg"_qs, u"IMG_1.cr2"_qs, u"IMG_2.jpg"_qs});
    {
        PageModel m;
        m.load(p.d);
        QVERIFY(saveNames(m, {u"Strand"_qs, u"Hafen"_qs}).ok());
        QVERIFY(saveNames(m, {u"Strand 2"_qs, QString()}).ok()); // with its companion
        QCOMPARE(m.undoSize(), 2);
    }
    const Snapshot afterFirst = [&] {
        Snapshot s = p.before;
        s.insert(u"Strand.jpg"_qs, s.take(u"IMG_1.jpg"_qs));
        s.insert(u"Strand.cr2"_qs, s.take(u"IMG_1.cr2"_qs));
        s.insert(u"Hafen.jpg"_qs, s.take(u"IMG_2.jpg"_qs));
        return s;
    }();
    // Started again: the way back is still there, newest first.
    PageModel m;
    m.load(p.d);
    m.showPage(true);
    QVERIFY(m.canUndo());
    PageModel::UndoResult u = m.undo();
    QVERIFY(u.done);
    QCOMPARE(u.message, QStringLiteral("2 Dateien wurden zurückbenannt."));
    QCOMPARE(p.now(), afterFirst);
    QCOMPARE(m.undoSize(), 3);
    u = m.undo();
    QVERIFY2(u.message.startsWith(QStringLiteral("3 Dateien wurden zurückbenannt.")), qPrintable(u.message));
    QCOMPARE(p.now(), p.before);
    QVERIFY(!m.canUndo());
    QVERIFY(!QFile::exists(renaming::UndoHistory::pathFor(m.directory())));
}

void CompanionsUndoTest::undoSkipsFilesChangedMeanwhile_data()
{
    // What another program did after the save of IMG_1 -> Strand and of IMG_2
    // (with its RAW file) -> Hafen; Strand is always taken back, the pair never
    // split.
    QTest::addColumn<QString>("change");
    QTest::addColumn<QStringList>("named"); // the message names these
    QTest::newRow("picture renamed") << u"rename"_qs
                                     << QStringList{u"„Hafen.jpg“ gibt es nicht mehr"_qs,
                                                    u"„Hafen.cr2“ bleibt bei seinem Bild"_qs};
    QTest::newRow("picture replaced by another file")
        << u"replace"_qs << QStringList{u"„Hafen.jpg“ wurde inzwischen geändert"_qs};
    QTest::newRow("old name taken") << u"take"_qs
                                    << QStringList{u"denn „IMG_2.jpg“ trägt inzwischen eine andere Datei"_qs};
    QTest::newRow("companion removed") << u"companion"_qs
                                       << QStringList{u"„Hafen.cr2“ gibt es nicht mehr"_qs,
                                                      u"„Hafen.jpg“ bleibt bei seinen Begleitdateien"_qs};
}

void CompanionsUndoTest::undoSkipsFilesChangedMeanwhile()
{
    QFETCH(QString, change);
    QFETCH(QStringList, named);
    PictureDir p({u"IMG_1.jpg"_qs, u"IMG_2.jpg"_qs, u"IMG_2.cr2"_qs});
    PageModel m;
    m.load(p.d);
    QVERIFY(saveNames(m, {u"Strand"_qs, u"Hafen"_qs}).ok());
    if (change == QLatin1String("rename")) {
        QVERIFY(QFile::rename(p.d + u"Hafen.jpg"_qs, p.d + u"Anderswo.jpg"_qs));
    } else if (change == QLatin1String("replace")) {
        QVERIFY(QFile::remove(p.d + u"Hafen.jpg"_qs));
        writeFiles(p.d, {u"Hafen.jpg"_qs});
    } else if (change == QLatin1String("take")) {
        writeFiles(p.d, {u"IMG_2.jpg"_qs});
    } else {
        QVERIFY(QFile::remove(p.d + u"Hafen.cr2"_qs));
    }
    const Snapshot before = p.now();
    const PageModel::UndoResult u = m.undo();
    QVERIFY(u.done);
    QVERIFY2(u.message.startsWith(QStringLiteral("1 Datei wurde zurückbenannt.")), qPrintable(u.message));
    for (const QString &n : named)
        QVERIFY2(u.message.contains(n), qPrintable(u.message));
    Snapshot expected = before;
    expected.insert(u"IMG_1.jpg"_qs, expected.take(u"Strand.jpg"_qs));
    QCOMPARE(p.now(), expected);
    QVERIFY(!m.canUndo());
}

void CompanionsUndoTest::damagedHistoryIsSetAsideAndSaid()
{
    PictureDir p({u"IMG_1.jpg"_qs});
    QString history;
    {
        PageModel m;
        m.load(p.d);
        QVERIFY(saveNames(m, {u"Strand"_qs}).ok());
        history = renaming::UndoHistory::pathFor(m.directory());
    }
    QFile file(history);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(R"({"version":1,"directory":"Lw==","batches":[[{"from":"Li4=","to":"Li4="}]]})");
    file.close();
    PageModel m;
    m.load(p.d);
    QVERIFY(!m.canUndo());
    const QString problem = m.takeHistoryProblem();
    QVERIFY2(problem.contains(QStringLiteral("beschädigt")) &&
                 problem.contains(QStringLiteral("beiseitegelegt")),
             qPrintable(problem));
    QVERIFY(m.takeHistoryProblem().isEmpty());
    QVERIFY(!QFile::exists(history));
    QCOMPARE(QDir(QFileInfo(history).path()).entryList({u"undo-*.unbrauchbar"_qs}).size(), 1);
    // A new save starts a new history.
    m.showPage(true);
    m.setName(0, u"Hafen"_qs);
    QVERIFY(m.save().ok());
    QVERIFY(m.canUndo());
}

void CompanionsUndoTest::historyIsPrivateAndBounded()
{
    const Umask open(0);
    PictureDir p({u"A.jpg"_qs});
    PageModel m;
    m.load(p.d);
    for (int i = 0; i < renaming::MaxUndoBatches + 5; ++i)
        QVERIFY(saveNames(m, {QStringLiteral("N%1").arg(i)}).ok());
    const QString history = renaming::UndoHistory::pathFor(m.directory());
    struct stat st;
    QCOMPARE(::stat(QFile::encodeName(history).constData(), &st), 0);
    QCOMPARE(int(st.st_mode & 07777), 0600);
    QCOMPARE(::stat(QFile::encodeName(QFileInfo(history).path()).constData(), &st), 0);
    QCOMPARE(int(st.st_mode & 07777), 0700);
    PageModel again;
    again.load(p.d);
    int undone = 0;
    while (again.canUndo() && undone < 100) {
        QVERIFY(again.undo().done);
        ++undone;
    }
    QCOMPARE(undone, renaming::MaxUndoBatches);
    QVERIFY(p.now().contains(QStringLiteral("N4.jpg")));
}

QTEST_GUILESS_MAIN(CompanionsUndoTest)
#include "companions_undo_test.moc"
