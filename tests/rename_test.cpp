#include "core/pictures/Companions.h"
#include "core/pictures/PictureList.h"
#include "core/platform/FileNames.h"
#include "core/platform/Rename.h"
#include "core/platform/SystemCalls.h"
#include "core/platform/SystemError.h"
#include "core/renaming/RenamePlan.h"
#include "core/renaming/RenameRun.h"
#include "core/renaming/UndoHistory.h"
#include "support/RawFiles.h"
#include "support/RenameScenario.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>
#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

using namespace renaming;
using namespace testing;

namespace {
// Five pictures renamed by a shift by one and a swap: chain steps and temporary names.
const QStringList ShiftAndSwapFiles{u"1.jpg"_qs, u"2.jpg"_qs, u"3.jpg"_qs, u"A.jpg"_qs, u"B.jpg"_qs};
const Edits ShiftAndSwap{{u"1.jpg"_qs, u"2"_qs},
                         {u"2.jpg"_qs, u"3"_qs},
                         {u"3.jpg"_qs, u"4"_qs},
                         {u"A.jpg"_qs, u"B"_qs},
                         {u"B.jpg"_qs, u"A"_qs}};
} // namespace

class RenameTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void duplicateListing_data();
    void duplicateListing();
    void duplicateMessageText();
    void unusableNamesAreRefused_data();
    void unusableNamesAreRefused();

    void noReplaceRenameNeverOverwrites();
    void noReplaceFallbacksNeverOverwrite_data();
    void noReplaceFallbacksNeverOverwrite();
    void plansCarryOutChainsSwapsAndCycles_data();
    void plansCarryOutChainsSwapsAndCycles();
    void caseOnlyRenamesWorkWhereCaseIsIgnored_data();
    void caseOnlyRenamesWorkWhereCaseIsIgnored();
    void takenTargetRefusesWholePlanAndNamesSlot();
    void invalidNameRefusesWholePlan();

    void failingRenameRestoresDirectoryAndNamesFile();
    void failedRollbackLeavesEveryFileVisible();
    void journalExistsOnlyWhileRunning();

    void killedRunIsRolledBackAtNextStart();
    void killedRunAfterLastRenameKeepsNewNames();
    void journalOfRunningProgramIsLeftAlone();
    void unreadableJournalIsSetAside();
    void journalOfUnreachableDirectoryWaits();

    void randomPagesNeverLoseOrDuplicateFiles();

    void undecodableBytesOfOldNameAreKept();
    void emptyOrTruncatedFilesAtStartAreHandled_data();
    void emptyOrTruncatedFilesAtStartAreHandled();
    void relativePlanIsRecoveredFromAnotherDirectory();
    void nonUtf8NamesAreRecoveredExactly_data();
    void nonUtf8NamesAreRecoveredExactly();
    void recoveryCountsOnlyFilesPutBack();
    void plantedJournalRenamesNothingAndIsSetAside_data();
    void plantedJournalRenamesNothingAndIsSetAside();
    void journalWriteFailureRefusesSave_data();
    void journalWriteFailureRefusesSave();
    void journalFilesArePrivateWhateverTheUmask_data();
    void journalFilesArePrivateWhateverTheUmask();
    void sharedJournalDirectoryIsClosedOrRefused_data();
    void sharedJournalDirectoryIsClosedOrRefused();
    void leftoversOfTheJournalDirectoryAreHandledSafely();
    void journalOfMissingFilesIsKeptAndCounted_data();
    void journalOfMissingFilesIsKeptAndCounted();

private:
    QTemporaryDir *m_journals = nullptr;
};

void RenameTest::init()
{
    m_journals = new QTemporaryDir;
    setJournalDirectory(m_journals->path());
}

void RenameTest::cleanup()
{
    platform::setRenameHandler({});
    platform::setFileIdHandler({});
    platform::resetSystemCalls();
    setJournalDirectory(QString());
    delete m_journals;
    m_journals = nullptr;
}

void RenameTest::duplicateListing_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QList<bool>>("filled");
    QTest::addColumn<QStringList>("listed");
    const QList<bool> all5{true, true, true, true, true};
    QTest::newRow("no duplicates") << QStringList{u"A"_qs, u"B"_qs, u"C"_qs} << QList<bool>{true, true, true}
                                   << QStringList{};
    QTest::newRow("three slots named A list A twice")
        << QStringList{u"A"_qs, u"B"_qs, u"A"_qs, u"A"_qs, u"C"_qs} << all5 << QStringList{u"A"_qs, u"A"_qs};
    QTest::newRow("case differs: no duplicate")
        << QStringList{u"Urlaub"_qs, u"urlaub"_qs} << QList<bool>{true, true} << QStringList{};
    QTest::newRow("two empty names are duplicates")
        << QStringList{QString(), QString()} << QList<bool>{true, true} << QStringList{QString()};
    QTest::newRow("empty slots are never compared") << QStringList{u"A"_qs, QString(), QString(), u"A"_qs}
                                                    << QList<bool>{true, true, false, false} << QStringList{};
    QTest::newRow("single slot compares nothing")
        << QStringList{u"A"_qs} << QList<bool>{true} << QStringList{};
    QTest::newRow("order follows the first slot of each pair")
        << QStringList{u"B"_qs, u"A"_qs, u"B"_qs, u"A"_qs} << QList<bool>{true, true, true, true}
        << QStringList{u"B"_qs, u"A"_qs};
}

void RenameTest::duplicateListing()
{
    QFETCH(QStringList, names);
    QFETCH(QList<bool>, filled);
    QTEST(duplicateNames(names, filled), "listed");
}

void RenameTest::duplicateMessageText()
{
    QCOMPARE(duplicatesMessage({u"A"_qs, u"A"_qs, QString()}),
             u"Folgende Dateinamen sind doppelt: \n\nA\nA\n\n"_qs);
}

void RenameTest::unusableNamesAreRefused_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("problem");
    QTest::newRow("plain") << u"Urlaub 2024"_qs << int(Problem::None);
    QTest::newRow("umlauts") << u"Grüße aus Köln"_qs << int(Problem::None);
    QTest::newRow("empty makes .jpg, a hidden file") << QString() << int(Problem::Empty);
    QTest::newRow("slash leaves the directory") << u"../Urlaub"_qs << int(Problem::Separator);
    QTest::newRow("backslash") << u"a\\b"_qs << int(Problem::Separator);
    QTest::newRow("pasted line break") << u"Urlaub\nTag 2"_qs << int(Problem::ControlCharacter);
    QTest::newRow("tab") << u"a\tb"_qs << int(Problem::ControlCharacter);
    QTest::newRow("dot") << u"."_qs << int(Problem::DotName);
    QTest::newRow("dot dot") << u".."_qs << int(Problem::DotName);
    QTest::newRow("leading dot hides the file") << u".Urlaub"_qs << int(Problem::Hidden);
    QTest::newRow("251 bytes plus .jpg fits") << QString(251, u'a') << int(Problem::None);
    QTest::newRow("252 bytes plus .jpg is too long") << QString(252, u'a') << int(Problem::TooLong);
    QTest::newRow("counted in bytes, not characters") << QString(126, u'ä') << int(Problem::TooLong);
    QTest::newRow("broken surrogate") << QString(QChar(0xD800)) << int(Problem::InvalidText);
    // Bytes of the old name that are not UTF-8 come back from the codec as
    // U+DC80..U+DCFF; they stand for those bytes and are kept.
    QTest::newRow("undecodable byte of the old name") << QChar(0xDCE4) + u"pfel"_qs << int(Problem::None);
    QTest::newRow("lone low surrogate that stands for no byte")
        << QChar(0xDC41) + u"pfel"_qs << int(Problem::InvalidText);
    QTest::newRow("251 undecodable bytes plus .jpg fit") << QString(251, QChar(0xDCE4)) << int(Problem::None);
    QTest::newRow("252 undecodable bytes plus .jpg are too long")
        << QString(252, QChar(0xDCE4)) << int(Problem::TooLong);
}

void RenameTest::unusableNamesAreRefused()
{
    QFETCH(QString, name);
    QTEST(int(checkNewName(name)), "problem");
}

void RenameTest::noReplaceRenameNeverOverwrites()
{
    const PictureDir p({u"a.jpg"_qs, u"b.jpg"_qs});
    const platform::RenameResult r = platform::renameNoReplace(p.d + u"a.jpg"_qs, p.d + u"b.jpg"_qs);
    QCOMPARE(r.status, platform::RenameStatus::TargetExists);
    QVERIFY(!r.reason.isEmpty());
    QCOMPARE(p.now(), p.before);
    const platform::RenameResult missing = platform::renameNoReplace(p.d + u"gone.jpg"_qs, p.d + u"c.jpg"_qs);
    QCOMPARE(missing.status, platform::RenameStatus::SourceMissing);
    QVERIFY(platform::renameNoReplace(p.d + u"a.jpg"_qs, p.d + u"c.jpg"_qs).ok());
    QCOMPARE(p.now().value(u"c.jpg"_qs), p.before.value(u"a.jpg"_qs));
}

void RenameTest::plansCarryOutChainsSwapsAndCycles_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("typed"); // new name per file, same order
    QTest::newRow("swap of two names")
        << QStringList{u"A.jpg"_qs, u"B.jpg"_qs} << QStringList{u"B"_qs, u"A"_qs};
    QTest::newRow("three-cycle") << QStringList{u"A.jpg"_qs, u"B.jpg"_qs, u"C.jpg"_qs}
                                 << QStringList{u"B"_qs, u"C"_qs, u"A"_qs};
    QTest::newRow("numbering shifted by one")
        << QStringList{u"1.jpg"_qs, u"2.jpg"_qs, u"3.jpg"_qs, u"4.jpg"_qs}
        << QStringList{u"2"_qs, u"3"_qs, u"4"_qs, u"5"_qs};
    QTest::newRow("numbering shifted back by one")
        << QStringList{u"2.jpg"_qs, u"3.jpg"_qs, u"4.jpg"_qs} << QStringList{u"1"_qs, u"2"_qs, u"3"_qs};
    QTest::newRow("upper-case extension becomes .jpg")
        << QStringList{u"IMG_1.JPG"_qs} << QStringList{u"IMG_1"_qs};
    QTest::newRow("letter case only") << QStringList{u"Urlaub.jpg"_qs} << QStringList{u"urlaub"_qs};
    QTest::newRow("unchanged names touch nothing")
        << QStringList{u"A.jpg"_qs, u"B.jpg"_qs} << QStringList{u"A"_qs, u"B"_qs};
    QTest::newRow("swap next to a chain and an unchanged one")
        << QStringList{u"A.jpg"_qs, u"B.jpg"_qs, u"C.jpg"_qs, u"D.jpg"_qs, u"E.jpg"_qs}
        << QStringList{u"B"_qs, u"A"_qs, u"D"_qs, u"F"_qs, u"E"_qs};
}

void RenameTest::plansCarryOutChainsSwapsAndCycles()
{
    QFETCH(QStringList, files);
    QFETCH(QStringList, typed);
    const PictureDir p(files);
    Edits edits;
    for (int i = 0; i < files.size(); ++i)
        edits << qMakePair(files[i], typed[i]);
    const Plan plan = p.plan(edits);
    QVERIFY2(plan.ok(), qPrintable(refusalMessage(plan)));
    const RunResult run = runPlan(plan);
    QVERIFY2(run.ok(), qPrintable(failureMessage(plan, run)));

    Snapshot expected;
    for (int i = 0; i < files.size(); ++i)
        expected.insert(fileNameFor(typed[i]), p.before.value(files[i]));
    QCOMPARE(p.now(), expected);
    for (int i = 0; i < files.size(); ++i)
        QCOMPARE(run.current[i], p.d + fileNameFor(typed[i]));
}

void RenameTest::caseOnlyRenamesWorkWhereCaseIsIgnored_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("typed");
    QTest::addColumn<bool>("refused");
    QTest::newRow("word case") << QStringList{u"Urlaub.jpg"_qs} << QStringList{u"urlaub"_qs} << false;
    QTest::newRow("extension case") << QStringList{u"IMG_1.JPG"_qs} << QStringList{u"IMG_1"_qs} << false;
    QTest::newRow("swap by case-blind names")
        << QStringList{u"A.jpg"_qs, u"B.jpg"_qs} << QStringList{u"b"_qs, u"a"_qs} << false;
    QTest::newRow("chain onto a name that differs in case")
        << QStringList{u"A.jpg"_qs, u"B.jpg"_qs} << QStringList{u"b"_qs, u"C"_qs} << false;
    QTest::newRow("unlisted file of another case is taken")
        << QStringList{u"A.jpg"_qs, u"x.JPG"_qs} << QStringList{u"X"_qs, u"x"_qs} << true;
}

void RenameTest::caseOnlyRenamesWorkWhereCaseIsIgnored()
{
    QFETCH(QStringList, files);
    QFETCH(QStringList, typed);
    QFETCH(bool, refused);
    const PictureDir p(files);
    CaseBlindFileSystem caseBlind;
    Edits edits;
    // The last file of the "taken" row stands outside the plan.
    for (int i = 0; i < files.size() - (refused ? 1 : 0); ++i)
        edits << qMakePair(files[i], typed[i]);
    const Plan plan = p.plan(edits);
    QCOMPARE(!plan.ok(), refused);
    const RunResult run = runPlan(plan);
    Snapshot expected = p.before;
    if (!refused) {
        QVERIFY2(run.ok(), qPrintable(failureMessage(plan, run)));
        expected.clear();
        for (int i = 0; i < files.size(); ++i)
            expected.insert(fileNameFor(typed[i]), p.before.value(files[i]));
    }
    QCOMPARE(p.now(), expected);
}

void RenameTest::takenTargetRefusesWholePlanAndNamesSlot()
{
    // C.jpg stands for a picture on another page: not part of the plan.
    const PictureDir p({u"A.jpg"_qs, u"B.jpg"_qs, u"C.jpg"_qs});
    const Plan plan = p.plan({{u"A.jpg"_qs, u"X"_qs}, {u"B.jpg"_qs, u"C"_qs}});
    QVERIFY(!plan.ok());
    QCOMPARE(plan.refusals.size(), 1);
    QCOMPARE(plan.refusals[0].request, 1);
    QCOMPARE(plan.refusals[0].problem, Problem::TargetExists);
    const QString message = refusalMessage(plan);
    QVERIFY2(message.contains(u"Bild 2 (B.jpg)"_qs) && message.contains(u"„C.jpg“"_qs), qPrintable(message));
    QCOMPARE(runPlan(plan).status, RunStatus::NotStarted);
    QCOMPARE(p.now(), p.before);
}

void RenameTest::invalidNameRefusesWholePlan()
{
    const PictureDir p({u"A.jpg"_qs, u"B.jpg"_qs, u"C.jpg"_qs});
    QVERIFY(QDir(p.d).mkdir(u"sub"_qs));
    const Plan plan =
        p.plan({{u"A.jpg"_qs, u"Neu"_qs}, {u"B.jpg"_qs, u"sub/B"_qs}, {u"C.jpg"_qs, QString()}});
    QCOMPARE(plan.refusals.size(), 2);
    const QString message = refusalMessage(plan);
    QVERIFY2(message.contains(u"Bild 2 (B.jpg)"_qs) && message.contains(u"Bild 3 (C.jpg)"_qs) &&
                 !message.contains(u"Bild 1"_qs),
             qPrintable(message));
    runPlan(plan);
    QCOMPARE(p.now(), p.before);
    QVERIFY(QDir(p.d + u"sub"_qs).isEmpty());
}

void RenameTest::failingRenameRestoresDirectoryAndNamesFile()
{
    const QStringList &files = ShiftAndSwapFiles;
    const PictureDir p(files);
    const int steps = int(p.plan(ShiftAndSwap).steps.size());
    QVERIFY(steps >= 6);
    for (int k = 1; k <= steps; ++k) {
        const Plan plan = p.plan(ShiftAndSwap);
        RunResult run;
        {
            FailingRename failing(k);
            run = runPlan(plan);
        }
        QCOMPARE(run.status, RunStatus::RolledBack);
        QCOMPARE(p.now(), p.before);
        const QString message = failureMessage(plan, run);
        QVERIFY2(message.contains(u"„"_qs + QFileInfo(plan.requests[run.failed.request].from).fileName() +
                                  u"“"_qs) &&
                     !message.contains(temporaryPrefix()) && message.contains(u"Keine Berechtigung"_qs) &&
                     message.contains(plan.requests[run.failed.request].label),
                 qPrintable(message));
        for (int i = 0; i < files.size(); ++i)
            QCOMPARE(run.current[i], p.d + files[i]);
        QVERIFY(QDir(m_journals->path()).isEmpty());
    }
}

void RenameTest::failedRollbackLeavesEveryFileVisible()
{
    const PictureDir p({u"A.jpg"_qs, u"B.jpg"_qs, u"C.jpg"_qs});
    const Plan plan = p.plan({{u"A.jpg"_qs, u"B"_qs}, {u"B.jpg"_qs, u"C"_qs}, {u"C.jpg"_qs, u"A"_qs}});
    QCOMPARE(plan.steps.size(), 4); // park one, two chain steps, unpark
    RunResult run;
    {
        // The unparking fails, then the first undo fails too.
        FailingRename failing(4, 5);
        run = runPlan(plan);
    }
    QCOMPARE(run.status, RunStatus::Incomplete);
    const Snapshot after = p.now();
    QVERIFY(!hasTemporary(after));
    QCOMPARE(QSet<QByteArray>(after.cbegin(), after.cend()),
             QSet<QByteArray>(p.before.cbegin(), p.before.cend()));
    // What the run reports is what the disk holds.
    for (int i = 0; i < 3; ++i)
        QCOMPARE(after.value(QFileInfo(run.current[i]).fileName()),
                 p.before.value(QFileInfo(plan.requests[i].from).fileName()));
    QVERIFY(failureMessage(plan, run).contains(u"heißt jetzt"_qs));
}

void RenameTest::journalExistsOnlyWhileRunning()
{
    const PictureDir p({u"A.jpg"_qs, u"B.jpg"_qs});
    const Plan plan = p.plan({{u"A.jpg"_qs, u"B"_qs}, {u"B.jpg"_qs, u"A"_qs}});
    QStringList seen;
    platform::setRenameHandler([&](const QString &from, const QString &to) {
        seen << QDir(m_journals->path()).entryList({u"rename-*.json"_qs}, QDir::Files);
        return platform::systemRenameNoReplace(from, to);
    });
    QVERIFY(runPlan(plan).ok());
    platform::setRenameHandler({});
    QCOMPARE(seen.size(), 3);
    QVERIFY(!seen[0].isEmpty());
    QVERIFY(QDir(m_journals->path()).isEmpty());
}

void RenameTest::killedRunIsRolledBackAtNextStart()
{
    const PictureDir p(ShiftAndSwapFiles);
    const int steps = int(p.plan(ShiftAndSwap).steps.size());
    for (int k = 1; k < steps; ++k) {
        runAndKillAfter(p.plan(ShiftAndSwap), k);
        QVERIFY(p.now() != p.before);
        QCOMPARE(QDir(m_journals->path()).entryList({u"rename-*.json"_qs}, QDir::Files).size(), 1);

        const QList<Recovery> recovered = recoverJournals();
        QCOMPARE(recovered.size(), 1);
        QVERIFY2(recovered[0].problems.isEmpty(), qPrintable(recovered[0].problems.join(u'\n')));
        QCOMPARE(recovered[0].directory, p.d);
        QVERIFY(recovered[0].restored > 0);
        QCOMPARE(p.now(), p.before);
        QVERIFY(QDir(m_journals->path()).isEmpty());
        const QString message = recoveryMessage(recovered);
        QVERIFY2(message.contains(p.d) && message.contains(u"rückgängig"_qs), qPrintable(message));
    }
    QVERIFY(recoverJournals().isEmpty());
}

void RenameTest::killedRunAfterLastRenameKeepsNewNames()
{
    const PictureDir p({u"A.jpg"_qs, u"B.jpg"_qs});
    const Plan plan = p.plan({{u"A.jpg"_qs, u"B"_qs}, {u"B.jpg"_qs, u"A"_qs}});
    runAndKillAfter(plan, int(plan.steps.size()));
    const Snapshot renamed = p.now();
    const QList<Recovery> recovered = recoverJournals();
    QCOMPARE(recovered.size(), 1);
    QVERIFY(recovered[0].completed);
    QCOMPARE(p.now(), renamed);
    QVERIFY(QDir(m_journals->path()).isEmpty());
}

void RenameTest::journalOfRunningProgramIsLeftAlone()
{
    const PictureDir p({u"A.jpg"_qs, u"B.jpg"_qs});
    const Plan plan = p.plan({{u"A.jpg"_qs, u"B"_qs}, {u"B.jpg"_qs, u"A"_qs}});
    // While the first rename runs, another start looks for journals.
    QList<Recovery> seenMeanwhile{Recovery{}};
    platform::setRenameHandler([&](const QString &from, const QString &to) {
        if (!seenMeanwhile.isEmpty() && seenMeanwhile.first().journal.isEmpty())
            seenMeanwhile = recoverJournals();
        return platform::systemRenameNoReplace(from, to);
    });
    QVERIFY(runPlan(plan).ok());
    platform::setRenameHandler({});
    QVERIFY(seenMeanwhile.isEmpty());
    QCOMPARE(p.now().value(u"A.jpg"_qs), QByteArray("content of B.jpg"));
}

void RenameTest::unreadableJournalIsSetAside()
{
    QFile f(QDir(m_journals->path()).filePath(u"rename-1-2-3.json"_qs));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("{ half a journal");
    f.close();
    const QList<Recovery> recovered = recoverJournals();
    QCOMPARE(recovered.size(), 1);
    QVERIFY(!recovered[0].problems.isEmpty());
    QVERIFY(!f.exists());
    QVERIFY(recoverJournals().isEmpty());
}

void RenameTest::journalOfUnreachableDirectoryWaits()
{
    auto card = std::make_unique<QTemporaryDir>();
    const QString d = card->path() + u'/';
    writeFiles(d, {u"A.jpg"_qs, u"B.jpg"_qs});
    runAndKillAfter(planFor(d, {{u"A.jpg"_qs, u"B"_qs}, {u"B.jpg"_qs, u"A"_qs}}), 1);
    const QString parked = card->path() + u"-away"_qs;
    QVERIFY(QDir().rename(card->path(), parked)); // the card is pulled
    QList<Recovery> recovered = recoverJournals();
    QCOMPARE(recovered.size(), 1);
    QCOMPARE(recovered[0].problems.size(), 1);
    QCOMPARE(QDir(m_journals->path()).entryList({u"rename-*.json"_qs}, QDir::Files).size(), 1);

    QVERIFY(QDir().rename(parked, card->path())); // and put back
    recovered = recoverJournals();
    QCOMPARE(recovered.size(), 1);
    QVERIFY(recovered[0].problems.isEmpty());
    QCOMPARE(snapshot(d).value(u"A.jpg"_qs), QByteArray("content of A.jpg"));
    QCOMPARE(snapshot(d).size(), 2);
    QVERIFY(QDir(m_journals->path()).isEmpty());
}

void RenameTest::randomPagesNeverLoseOrDuplicateFiles()
{
    QTemporaryDir dir;
    const QString d = dir.path() + u'/';
    // Every journal is synced to disk before the first rename; on a memory file
    // system that is free, so thousands of rounds stay quick.
    QTemporaryDir fastJournals(u"/dev/shm/namora-journal-XXXXXX"_qs);
    if (fastJournals.isValid()) {
        delete m_journals;
        m_journals = new QTemporaryDir(std::move(fastJournals));
        setJournalDirectory(m_journals->path());
    }
    QRandomGenerator rng(20261208);
    // A small pool of names makes collisions between page, other pages,
    // companions and unlisted files frequent.
    QStringList pool;
    for (int i = 0; i < 14; ++i)
        pool << QStringLiteral("P%1").arg(i);
    pool << u"Urlaub"_qs << u"urlaub"_qs << u"Grüße"_qs;
    const QStringList invalid{QString(), u"a/b"_qs, u"a\\b"_qs,       u"x\ny"_qs,
                              u"."_qs,   u".."_qs,  u".versteckt"_qs, QString(260, u'x')};
    QStringList initial;
    for (int i = 0; i < 12; ++i)
        initial << pool[i] + (i % 3 == 0 ? u".JPG"_qs : u".jpg"_qs);
    // Companions in both sidecar styles and mixed letter case, and one without
    // a picture that a renamed companion may run into.
    initial << u"P0.CR2"_qs << u"P1.xmp"_qs << u"P1.jpg.xmp"_qs << u"P4.Nef"_qs << u"P4.wav"_qs
            << u"P13.xmp"_qs;
    initial << u"notiz.txt"_qs;
    writeFiles(d, initial);

    const auto run = [&](const Plan &plan, int failAt) {
        std::unique_ptr<FailingRename> failing;
        if (failAt > 0)
            failing = std::make_unique<FailingRename>(failAt);
        return runPlan(plan);
    };
    const auto failAtFor = [&](const Plan &plan) {
        return plan.ok() && !plan.steps.isEmpty() && rng.bounded(4) == 0
                   ? 1 + rng.bounded(int(plan.steps.size()))
                   : -1;
    };

    int done = 0, refused = 0, rolledBack = 0, companionsMoved = 0, undoFailed = 0;
    const int rounds = 10000;
    for (int round = 0; round < rounds; ++round) {
        const Snapshot before = snapshot(d);
        const pages::PictureListing listing = pages::listPictures(d);
        const QList<QStringList> companions = pages::companionsOf(listing.names, listing.companions);
        QStringList pictures = listing.names;
        // The page: a random part of the pictures; the rest stand for other pages.
        std::shuffle(pictures.begin(), pictures.end(), rng);
        const int pageSize = 1 + rng.bounded(int(pictures.size()));
        const QStringList page = pictures.mid(0, pageSize);

        Edits edits;
        const int mode = rng.bounded(4);
        for (int i = 0; i < page.size(); ++i) {
            const QString old = base(page[i]);
            QString typed = old;
            const int r = rng.bounded(100);
            if (mode == 0) // a permutation of the page's names: swaps and cycles
                typed = base(page[(i + 1 + rng.bounded(page.size())) % page.size()]);
            else if (mode == 1) // a shift along the page
                typed = base(page[(i + 1) % page.size()]);
            else if (r < 10)
                typed = old.toLower() == old ? old.toUpper() : old.toLower();
            else if (r < 55)
                typed = pool[rng.bounded(int(pool.size()))];
            if (rng.bounded(100) < 3)
                typed = invalid[rng.bounded(int(invalid.size()))];
            edits << qMakePair(page[i], typed);
        }

        // What must be refused: an unusable name, a name used twice, or a name
        // held by a file that stays where it is (off the page, or a companion
        // of a picture that keeps its name). Companions move with their
        // pictures, under the same rules.
        bool expectRefused = false;
        Edits moves; // every file the save renames: file name -> new file name
        for (const auto &e : edits) {
            const QString target = fileNameFor(e.second);
            if (target == e.first)
                continue;
            if (checkNewName(e.second) != Problem::None)
                expectRefused = true;
            moves << qMakePair(e.first, target);
            for (const QString &c : companions.at(listing.names.indexOf(e.first))) {
                const QString to = pages::companionName(c, e.first, target);
                expectRefused = expectRefused || checkFileName(to) != Problem::None;
                moves << qMakePair(c, to);
            }
        }
        QSet<QString> targets;
        QSet<QString> leaving;
        for (const auto &m : moves)
            leaving.insert(m.first);
        for (const auto &e : edits)
            if (fileNameFor(e.second) == e.first)
                targets.insert(e.first);
        for (const auto &m : moves) {
            if (targets.contains(m.second) || (before.contains(m.second) && !leaving.contains(m.second)))
                expectRefused = true;
            targets.insert(m.second);
        }

        const Plan plan = planFor(d, edits);
        QCOMPARE(!plan.ok(), expectRefused);
        const int failAt = failAtFor(plan);
        const RunResult result = run(plan, failAt);

        Snapshot expected = before;
        if (result.ok()) {
            ++done;
            for (const auto &m : moves)
                expected.remove(m.first);
            for (const auto &m : moves)
                expected.insert(m.second, before.value(m.first));
            companionsMoved += int(moves.size()) - int(edits.size());
        } else {
            QVERIFY(result.status == RunStatus::NotStarted || result.status == RunStatus::RolledBack);
            QVERIFY(plan.ok() == (failAt > 0));
            plan.ok() ? ++rolledBack : ++refused;
        }
        Snapshot after = snapshot(d);
        if (after != expected) {
            qWarning() << "round" << round << "edits" << edits << "status" << int(result.status);
            QCOMPARE(after.keys(), expected.keys());
            QCOMPARE(after, expected);
        }

        // Every successful save is taken back, name by name, content by
        // content, also when the undo itself first fails and is rolled back;
        // then saved again, so the directory keeps changing from round to round.
        if (result.ok()) {
            const UndoBatch batch = undoBatchOf(plan, result);
            UndoPlan undo = planUndo(d, batch);
            QVERIFY(undo.plan.ok() && undo.skipped.isEmpty());
            const int undoFailAt = failAtFor(undo.plan);
            if (undoFailAt > 0) {
                QCOMPARE(run(undo.plan, undoFailAt).status, RunStatus::RolledBack);
                QCOMPARE(snapshot(d), expected);
                ++undoFailed;
                undo = planUndo(d, batch);
            }
            QVERIFY(run(undo.plan, -1).ok());
            QCOMPARE(snapshot(d), before);
            QVERIFY(run(planFor(d, edits), -1).ok());
            after = snapshot(d);
            QCOMPARE(after, expected);
        }
        QVERIFY(!hasTemporary(after));
        QVERIFY(QDir(m_journals->path()).isEmpty());
    }
    qInfo("random pages: %d renamed (with %d companion renames), %d refused, %d rolled back, %d undos rolled "
          "back",
          done, companionsMoved, refused, rolledBack, undoFailed);
    QVERIFY(done > rounds / 10 && refused > rounds / 10 && rolledBack > rounds / 20);
    QVERIFY(companionsMoved > rounds / 10 && undoFailed > done / 10);
}

void RenameTest::undecodableBytesOfOldNameAreKept()
{
    QTemporaryDir dir;
    const QByteArray raw = QFile::encodeName(dir.path()) + '/';
    QVERIFY(writeRaw(raw + "\xe4pfel.jpg", "apples"));
    QVERIFY(writeRaw(raw + "B\xfcro.jpg", "office"));
    QVERIFY(writeRaw(raw + "c.jpg", "c"));
    const QString d = platform::decodeName(raw);
    const QString apples = platform::decodeName("\xe4pfel");
    const QString office = platform::decodeName("B\xfcro");

    // A prefix put in front of names holding bytes that are not UTF-8.
    const Plan plan =
        planNameEdits(d, {NameEdit{u"Bild 1"_qs, d + apples + u".jpg"_qs, u"Urlaub "_qs + apples},
                          NameEdit{u"Bild 2"_qs, d + office + u".jpg"_qs, u"Urlaub "_qs + office}});
    QVERIFY2(plan.ok(), qPrintable(refusalMessage(plan)));
    const RunResult run = runPlan(plan);
    QVERIFY2(run.ok(), qPrintable(failureMessage(plan, run)));
    QMap<QByteArray, QByteArray> expected{
        {"Urlaub \xe4pfel.jpg", "apples"}, {"Urlaub B\xfcro.jpg", "office"}, {"c.jpg", "c"}};
    QCOMPARE(rawSnapshot(raw), expected);

    // Escapes that together spell valid UTF-8 name the same file as the
    // character itself: two such names are one name twice.
    const QString aUmlautAsBytes = QString(QChar(0xDCC3)) + QChar(0xDCA4);
    const Plan twice =
        planNameEdits(d, {NameEdit{u"Bild 1"_qs, d + u"c.jpg"_qs, u"ä"_qs},
                          NameEdit{u"Bild 2"_qs, d + u"Urlaub "_qs + apples + u".jpg"_qs, aUmlautAsBytes}});
    QCOMPARE(twice.refusals.size(), 1);
    QCOMPARE(twice.refusals[0].problem, Problem::TargetTwice);
    QCOMPARE(rawSnapshot(raw), expected);
}

void RenameTest::emptyOrTruncatedFilesAtStartAreHandled_data()
{
    QTest::addColumn<QByteArray>("journal"); // content; "-" for none
    QTest::addColumn<bool>("withEmptyLock");
    QTest::addColumn<bool>("reported");
    QTest::newRow("empty journal is set aside") << QByteArray() << false << true;
    QTest::newRow("empty journal beside an empty lock is set aside") << QByteArray() << true << true;
    QTest::newRow("truncated journal is set aside")
        << QByteArray("{\"version\":1,\"moves\":[{\"from\":\"/tmp/a.jpg\",\"to\":\"/tm") << false << true;
    QTest::newRow("journal of another format is set aside")
        << QByteArray("{\"version\":7,\"moves\":[]}") << false << true;
    QTest::newRow("empty lock alone: nothing to recover") << QByteArray("-") << true << false;
}

void RenameTest::emptyOrTruncatedFilesAtStartAreHandled()
{
    QFETCH(QByteArray, journal);
    QFETCH(bool, withEmptyLock);
    QFETCH(bool, reported);
    const QByteArray base = QFile::encodeName(m_journals->path()) + "/rename-1-2-3";
    if (journal != "-")
        QVERIFY(writeRaw(base + ".json", journal, 0600));
    if (withEmptyLock)
        QVERIFY(writeRaw(base + ".lock", QByteArray(), 0600));

    const QList<Recovery> recovered = recoverJournals();
    QCOMPARE(recovered.size(), reported ? 1 : 0);
    QVERIFY(journalsIn(m_journals->path()).isEmpty());
    QVERIFY(!QFile::exists(QFile::decodeName(base + ".lock")));
    if (reported) {
        QVERIFY(!recovered[0].problems.isEmpty());
        const QString kept = setAsideOf(QFile::decodeName(base + ".json"));
        QFile keptFile(kept);
        QVERIFY(keptFile.open(QIODevice::ReadOnly));
        QCOMPARE(keptFile.readAll(), journal);
        QVERIFY2(recoveryMessage(recovered).contains(kept), qPrintable(recoveryMessage(recovered)));
    }
    QVERIFY(recoverJournals().isEmpty());
}

void RenameTest::relativePlanIsRecoveredFromAnotherDirectory()
{
    QTemporaryDir root;
    QVERIFY(QDir(root.path()).mkpath(u"start/Bilder"_qs) && QDir(root.path()).mkpath(u"elsewhere"_qs));
    const QString pictures = root.filePath(u"start/Bilder"_qs);
    writeFiles(pictures, {u"A.jpg"_qs, u"B.jpg"_qs, u"C.jpg"_qs});
    const Snapshot before = snapshot(pictures);
    WorkingDirectory restore;

    // Started as "namora Bilder" from start/, killed during the save...
    QVERIFY(QDir::setCurrent(root.filePath(u"start"_qs)));
    const Plan plan =
        planFor(u"Bilder/"_qs, {{u"A.jpg"_qs, u"B"_qs}, {u"B.jpg"_qs, u"C"_qs}, {u"C.jpg"_qs, u"A"_qs}});
    QVERIFY2(plan.ok(), qPrintable(refusalMessage(plan)));
    runAndKillAfter(plan, 2);
    QVERIFY(snapshot(pictures) != before);

    // ...and started again from another directory.
    QVERIFY(QDir::setCurrent(root.filePath(u"elsewhere"_qs)));
    const QList<Recovery> recovered = recoverJournals();
    QCOMPARE(recovered.size(), 1);
    QVERIFY2(recovered[0].problems.isEmpty(), qPrintable(recovered[0].problems.join(u'\n')));
    QCOMPARE(recovered[0].directory, pictures + u'/');
    QCOMPARE(snapshot(pictures), before);
}

void RenameTest::nonUtf8NamesAreRecoveredExactly_data()
{
    QTest::addColumn<QByteArray>("subdirectory");
    QTest::addColumn<QList<QByteArray>>("files");
    QTest::newRow("directory name not UTF-8")
        << QByteArray("Bilder \xe4") << QList<QByteArray>{"a.jpg", "b.jpg", "c.jpg"};
    QTest::newRow("file names not UTF-8")
        << QByteArray("Bilder") << QList<QByteArray>{"\xe4pfel.jpg", "B\xfcro.jpg", "c.jpg"};
    QTest::newRow("both, and a name that looks like UTF-8 but is not")
        << QByteArray("\xfc\xe4") << QList<QByteArray>{"\xc3(.jpg", "\xe4pfel.jpg", "x\xff.jpg"};
}

void RenameTest::nonUtf8NamesAreRecoveredExactly()
{
    QFETCH(QByteArray, subdirectory);
    QFETCH(QList<QByteArray>, files);
    QTemporaryDir root;
    const QByteArray raw = QFile::encodeName(root.path()) + '/' + subdirectory;
    QCOMPARE(::mkdir(raw.constData(), 0700), 0);
    for (const QByteArray &f : files)
        QVERIFY(writeRaw(raw + '/' + f, "content of " + f));
    const auto before = rawSnapshot(raw);
    const QString d = platform::decodeName(raw) + u'/';
    // A cycle: every file takes the next one's name.
    Edits edits;
    for (int i = 0; i < files.size(); ++i) {
        const QString next = platform::decodeName(files[(i + 1) % files.size()]);
        edits << qMakePair(platform::decodeName(files[i]), base(next));
    }
    const int steps = int(planFor(d, edits).steps.size());
    QCOMPARE(steps, files.size() + 1);
    for (int k = 1; k < steps; ++k) {
        runAndKillAfter(planFor(d, edits), k);
        QVERIFY(rawSnapshot(raw) != before);
        const QList<Recovery> recovered = recoverJournals();
        QCOMPARE(recovered.size(), 1);
        QVERIFY2(recovered[0].problems.isEmpty(), qPrintable(recovered[0].problems.join(u'\n')));
        QCOMPARE(rawSnapshot(raw), before);
        QVERIFY(QDir(m_journals->path()).isEmpty());
    }
}

void RenameTest::recoveryCountsOnlyFilesPutBack()
{
    QStringList files;
    Edits edits;
    for (int i = 0; i < 12; ++i) {
        files << QStringLiteral("P%1.jpg").arg(i);
        edits << qMakePair(files.last(), QStringLiteral("Q%1").arg(i));
    }
    const PictureDir p(files);
    runAndKillAfter(p.plan(edits), 5);
    const QList<Recovery> recovered = recoverJournals();
    QCOMPARE(recovered.size(), 1);
    QCOMPARE(recovered[0].restored, 5);
    QCOMPARE(p.now(), p.before);
    const QString message = recoveryMessage(recovered);
    QVERIFY2(message.contains(u"5 Datei(en)"_qs), qPrintable(message));
}

namespace {
enum class Plant {
    OwnJournal,
    GroupWritable,
    OthersWritable,
    OtherOwner,
    SymbolicLink,
    SharedDirectory,
    ParentByDotDot,
    OtherDirectory,
    HiddenName,
    ForeignTemporary,
};
} // namespace

void RenameTest::plantedJournalRenamesNothingAndIsSetAside_data()
{
    QTest::addColumn<int>("plant");
    QTest::addColumn<QString>("why"); // in the problem line; empty: the journal is followed
    QTest::newRow("own journal is followed") << int(Plant::OwnJournal) << QString();
    QTest::newRow("group may write the journal") << int(Plant::GroupWritable) << u"andere Benutzer"_qs;
    QTest::newRow("others may write the journal") << int(Plant::OthersWritable) << u"andere Benutzer"_qs;
    QTest::newRow("another user owns the journal") << int(Plant::OtherOwner) << u"anderen Benutzer"_qs;
    QTest::newRow("journal is a symbolic link") << int(Plant::SymbolicLink) << u"Verweis"_qs;
    QTest::newRow("others may write the journal directory")
        << int(Plant::SharedDirectory) << u"Verzeichnis"_qs;
    QTest::newRow("names ../.bash_profile") << int(Plant::ParentByDotDot) << u"Bildverzeichnis"_qs;
    QTest::newRow("names a file in another directory") << int(Plant::OtherDirectory) << u"Bildverzeichnis"_qs;
    QTest::newRow("names a hidden file in the picture directory")
        << int(Plant::HiddenName) << u".bash_profile"_qs;
    QTest::newRow("names a foreign file as its temporary") << int(Plant::ForeignTemporary) << u"notes.txt"_qs;
}

void RenameTest::plantedJournalRenamesNothingAndIsSetAside()
{
    QFETCH(int, plant);
    QFETCH(QString, why);
    const Plant p = Plant(plant);
    // home/ stands for the victim's home, pics/ for a picture directory.
    QTemporaryDir root;
    const QString t = root.path() + u'/';
    QVERIFY(QDir(t).mkpath(u"home"_qs) && QDir(t).mkpath(u"pics"_qs));
    const QString pics = t + u"pics/"_qs, home = t + u"home/"_qs;
    writeFiles(pics, {u"notes.txt"_qs});
    const QString tempName = u".namora-1-0000abcd-0.tmp"_qs;
    const QString planted = (p == Plant::ParentByDotDot ? t : pics) + tempName;
    QFile f(planted);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write("planted") == 7);
    f.close();

    JournalMove m{pics + u"a.jpg"_qs, pics + u"b.jpg"_qs, {pics + tempName}, *platform::fileId(planted)};
    switch (p) {
    case Plant::ParentByDotDot:
        m = {pics + u"../.bash_profile"_qs, pics + u"../evil.jpg"_qs, {pics + u"../"_qs + tempName}, m.id};
        break;
    case Plant::OtherDirectory:
        m.from = home + u".bash_profile"_qs;
        break;
    case Plant::HiddenName:
        m.from = pics + u".bash_profile"_qs;
        break;
    case Plant::ForeignTemporary:
        m.temps = {pics + u"notes.txt"_qs};
        m.id = *platform::fileId(pics + u"notes.txt"_qs);
        break;
    default:
        break;
    }
    const QByteArray bytes = journalVersion1({m});
    const QString journal = m_journals->filePath(u"rename-4242-1-1.json"_qs);
    const QByteArray journalRaw = QFile::encodeName(journal);
    if (p == Plant::SymbolicLink) {
        QVERIFY(writeRaw(QFile::encodeName(t + u"elsewhere.json"_qs), bytes, 0600));
        QCOMPARE(::symlink(QFile::encodeName(t + u"elsewhere.json"_qs).constData(), journalRaw.constData()),
                 0);
    } else {
        const mode_t mode = p == Plant::GroupWritable ? 0660 : p == Plant::OthersWritable ? 0602 : 0600;
        QVERIFY(writeRaw(journalRaw, bytes, mode));
    }
    if (p == Plant::OtherOwner)
        QCOMPARE(::chown(journalRaw.constData(), 65534, 65534), 0);
    if (p == Plant::SharedDirectory)
        QCOMPARE(::chmod(QFile::encodeName(m_journals->path()).constData(), 0777), 0);

    const auto before = treeSnapshot(t);
    const QList<Recovery> recovered = recoverJournals();
    QCOMPARE(recovered.size(), 1);
    QVERIFY(journalsIn(m_journals->path()).isEmpty());
    if (why.isEmpty()) {
        QVERIFY2(recovered[0].problems.isEmpty(), qPrintable(recovered[0].problems.join(u'\n')));
        QCOMPARE(treeSnapshot(t).value(u"pics/a.jpg"_qs), QByteArray("planted"));
        return;
    }
    QCOMPARE(treeSnapshot(t), before);
    QVERIFY(!QFile::exists(home + u".bash_profile"_qs) && !QFile::exists(t + u".bash_profile"_qs));
    const QString problems = recovered[0].problems.join(u'\n');
    QVERIFY2(problems.contains(why), qPrintable(problems));
    // Set aside, never deleted: the same entry under another name.
    const QString kept = setAsideOf(journal);
    QVERIFY(!kept.isEmpty());
    if (p == Plant::SymbolicLink) {
        QCOMPARE(QFileInfo(kept).symLinkTarget(), t + u"elsewhere.json"_qs);
    } else {
        QFile keptFile(kept);
        QVERIFY(keptFile.open(QIODevice::ReadOnly));
        QCOMPARE(keptFile.readAll(), bytes);
    }
    const QString message = recoveryMessage(recovered);
    QVERIFY2(message.contains(why) && message.contains(kept), qPrintable(message));
    QVERIFY(recoverJournals().isEmpty());
}

void RenameTest::noReplaceFallbacksNeverOverwrite_data()
{
    QTest::addColumn<int>("flagError");   // what renameat2 with RENAME_NOREPLACE answers
    QTest::addColumn<int>("linkError");   // what link answers; 0: hard links work
    QTest::addColumn<int>("unlinkError"); // what removing the old name answers; 0: it works
    QTest::addColumn<bool>("taken");      // the new name belongs to another file
    QTest::addColumn<int>("status");
    const int renamed = int(platform::RenameStatus::Renamed);
    const int exists = int(platform::RenameStatus::TargetExists);
    QTest::newRow("no no-replace flag, free name: link and unlink") << EINVAL << 0 << 0 << false << renamed;
    QTest::newRow("no no-replace flag, taken name: the link refuses") << EINVAL << 0 << 0 << true << exists;
    QTest::newRow("kernel without the call, free name") << ENOSYS << 0 << 0 << false << renamed;
    QTest::newRow("kernel without the call, taken name") << ENOSYS << 0 << 0 << true << exists;
    QTest::newRow("no hard links either, free name: look, then rename")
        << EINVAL << EPERM << 0 << false << renamed;
    QTest::newRow("no hard links either, taken name: the look refuses")
        << EINVAL << EPERM << 0 << true << exists;
    QTest::newRow("hard links not supported, taken name") << EINVAL << EOPNOTSUPP << 0 << true << exists;
    QTest::newRow("old name cannot be removed after the link: both as before")
        << EINVAL << 0 << EACCES << false << int(platform::RenameStatus::Failed);
}

void RenameTest::noReplaceFallbacksNeverOverwrite()
{
    QFETCH(int, flagError);
    QFETCH(int, linkError);
    QFETCH(int, unlinkError);
    QFETCH(bool, taken);
    QFETCH(int, status);
    const PictureDir p(taken ? QStringList{u"a.jpg"_qs, u"b.jpg"_qs} : QStringList{u"a.jpg"_qs});
    const QByteArray source = QFile::encodeName(p.d + u"a.jpg"_qs);
    int flagCalls = 0, linkCalls = 0, plainRenames = 0;
    platform::RenameResult r;
    {
        InjectedCalls fileSystem([&](platform::SystemCalls &c) {
            c.renameNoReplace = [&](const char *, const char *) {
                ++flagCalls;
                errno = flagError;
                return -1;
            };
            c.link = [&](const char *existing, const char *created) {
                ++linkCalls;
                if (!linkError)
                    return ::link(existing, created);
                errno = linkError;
                return -1;
            };
            c.unlink = [&](const char *path) {
                if (unlinkError && source == path) {
                    errno = unlinkError;
                    return -1;
                }
                return ::unlink(path);
            };
            c.rename = [&](const char *from, const char *to) {
                ++plainRenames;
                return std::rename(from, to);
            };
        });
        r = platform::renameNoReplace(p.d + u"a.jpg"_qs, p.d + u"b.jpg"_qs);
    }
    QCOMPARE(int(r.status), status);
    // Each fallback was really taken.
    QCOMPARE(flagCalls, 1);
    QCOMPARE(linkCalls, 1);
    QCOMPARE(plainRenames, linkError && !taken ? 1 : 0);
    if (r.ok()) {
        QCOMPARE(p.now(), Snapshot({{u"b.jpg"_qs, p.before.value(u"a.jpg"_qs)}}));
    } else {
        // Byte for byte as before: the taken picture is not overwritten.
        QCOMPARE(p.now(), p.before);
        QCOMPARE(r.reason, platform::errorText(taken ? EEXIST : unlinkError));
    }
}

void RenameTest::journalWriteFailureRefusesSave_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<QString>("reason");
    QTest::newRow("disk full at the first write") << 0 << platform::errorText(ENOSPC);
    QTest::newRow("disk full after part of the journal") << 1 << platform::errorText(ENOSPC);
    QTest::newRow("a write that takes nothing") << 2 << platform::errorText(EIO);
    QTest::newRow("the sync to disk fails") << 3 << platform::errorText(EIO);
    QTest::newRow("the journal cannot take its name") << 4 << platform::errorText(EACCES);
    QTest::newRow("the disk keeps other bytes than it was given") << 5 << u"nicht, was geschrieben wurde"_qs;
}

void RenameTest::journalWriteFailureRefusesSave()
{
    QFETCH(int, fault);
    QFETCH(QString, reason);
    const PictureDir p({u"A.jpg"_qs, u"B.jpg"_qs, u"C.jpg"_qs});
    const Plan plan = p.plan({{u"A.jpg"_qs, u"B"_qs}, {u"B.jpg"_qs, u"C"_qs}, {u"C.jpg"_qs, u"D"_qs}});
    QVERIFY(plan.ok());
    int renames = 0;
    platform::setRenameHandler([&renames](const QString &from, const QString &to) {
        ++renames;
        return platform::systemRenameNoReplace(from, to);
    });
    RunResult run;
    {
        int writes = 0;
        InjectedCalls disk([&](platform::SystemCalls &c) {
            c.write = [&writes, fault](int fd, const void *data, size_t size) -> ssize_t {
                ++writes;
                if (fault == 0 || (fault == 1 && writes > 1)) {
                    errno = ENOSPC;
                    return -1;
                }
                if (fault == 1)
                    return ::write(fd, data, std::min<size_t>(size, 40));
                if (fault == 2)
                    return 0;
                if (fault == 5) {
                    // Still a well-formed journal, but of another file.
                    QByteArray other(static_cast<const char *>(data), qsizetype(size));
                    const qsizetype digit = other.indexOf("\"inode\":\"") + 9;
                    if (digit >= 9)
                        other[digit] = other[digit] == '1' ? '2' : '1';
                    return ::write(fd, other.constData(), size);
                }
                return ::write(fd, data, size);
            };
            if (fault == 3)
                c.fsync = [](int) {
                    errno = EIO;
                    return -1;
                };
            if (fault == 4)
                c.rename = [](const char *, const char *) {
                    errno = EACCES;
                    return -1;
                };
        });
        run = runPlan(plan);
    }
    QCOMPARE(run.status, RunStatus::NotStarted);
    QCOMPARE(renames, 0);
    QCOMPARE(p.now(), p.before);
    const QString message = failureMessage(plan, run);
    QVERIFY2(message.contains(reason) && message.contains(u"keine Datei wurde umbenannt"_qs),
             qPrintable(message));
    // No empty or half journal, no lock, no temporary file is left.
    QCOMPARE(QDir(m_journals->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
    QVERIFY(recoverJournals().isEmpty());
}

void RenameTest::journalFilesArePrivateWhateverTheUmask_data()
{
    QTest::addColumn<int>("mask");
    QTest::newRow("umask 000: everyone could write") << 0000;
    QTest::newRow("umask 002: the group could write") << 0002;
    QTest::newRow("umask 277: the owner could not write") << 0277;
}

void RenameTest::journalFilesArePrivateWhateverTheUmask()
{
    QFETCH(int, mask);
    const PictureDir p({u"A.jpg"_qs, u"B.jpg"_qs});
    const QString journals = m_journals->path() + u"/neu/protokolle"_qs;
    setJournalDirectory(journals);
    const Umask open{mode_t(mask)};
    int dirMode = -1, journalMode = -1, lockMode = -1;
    platform::setRenameHandler([&](const QString &from, const QString &to) {
        if (dirMode < 0) {
            dirMode = modeOf(journals);
            const QDir j(journals);
            const QStringList json = j.entryList({u"rename-*.json"_qs}, QDir::Files | QDir::Hidden);
            const QStringList lock = j.entryList({u"rename-*.lock"_qs}, QDir::Files | QDir::Hidden);
            if (json.size() == 1 && lock.size() == 1) {
                journalMode = modeOf(j.filePath(json[0]));
                lockMode = modeOf(j.filePath(lock[0]));
            }
        }
        return platform::systemRenameNoReplace(from, to);
    });
    const Plan plan = p.plan({{u"A.jpg"_qs, u"B"_qs}, {u"B.jpg"_qs, u"A"_qs}});
    QVERIFY(runPlan(plan).ok());
    QCOMPARE(dirMode, 0700);
    QCOMPARE(journalMode, 0600);
    QCOMPARE(lockMode, 0600);
    QCOMPARE(modeOf(m_journals->path() + u"/neu"_qs), 0700);
}

void RenameTest::sharedJournalDirectoryIsClosedOrRefused_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("otherOwner");
    QTest::addColumn<bool>("link");
    // An own directory that others may write (an older build under umask 002)
    // is closed to 0700 and used; another user's, or a link, is refused.
    QTest::newRow("group may write") << 0770 << false << false;
    QTest::newRow("everyone may write") << 0777 << false << false;
    QTest::newRow("sticky and world-writable, like /tmp") << 01777 << false << false;
    QTest::newRow("owned by another user") << 0700 << true << false;
    QTest::newRow("a link to a directory others may write") << 0777 << false << true;
}

void RenameTest::sharedJournalDirectoryIsClosedOrRefused()
{
    QFETCH(int, mode);
    QFETCH(bool, otherOwner);
    QFETCH(bool, link);
    const PictureDir p({u"A.jpg"_qs, u"B.jpg"_qs});
    const QByteArray journals = QFile::encodeName(m_journals->path());
    QCOMPARE(::chmod(journals.constData(), mode_t(mode)), 0);
    if (otherOwner)
        QCOMPARE(::chown(journals.constData(), 65534, 65534), 0);
    QTemporaryDir linkPlace;
    if (link) {
        const QString through = linkPlace.filePath(u"journals"_qs);
        QVERIFY(QFile::link(m_journals->path(), through));
        setJournalDirectory(through);
    }
    const bool refused = otherOwner || link;

    const Plan plan = p.plan({{u"A.jpg"_qs, u"B"_qs}, {u"B.jpg"_qs, u"A"_qs}});
    const RunResult run = runPlan(plan);
    QVERIFY(QDir(m_journals->path()).isEmpty());
    struct stat st;
    QCOMPARE(::stat(journals.constData(), &st), 0);
    if (!refused) {
        QCOMPARE(run.status, RunStatus::Done);
        QCOMPARE(int(st.st_mode & 07777), 0700);
        return;
    }
    QCOMPARE(run.status, RunStatus::NotStarted);
    QCOMPARE(p.now(), p.before);
    QCOMPARE(int(st.st_mode & 07777), mode);
    const QString message = failureMessage(plan, run);
    QVERIFY2(message.contains(u"keine Datei wurde umbenannt"_qs), qPrintable(message));
}

void RenameTest::leftoversOfTheJournalDirectoryAreHandledSafely()
{
    const QString j = m_journals->path() + u'/';
    // A start killed between making a lock and putting it in place left its
    // temporary file; one that a running start holds locked is left alone.
    QVERIFY(writeRaw(QFile::encodeName(j + u"rename-1-1-1.lock.new"_qs), QByteArray(), 0600));
    QVERIFY(writeRaw(QFile::encodeName(j + u"rename-2-2-2.lock.new"_qs), QByteArray(), 0600));
    const int held = ::open(QFile::encodeName(j + u"rename-2-2-2.lock.new"_qs).constData(), O_RDONLY);
    QVERIFY(held >= 0 && ::flock(held, LOCK_EX | LOCK_NB) == 0);
    const auto closeHeld = qScopeGuard([held] { ::close(held); });
    recoverJournals();
    QVERIFY(!QFile::exists(j + u"rename-1-1-1.lock.new"_qs));
    QVERIFY(QFile::exists(j + u"rename-2-2-2.lock.new"_qs));

    // In a directory the group may write (as older builds left it), a lock's
    // name is a hard link to another file of the user's.
    QCOMPARE(::chmod(QFile::encodeName(m_journals->path()).constData(), 0770), 0);
    QTemporaryDir elsewhere;
    const QByteArray victim = QFile::encodeName(elsewhere.filePath(u"notes.txt"_qs));
    QVERIFY(writeRaw(victim, "mine", 0644));
    QCOMPARE(::link(victim.constData(), QFile::encodeName(j + u"rename-3-3-3.lock"_qs).constData()), 0);

    recoverJournals();
    struct stat st;
    QCOMPARE(::stat(victim.constData(), &st), 0);
    QCOMPARE(int(st.st_mode & 07777), 0644);
}

void RenameTest::journalOfMissingFilesIsKeptAndCounted_data()
{
    QTest::addColumn<int>("moves");
    QTest::addColumn<bool>("parsed");
    QTest::newRow("a page whose files are gone") << 60 << true;
    QTest::newRow("more moves than a directory holds") << 100001 << false;
}

void RenameTest::journalOfMissingFilesIsKeptAndCounted()
{
    QFETCH(int, moves);
    QFETCH(bool, parsed);
    QTemporaryDir pics;
    const QString d = pics.path() + u'/';
    QList<JournalMove> list;
    for (int i = 0; i < moves; ++i)
        list << JournalMove{
            d + u"a%1.jpg"_qs.arg(i), d + u"b%1.jpg"_qs.arg(i), {}, platform::FileId{1, quint64(i + 1)}};
    const QString journal = m_journals->filePath(u"rename-4242-1-1.json"_qs);
    const QByteArray bytes = journalVersion1(list);
    QVERIFY(writeRaw(QFile::encodeName(journal), bytes, 0600));

    const QList<Recovery> recovered = recoverJournals();
    QCOMPARE(recovered.size(), 1);
    // Nothing was done, so the journal is kept: set aside, never deleted.
    const QString kept = setAsideOf(journal);
    QVERIFY2(!kept.isEmpty(), qPrintable(QDir(m_journals->path()).entryList().join(u' ')));
    QFile keptFile(kept);
    QVERIFY(keptFile.open(QIODevice::ReadOnly));
    QCOMPARE(keptFile.readAll().count("\"from\""), moves);
    const QString message = recoveryMessage(recovered);
    QVERIFY2(message.count(u'\n') < 45, qPrintable(message.left(2000)));
    if (parsed)
        QVERIFY2(message.contains(u"und 30 weitere"_qs), qPrintable(message));
    else
        QVERIFY2(message.contains(u"mehr als 100.000 Dateien"_qs), qPrintable(message));
}

QTEST_GUILESS_MAIN(RenameTest)
#include "rename_test.moc"
