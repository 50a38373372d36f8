#include "core/pages/PageModel.h"
#include "core/platform/FileNames.h"
#include "core/platform/Rename.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

// The page without a window: the list, the page arithmetic, the names typed for
// pictures across layouts and pages, the duplicate rule and the save.
class PageModelTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup();

    void loadListsTheDirectoryMadeAbsolute();
    void unlistableDirectoryGivesEmptyListAndReason();
    void pageArithmetic_data();
    void pageArithmetic();
    void arrowsKeepTheirStateWhenEverythingFitsOnOnePage();
    void typedNamesFollowTheirPicturesAcrossLayouts();
    void typedNamesAreKeptPerPicture_data();
    void typedNamesAreKeptPerPicture();
    void reloadAndNewPageDropTypedNames();
    void isModifiedOnlyForNamesThatDiffer_data();
    void isModifiedOnlyForNamesThatDiffer();
    void duplicateRuleListsNameOncePerLaterTwin_data();
    void duplicateRuleListsNameOncePerLaterTwin();
    void bulkToolsWriteFilledOrAllSlots();
    void shownNameDropsTheFourCharacterExtension_data();
    void shownNameDropsTheFourCharacterExtension();
    void startNumberFollowsThePage_data();
    void startNumberFollowsThePage();
    void saveRenamesAndUpdatesTheList();
    void saveWithDuplicatesOrRefusalRenamesNothing();
    void failedSaveKeepsListAsOnDiskAndTypedNames();
    void recordsKeepTheirSlotAndFactsThroughRelayoutAndSave();
    void saveKeepsEachFilesOwnExtension();
    void emptyNamesAreRefusedNamingTheirPictures();
    void filesChangedByAnotherProgramAreNotRenamed_data();
    void filesChangedByAnotherProgramAreNotRenamed();
};

namespace {

QStringList strings(std::initializer_list<const char *> texts)
{
    QStringList out;
    for (const char *t : texts)
        out << QString::fromUtf8(t);
    return out;
}

QStringList numbered(int count)
{
    QStringList names;
    for (int i = 1; i <= count; ++i)
        names << QStringLiteral("IMG_%1.jpg").arg(i, 3, 10, QLatin1Char('0'));
    return names;
}

// A directory of n small files named like pictures; the model only lists and
// renames them, so their content does not matter here.
void makeFiles(const QString &dir, const QStringList &names)
{
    for (const QString &n : names) {
        QFile f(QDir(dir).filePath(n));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(n.toUtf8());
    }
}

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

void PageModelTest::cleanup()
{
    platform::setRenameHandler({});
}

void PageModelTest::loadListsTheDirectoryMadeAbsolute()
{
    QTemporaryDir dir;
    makeFiles(dir.path(), {QStringLiteral("b.JPG"), QStringLiteral("a.jpg"), QStringLiteral("c.png")});
    const QString old = QDir::currentPath();
    QDir::setCurrent(dir.path());
    PageModel m;
    m.load(QStringLiteral("."));
    QDir::setCurrent(old);
    QCOMPARE(m.directory(), QDir(dir.path()).canonicalPath() + QLatin1Char('/'));
    QCOMPARE(m.fileNames(), (QStringList{QStringLiteral("a.jpg"), QStringLiteral("b.JPG")}));
    QCOMPARE(m.directoryCaption(), m.directory());
    QCOMPARE(m.listError(), QString());
    m.showPage(true);
    QCOMPARE(m.filePath(1), m.directory() + QStringLiteral("b.JPG"));
    QCOMPARE(m.name(1), QStringLiteral("b"));
}

void PageModelTest::unlistableDirectoryGivesEmptyListAndReason()
{
    QTemporaryDir dir;
    PageModel m;
    m.load(dir.path() + QStringLiteral("/gone"));
    QCOMPARE(m.fileCount(), 0);
    QVERIFY(!m.listError().isEmpty());
    QVERIFY(m.directoryCaption().startsWith(dir.path() + QStringLiteral("/gone/  (nicht lesbar: ")));
}

void PageModelTest::pageArithmetic_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("lastSlot");
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("filledSlots");
    QTest::addColumn<QString>("counter");
    QTest::addColumn<bool>("next");
    QTest::addColumn<bool>("back");
    QTest::newRow("120 pictures, page 2 of 3")
        << 120 << 52 << 1 << 53 << "Seite: 2 / 3\nBild: 54-106 / 120" << true << true;
    QTest::newRow("last page, partly filled")
        << 120 << 52 << 2 << 14 << "Seite: 3 / 3\nBild: 107-120 / 120" << false << true;
    QTest::newRow("25 slots, first page")
        << 60 << 24 << 0 << 25 << "Seite: 1 / 3\nBild: 1-25 / 60" << true << false;
    // The page index falls back to the last page there is.
    QTest::newRow("page beyond a shrunk list")
        << 20 << 52 << 2 << 20 << "Seite: 1 / 1\nBild: 1-20 / 20" << false << false;
}

void PageModelTest::pageArithmetic()
{
    QFETCH(int, count);
    QFETCH(int, lastSlot);
    QFETCH(int, page);
    QFETCH(int, filledSlots);
    QTemporaryDir dir;
    makeFiles(dir.path(), numbered(count));
    PageModel m;
    m.load(dir.path());
    m.relayout(lastSlot);
    m.setPageIndex(page);
    m.showPage(true);
    int filled = 0;
    for (int i = 0; i < grid::SlotCount; ++i) {
        QCOMPARE(m.isFilled(i), i <= lastSlot && m.listIndex(i) < count);
        QCOMPARE(m.filePath(i).isEmpty(), !m.isFilled(i));
        filled += m.isFilled(i) ? 1 : 0;
    }
    QCOMPARE(filled, filledSlots);
    if (filledSlots > 0)
        QCOMPARE(m.filePath(0), m.directory() + numbered(count).at(m.listIndex(0)));
    QTEST(m.counterCaption(), "counter");
    if (lastSlot < count) {
        QTEST(m.nextEnabled(), "next");
        QTEST(m.backEnabled(), "back");
    }
}

void PageModelTest::arrowsKeepTheirStateWhenEverythingFitsOnOnePage()
{
    QTemporaryDir dir;
    makeFiles(dir.path(), numbered(30));
    PageModel m;
    m.load(dir.path());
    m.relayout(24);
    m.setPageIndex(1);
    m.showPage(true);
    QVERIFY(m.backEnabled());
    QVERIFY(!m.nextEnabled());
    // 53 slots hold all 30 pictures: the arrows keep the states they had.
    m.relayout(52);
    QVERIFY(m.backEnabled());
}

void PageModelTest::typedNamesFollowTheirPicturesAcrossLayouts()
{
    QTemporaryDir dir;
    makeFiles(dir.path(), numbered(60));
    PageModel m;
    m.load(dir.path());
    m.showPage(true);
    QSignalSpy shown(&m, &PageModel::pageShown);
    m.setName(3, QStringLiteral("Strand"));
    m.setName(40, QStringLiteral("Berg"));

    m.relayout(24); // picture 41 leaves the page
    QCOMPARE(shown.count(), 1);
    QCOMPARE(shown.first().first().toBool(), false);
    QCOMPARE(m.name(3), QStringLiteral("Strand"));
    QVERIFY(m.isModified());
    m.relayout(24); // no change, no display
    QCOMPARE(shown.count(), 1);

    m.setPageIndex(1); // slots 0..24 of page 2 show pictures 26..50
    m.relayout(24);
    m.showPage(false);
    QCOMPARE(m.name(40 - 25), QStringLiteral("Berg"));
    m.setPageIndex(0);
    m.relayout(52);
    QCOMPARE(m.name(40), QStringLiteral("Berg"));
    QCOMPARE(m.name(3), QStringLiteral("Strand"));
    QCOMPARE(m.name(4), QStringLiteral("IMG_005"));
}

void PageModelTest::typedNamesAreKeptPerPicture_data()
{
    QTest::addColumn<QStringList>("typed"); // into slots 0.. of a page of 2 pictures, a.jpg and b.jpg
    QTest::addColumn<QStringList>("kept");  // per picture after a relayout to one slot and back
    QTest::newRow("typed name kept under its picture")
        << strings({"a", "Urlaub"}) << strings({"a", "Urlaub"});
    QTest::newRow("cleared box is a typed name too") << strings({"", "b"}) << strings({"", "b"});
    QTest::newRow("name typed back to the file's own") << strings({"x", "b", "a"}) << strings({"a", "b"});
    QTest::newRow("slot without a picture keeps nothing")
        << strings({"a", "b", "stray"}) << strings({"a", "b"});
}

void PageModelTest::typedNamesAreKeptPerPicture()
{
    QFETCH(QStringList, typed);
    QFETCH(QStringList, kept);
    QTemporaryDir dir;
    makeFiles(dir.path(), {QStringLiteral("a.jpg"), QStringLiteral("b.jpg")});
    PageModel m;
    m.load(dir.path());
    m.relayout(2);
    m.showPage(true);
    // A third entry types into slot 0 again, or into the empty slot 2.
    for (int i = 0; i < typed.size(); ++i)
        m.setName(i < 2 ? i : (typed.at(i) == QLatin1String("stray") ? 2 : 0), typed.at(i));
    m.relayout(0);
    m.relayout(2);
    QCOMPARE((QStringList{m.pictureName(0), m.pictureName(1)}), kept);
    QCOMPARE(m.name(2), QString());
    QCOMPARE(m.isModified(), kept != strings({"a", "b"}));
}

void PageModelTest::reloadAndNewPageDropTypedNames()
{
    QTemporaryDir dir;
    makeFiles(dir.path(), numbered(60));
    PageModel m;
    m.load(dir.path());
    m.showPage(true);
    const quint64 generation = m.generation();
    m.setName(0, QStringLiteral("x"));
    m.showPage(false);
    QCOMPARE(m.name(0), QStringLiteral("x"));
    QCOMPARE(m.generation(), generation);
    m.showPage(true);
    QCOMPARE(m.name(0), QStringLiteral("IMG_001"));
    QVERIFY(!m.isModified());
    QVERIFY(m.generation() > generation);

    m.setName(1, QStringLiteral("y"));
    m.stepForward();
    m.showPage(true);
    m.stepBack();
    m.showPage(true);
    QCOMPARE(m.name(1), QStringLiteral("IMG_002"));

    m.setName(2, QStringLiteral("z"));
    m.reload();
    QVERIFY(!m.isModified());
}

void PageModelTest::isModifiedOnlyForNamesThatDiffer_data()
{
    QTest::addColumn<int>("slot");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("modified");
    QTest::newRow("typed back to its own name") << 0 << "IMG_001" << false;
    QTest::newRow("a letter changed") << 0 << "IMG_00I" << true;
    QTest::newRow("case counts") << 1 << "img_002" << true;
    QTest::newRow("emptied") << 2 << "" << true;
    QTest::newRow("slot without a picture") << 10 << "anything" << false;
}

void PageModelTest::isModifiedOnlyForNamesThatDiffer()
{
    QFETCH(int, slot);
    QFETCH(QString, text);
    QTemporaryDir dir;
    makeFiles(dir.path(), numbered(3));
    PageModel m;
    m.load(dir.path());
    m.showPage(true);
    m.setName(slot, text);
    QCOMPARE(m.name(slot), text);
    QTEST(m.isModified(), "modified");
}

void PageModelTest::duplicateRuleListsNameOncePerLaterTwin_data()
{
    QTest::addColumn<QStringList>("names"); // typed into slots 0..; 4 pictures
    QTest::addColumn<QStringList>("listed");
    QTest::newRow("none") << strings({"a", "b", "c", "d"}) << QStringList{};
    QTest::newRow("three alike, listed twice") << strings({"A", "A", "x", "A"}) << strings({"A", "A"});
    QTest::newRow("case differs: no duplicate") << strings({"Urlaub", "urlaub", "c", "d"}) << QStringList{};
    QTest::newRow("two empty names") << strings({"", "b", "", "d"}) << strings({""});
    // Slot 5 holds no picture: its box is never compared.
    QTest::newRow("empty slot ignored") << strings({"a", "b", "c", "d", "e", "a"}) << QStringList{};
}

void PageModelTest::duplicateRuleListsNameOncePerLaterTwin()
{
    QFETCH(QStringList, names);
    QTemporaryDir dir;
    makeFiles(dir.path(), numbered(4));
    PageModel m;
    m.load(dir.path());
    m.showPage(true);
    for (int i = 0; i < names.size(); ++i)
        m.setName(i, names.at(i));
    QTEST(m.duplicates(), "listed");
}

void PageModelTest::bulkToolsWriteFilledOrAllSlots()
{
    QTemporaryDir dir;
    makeFiles(dir.path(), {QStringLiteral("Urlaub.jpg"), QStringLiteral("IMG_0815.jpg")});
    PageModel m;
    m.load(dir.path());
    m.relayout(3);
    m.showPage(true);
    QSignalSpy changed(&m, &PageModel::namesChanged);
    m.addPrefix(QStringLiteral("1990.01.31_"));
    QCOMPARE(m.names(), (strings({"1990.01.31_IMG_0815", "1990.01.31_Urlaub", "", ""})));
    m.addSuffix(QStringLiteral("_Rom"));
    QCOMPARE(m.names().first(), QStringLiteral("1990.01.31_IMG_0815_Rom"));
    m.replaceText(QStringLiteral("1990.01.31_"), QString());
    m.clearNames();
    QCOMPARE(m.names(), QStringList(4));
    // Numbers go to every slot, the hidden boxes of slots without a picture too.
    m.addNumbers();
    QCOMPARE(m.names(), (strings({"01", "02", "03", "04"})));
    QCOMPARE(changed.count(), 5);

    QSignalSpy one(&m, &PageModel::nameChanged);
    m.toggleName(0);
    QCOMPARE(m.name(0), QString());
    m.toggleName(0);
    QCOMPARE(m.name(0), QStringLiteral("IMG_0815"));
    m.toggleName(2); // "03" in a slot without a picture: emptied, never refilled
    m.toggleName(2);
    QCOMPARE(m.name(2), QString());
    QCOMPARE(one.count(), 3);
    // A display empties the boxes of slots without a picture.
    m.addNumbers();
    m.showPage(false);
    QCOMPARE(m.name(3), QString());
}

void PageModelTest::shownNameDropsTheFourCharacterExtension_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("shown");
    QTest::newRow("plain") << "IMG_0815.jpg"
                           << "IMG_0815";
    QTest::newRow("upper-case extension") << "a.b.JPG"
                                          << "a.b";
    QTest::newRow("nothing but the extension") << ".jpg"
                                               << "";
    QTest::newRow("jpeg") << "Rom.jpeg"
                          << "Rom";
    QTest::newRow("JPEG") << "Rom.2.JPEG"
                          << "Rom.2";
    // A backslash is part of the name, not a separator.
    QTest::newRow("backslash in the name") << "x\\y.jpg"
                                           << "x\\y";
}

void PageModelTest::shownNameDropsTheFourCharacterExtension()
{
    QFETCH(QString, fileName);
    QFETCH(QString, shown);
    QCOMPARE(PageModel::shownName(fileName), shown);
    // The "X" button gives back exactly that name, in a directory whose name
    // holds a backslash too.
    QTemporaryDir parent;
    QVERIFY(QDir(parent.path()).mkdir(QStringLiteral("a\\b")));
    const QString dir = parent.path() + QStringLiteral("/a\\b/");
    makeFiles(dir, {fileName});
    PageModel m;
    m.load(dir);
    m.showPage(true);
    m.toggleName(0);
    QCOMPARE(m.name(0), QString());
    m.toggleName(0);
    QCOMPARE(m.name(0), shown);
}

void PageModelTest::startNumberFollowsThePage_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("afterNext");
    QTest::addColumn<QString>("afterBack");
    QTest::newRow("padding kept") << "007"
                                  << "060"
                                  << "007";
    QTest::newRow("longer number is not cut") << "99"
                                              << "152"
                                              << "099";
    QTest::newRow("not a number stays") << "abc"
                                        << "abc"
                                        << "abc";
}

void PageModelTest::startNumberFollowsThePage()
{
    QFETCH(QString, start);
    QTemporaryDir dir;
    makeFiles(dir.path(), numbered(120));
    PageModel m;
    m.load(dir.path());
    m.showPage(true);
    m.setStartNumber(start);
    m.stepForward();
    QCOMPARE(m.pageIndex(), 1);
    QTEST(m.startNumber(), "afterNext");
    m.stepBack();
    QCOMPARE(m.pageIndex(), 0);
    QTEST(m.startNumber(), "afterBack");
}

void PageModelTest::saveRenamesAndUpdatesTheList()
{
    QTemporaryDir dir;
    makeFiles(dir.path(), numbered(30));
    PageModel m;
    m.load(dir.path());
    m.relayout(24);
    m.showPage(true);
    m.setName(0, QStringLiteral("Strand"));
    m.relayout(52);
    m.setName(27, QStringLiteral("Hafen"));
    m.relayout(24); // "Hafen" is now typed for a picture off the page

    // Only the slots on screen are saved; the name off the page waits with
    // its picture and is counted.
    PageModel::SaveResult r = m.save();
    QVERIFY(r.ok());
    QVERIFY(r.listChanged);
    QCOMPARE(r.changedNames, 1);
    QCOMPARE(r.waitingElsewhere, 1);
    QCOMPARE(fileBytes(dir.filePath(QStringLiteral("Strand.jpg"))), QByteArray("IMG_001.jpg"));
    QCOMPARE(fileBytes(dir.filePath(QStringLiteral("IMG_028.jpg"))), QByteArray("IMG_028.jpg"));
    QCOMPARE(m.pictureName(27), QStringLiteral("Hafen"));
    QVERIFY(m.isModified());
    // Its own page saves it.
    m.setPageIndex(1);
    m.showPage(false);
    r = m.save();
    QVERIFY(r.ok());
    QCOMPARE(r.waitingElsewhere, 0);
    QCOMPARE(fileBytes(dir.filePath(QStringLiteral("Hafen.jpg"))), QByteArray("IMG_028.jpg"));
    QCOMPARE(m.fileName(0), QStringLiteral("Strand.jpg"));
    QCOMPARE(m.fileName(27), QStringLiteral("Hafen.jpg"));
    QVERIFY(!m.isModified());
    QCOMPARE(m.pathOf(0), m.directory() + QStringLiteral("Strand.jpg"));
}

void PageModelTest::saveWithDuplicatesOrRefusalRenamesNothing()
{
    QTemporaryDir dir;
    makeFiles(dir.path(), numbered(3));
    PageModel m;
    m.load(dir.path());
    m.showPage(true);
    m.setName(0, QStringLiteral("same"));
    m.setName(1, QStringLiteral("same"));
    PageModel::SaveResult r = m.save();
    QCOMPARE(r.status, PageModel::SaveResult::Duplicates);
    QCOMPARE(r.duplicates, QStringList{QStringLiteral("same")});

    m.setName(1, QStringLiteral("a/b"));
    r = m.save();
    QCOMPARE(r.status, PageModel::SaveResult::Refused);
    QCOMPARE(r.concerned, QStringList{QStringLiteral("Bild 2 (IMG_002.jpg)")});
    QVERIFY(r.message.contains(QStringLiteral("Bild 2 (IMG_002.jpg)")));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), numbered(3));
    QCOMPARE(m.fileNames(), numbered(3));
    QCOMPARE(m.name(0), QStringLiteral("same"));
}

void PageModelTest::failedSaveKeepsListAsOnDiskAndTypedNames()
{
    QTemporaryDir dir;
    makeFiles(dir.path(), numbered(4));
    PageModel m;
    m.load(dir.path());
    m.showPage(true);
    m.setName(0, QStringLiteral("A"));
    m.setName(1, QStringLiteral("B"));
    m.setName(2, QStringLiteral("C"));
    // The third rename fails; the two before it are put back.
    int calls = 0;
    platform::setRenameHandler([&calls](const QString &from, const QString &to) {
        if (++calls == 3) {
            platform::RenameResult r;
            r.status = platform::RenameStatus::Failed;
            r.reason = QStringLiteral("Keine Berechtigung");
            return r;
        }
        return platform::systemRenameNoReplace(from, to);
    });
    const PageModel::SaveResult r = m.save();
    QCOMPARE(r.status, PageModel::SaveResult::Failed);
    QVERIFY(r.rolledBack);
    QCOMPARE(r.concerned, QStringList{QStringLiteral("Bild 3 (IMG_003.jpg)")});
    QVERIFY(!r.listChanged);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), numbered(4));
    QCOMPARE(m.fileNames(), numbered(4));
    QCOMPARE(m.names().mid(0, 4), (strings({"A", "B", "C", "IMG_004"})));
    QVERIFY(m.isModified());

    // Putting back fails too: the list follows the files to where they are.
    calls = 0;
    platform::setRenameHandler([&calls](const QString &from, const QString &to) {
        ++calls;
        if (calls == 3 || calls == 4) {
            platform::RenameResult r;
            r.status = platform::RenameStatus::Failed;
            r.reason = QStringLiteral("Keine Berechtigung");
            return r;
        }
        return platform::systemRenameNoReplace(from, to);
    });
    const PageModel::SaveResult again = m.save();
    QCOMPARE(again.status, PageModel::SaveResult::Failed);
    QVERIFY(again.listChanged);
    QStringList onDisk = QDir(dir.path()).entryList(QDir::Files);
    QStringList listed = m.fileNames();
    onDisk.sort();
    listed.sort();
    QCOMPARE(listed, onDisk);
    QVERIFY(m.fileNames().contains(QStringLiteral("B.jpg")));
    // The picture now named B needs nothing more; the others keep their names.
    QCOMPARE(m.name(1), QStringLiteral("B"));
    QCOMPARE(m.name(0), QStringLiteral("A"));
    QVERIFY(m.isModified());
}

void PageModelTest::recordsKeepTheirSlotAndFactsThroughRelayoutAndSave()
{
    QTemporaryDir dir;
    makeFiles(dir.path(), numbered(30));
    PageModel m;
    m.load(dir.path());
    m.relayout(9); // ten slots a page
    m.setPageIndex(1);
    m.showPage(true);
    m.setHeadFacts(12, exif::HeadFacts{6, QStringLiteral("2008:05:30 10:00:00")});
    QCOMPARE(m.slotOf(12), 2);
    QCOMPARE(m.slotOf(9), -1); // on the page before
    QCOMPARE(m.pagePaths(2).first(), m.pathOf(20));
    QCOMPARE(m.pagePaths(3), QStringList());

    // Twenty slots: page 1 now shows entries 20..29, every slot another picture.
    m.relayout(19);
    QCOMPARE(m.slotOf(12), -1);
    QCOMPARE(m.slotOf(21), 1);
    for (int i = 0; i < 10; ++i)
        QVERIFY2(m.slotChanged(i), qPrintable(QString::number(i)));
    m.setPageIndex(0);
    m.showPage(false);
    QCOMPARE(m.slotOf(12), 12);

    // A save renames the file under its record: same slot, same facts, and no
    // slot counts as showing another picture.
    m.setName(12, QStringLiteral("Hafen"));
    QVERIFY(m.save().ok());
    m.showPage(false);
    QCOMPARE(m.slotOf(12), 12);
    QVERIFY(!m.slotChanged(12));
    QCOMPARE(m.pictures().at(12).fileName, QStringLiteral("Hafen.jpg"));
    QCOMPARE(m.pictures().at(12).head->orientation, 6);
    QCOMPARE(m.pictures().at(12).head->dateTimeOriginal, QStringLiteral("2008:05:30 10:00:00"));

    // A new listing of the same directory: every slot shows a new record.
    m.reload();
    m.showPage(false);
    QVERIFY(m.slotChanged(0));
    QVERIFY(!m.pictures().at(12).head);
}

QTEST_GUILESS_MAIN(PageModelTest)
#include "pagemodel_test.moc"

void PageModelTest::saveKeepsEachFilesOwnExtension()
{
    QTemporaryDir dir;
    const QStringList files = strings({"a.jpeg", "B.JPEG", "c.JPG", "d.Jpg", "e.jpg"});
    const auto onDisk = [&] {
        return QDir(dir.path()).entryList(QDir::Files, QDir::Name | QDir::IgnoreCase);
    };
    makeFiles(dir.path(), files);
    PageModel m;
    m.load(dir.path());
    m.showPage(true);
    QCOMPARE(m.fileNames(), files);
    QCOMPARE(m.names().mid(0, 5), strings({"a", "B", "c", "d", "e"}));
    // Nothing typed: nothing renamed, and the result says so.
    PageModel::SaveResult r = m.save();
    QVERIFY(r.ok());
    QCOMPARE(r.changedNames, 0);
    QCOMPARE(r.renamed, 0);
    QCOMPARE(onDisk(), files);
    // A new name keeps the extension the file has, in its own letter case.
    m.addPrefix(QStringLiteral("x_"));
    r = m.save();
    QVERIFY(r.ok());
    QCOMPARE(r.renamed, 5);
    QCOMPARE(onDisk(), strings({"x_a.jpeg", "x_B.JPEG", "x_c.JPG", "x_d.Jpg", "x_e.jpg"}));
    QCOMPARE(fileBytes(dir.filePath(QStringLiteral("x_B.JPEG"))), QByteArray("B.JPEG"));
}

void PageModelTest::emptyNamesAreRefusedNamingTheirPictures()
{
    QTemporaryDir dir;
    makeFiles(dir.path(), numbered(5));
    PageModel m;
    m.load(dir.path());
    m.showPage(true);
    m.setName(1, QString());
    m.setName(3, QString());
    const PageModel::SaveResult r = m.save();
    QCOMPARE(r.status, PageModel::SaveResult::Refused);
    QVERIFY(r.duplicates.isEmpty());
    QVERIFY2(r.message.contains(QStringLiteral("Bild 2 hat keinen Namen\nBild 4 hat keinen Namen")),
             qPrintable(r.message));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files, QDir::Name), numbered(5));
}

void PageModelTest::filesChangedByAnotherProgramAreNotRenamed_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("swapped") << "swap";
    QTest::newRow("removed") << "remove";
    QTest::newRow("replaced") << "replace";
    QTest::newRow("second window saved first") << "window";
}

void PageModelTest::filesChangedByAnotherProgramAreNotRenamed()
{
    QFETCH(QString, change);
    QTemporaryDir dir;
    const QDir d(dir.path());
    makeFiles(dir.path(), strings({"p01.jpg", "p02.jpg", "p03.jpg"}));
    PageModel m;
    m.load(dir.path());
    m.showPage(true);
    m.setName(0, QStringLiteral("b01"));
    m.setName(1, QStringLiteral("b02"));
    m.setName(2, QStringLiteral("b03"));

    if (change == QLatin1String("swap")) {
        QVERIFY(QFile::rename(d.filePath(QStringLiteral("p01.jpg")), d.filePath(QStringLiteral("t.tmp"))));
        QVERIFY(QFile::rename(d.filePath(QStringLiteral("p02.jpg")), d.filePath(QStringLiteral("p01.jpg"))));
        QVERIFY(QFile::rename(d.filePath(QStringLiteral("t.tmp")), d.filePath(QStringLiteral("p02.jpg"))));
    } else if (change == QLatin1String("remove")) {
        QVERIFY(QFile::remove(d.filePath(QStringLiteral("p02.jpg"))));
    } else if (change == QLatin1String("replace")) {
        // Another picture under the name (a reused inode is told by its size).
        QVERIFY(QFile::remove(d.filePath(QStringLiteral("p02.jpg"))));
        QFile f(d.filePath(QStringLiteral("p02.jpg")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("another picture");
    } else {
        PageModel other;
        other.load(dir.path());
        other.showPage(true);
        other.setName(1, QStringLiteral("andere"));
        QVERIFY(other.save().ok());
    }
    QStringList before = d.entryList(QDir::Files, QDir::Name);
    QHash<QString, QByteArray> content;
    for (const QString &f : std::as_const(before))
        content.insert(f, fileBytes(d.filePath(f)));

    const PageModel::SaveResult r = m.save();
    QCOMPARE(r.status, PageModel::SaveResult::Outdated);
    QVERIFY2(r.message.contains(QStringLiteral("Bild 2 (p02.jpg)")), qPrintable(r.message));
    QVERIFY(r.listChanged);
    // Nothing renamed: every file as the other program left it.
    QCOMPARE(d.entryList(QDir::Files, QDir::Name), before);
    for (const QString &f : std::as_const(before))
        QCOMPARE(fileBytes(d.filePath(f)), content.value(f));
    // The list is read again and each typed name stays with the picture it
    // was typed for, wherever that picture is now.
    QCOMPARE(m.fileNames(), before);
    for (int k = 0; k < m.fileCount(); ++k) {
        const QByteArray original = fileBytes(m.pathOf(k));
        const QString expected = original == "p01.jpg"   ? QStringLiteral("b01")
                                 : original == "p02.jpg" ? QStringLiteral("b02")
                                 : original == "p03.jpg" ? QStringLiteral("b03")
                                                         : PageModel::shownName(m.fileName(k));
        QCOMPARE(m.pictureName(k), expected);
    }
}
