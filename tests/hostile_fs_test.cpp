// Listing and renaming on directories that other programs change or that hold
// what Qt cannot name: real directories, raw bytes, many files.
#include "core/pictures/PictureList.h"
#include "core/platform/FileNames.h"
#include "core/platform/Rename.h"
#include "core/platform/SystemError.h"
#include "core/renaming/RenamePlan.h"
#include "core/renaming/RenameRun.h"
#include "support/RawFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace pages;

using testing::readRaw;
using testing::writeRaw;

class HostileFsTest : public QObject {
    Q_OBJECT
private slots:
    void directoryDeletedWhileShownListsNothing();
    void readOnlyDirectoryIsListed();
    void nonUtf8NameRenamesOnlyItsOwnFile();
    void existenceAndRemovalReachTheEntryItself_data();
    void existenceAndRemovalReachTheEntryItself();
    void hundredThousandFilesListInNaturalOrder();
    void fullDiskRefusesRenamingBeforeAnyRename();
};

void HostileFsTest::directoryDeletedWhileShownListsNothing()
{
    QTemporaryDir parent;
    const QString dir = parent.filePath(QStringLiteral("shown"));
    QVERIFY(QDir().mkpath(dir));
    QFile f(dir + QStringLiteral("/a.jpg"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    QCOMPARE(listPictures(dir).names, QStringList{QStringLiteral("a.jpg")});
    QVERIFY(QDir(dir).removeRecursively());
    const PictureListing r = listPictures(dir + QLatin1Char('/'));
    QVERIFY(!r.ok);
    QVERIFY(r.names.isEmpty());
    QCOMPARE(r.reason, QStringLiteral("Datei oder Verzeichnis nicht gefunden"));
}

void HostileFsTest::readOnlyDirectoryIsListed()
{
    QTemporaryDir dir;
    QFile f(dir.filePath(QStringLiteral("b.jpg")));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
    const PictureListing r = listPictures(dir.path());
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(r.ok);
    QCOMPARE(r.names, QStringList{QStringLiteral("b.jpg")});
}

void HostileFsTest::nonUtf8NameRenamesOnlyItsOwnFile()
{
    // Qt's own encoding turns "caf\xE9" into the name of the second file: the
    // rename must move the first one and leave the second alone.
    QTemporaryDir dir;
    const QByteArray d = QFile::encodeName(dir.path()) + '/';
    QVERIFY(writeRaw(d + "caf\xE9.jpg", "latin1"));
    QVERIFY(writeRaw(d + "caf\xEF\xBF\xBD.jpg", "replacement"));
    const PictureListing r = listPictures(dir.path());
    QVERIFY(r.ok);
    QCOMPARE(r.names.size(), 2);
    QString raw;
    for (const QString &name : r.names) {
        if (platform::needsRawEncoding(name))
            raw = name;
    }
    QVERIFY(!raw.isEmpty());
    const platform::RenameResult moved = platform::renameNoReplace(dir.path() + QLatin1Char('/') + raw,
                                                                   dir.filePath(QStringLiteral("neu.jpg")));
    QVERIFY2(moved.ok(), qPrintable(moved.reason));
    QCOMPARE(readRaw(d + "neu.jpg"), QByteArray("latin1"));
    QCOMPARE(readRaw(d + "caf\xEF\xBF\xBD.jpg"), QByteArray("replacement"));
    QCOMPARE(readRaw(d + "caf\xE9.jpg"), QByteArray("<missing>"));
    QVERIFY(platform::fileId(dir.path() + QLatin1Char('/') + raw) == std::nullopt);
}

void HostileFsTest::existenceAndRemovalReachTheEntryItself_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("followed");    // counts with Links::Followed
    QTest::addColumn<bool>("notFollowed"); // counts with Links::NotFollowed
    QTest::addColumn<bool>("removed");     // gone after removeFile
    QTest::newRow("file") << QByteArray("a.jpg") << true << true << true;
    QTest::newRow("name that is not UTF-8") << QByteArray("caf\xE9.jpg") << true << true << true;
    QTest::newRow("link to a file") << QByteArray("link.jpg") << true << true << true;
    QTest::newRow("link whose target is gone") << QByteArray("dangling.jpg") << false << true << true;
    QTest::newRow("directory") << QByteArray("folder") << true << true << false;
    QTest::newRow("nothing") << QByteArray("none.jpg") << false << false << true;
}

void HostileFsTest::existenceAndRemovalReachTheEntryItself()
{
    QFETCH(QByteArray, name);
    QFETCH(bool, followed);
    QFETCH(bool, notFollowed);
    QFETCH(bool, removed);
    QTemporaryDir dir;
    const QByteArray d = QFile::encodeName(dir.path()) + '/';
    QVERIFY(writeRaw(d + "a.jpg", "a"));
    QVERIFY(writeRaw(d + "target.jpg", "target"));
    // Qt's own encoding would make the next name this one.
    QVERIFY(writeRaw(d + "caf\xEF\xBF\xBD.jpg", "replacement"));
    QVERIFY(writeRaw(d + "caf\xE9.jpg", "latin1"));
    QCOMPARE(::symlink("target.jpg", (d + "link.jpg").constData()), 0);
    QCOMPARE(::symlink("gone.jpg", (d + "dangling.jpg").constData()), 0);
    QCOMPARE(::mkdir((d + "folder").constData(), 0700), 0);
    const QString path = platform::decodeName(d + name);

    QCOMPARE(platform::pathExists(path, platform::Links::Followed), followed);
    QCOMPARE(platform::pathExists(path, platform::Links::NotFollowed), notFollowed);
    platform::removeFile(path);
    QCOMPARE(platform::pathExists(path, platform::Links::NotFollowed), !removed);
    // Only the entry itself goes: never a link's target, never the twin name.
    QCOMPARE(readRaw(d + "target.jpg"), QByteArray("target"));
    QCOMPARE(readRaw(d + "caf\xEF\xBF\xBD.jpg"), QByteArray("replacement"));
}

void HostileFsTest::hundredThousandFilesListInNaturalOrder()
{
    QTemporaryDir dir;
    const QByteArray d = QFile::encodeName(dir.path()) + '/';
    const int files = 100000;
    for (int i = files - 1; i >= 0; --i) {
        const QByteArray name = (i % 3 == 0   ? "IMG_"
                                 : i % 3 == 1 ? "img_"
                                              : "Bild ") +
                                QByteArray::number(i) + (i % 2 ? ".JPG" : ".jpg");
        const int fd = ::open((d + name).constData(), O_WRONLY | O_CREAT, 0644);
        QVERIFY(fd >= 0);
        ::close(fd);
    }
    const PictureListing r = listPictures(dir.path());
    QVERIFY(r.ok);
    QCOMPARE(r.names.size(), files);
    for (qsizetype i = 1; i < r.names.size(); ++i) {
        if (!naturalLess(r.names.at(i - 1), r.names.at(i)))
            QFAIL(qPrintable(r.names.at(i - 1) + QLatin1String(" listed before ") + r.names.at(i)));
    }
    QCOMPARE(r.names.first(), QStringLiteral("Bild 2.jpg"));
    // IMG_ and img_ interleave by number, whatever their case.
    QCOMPARE(r.names.at(r.names.indexOf(QStringLiteral("IMG_3.JPG")) + 1), QStringLiteral("img_4.jpg"));
    QCOMPARE(r.names.last(), QStringLiteral("IMG_99999.JPG"));
}

namespace {
// A small memory file system mounted for the length of a test.
struct SmallTmpfs {
    QTemporaryDir point;
    bool mounted = false;
    int error = 0;
    explicit SmallTmpfs(const char *options)
    {
        mounted = ::mount("tmpfs", QFile::encodeName(point.path()).constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                          options) == 0;
        error = mounted ? 0 : errno;
    }
    ~SmallTmpfs()
    {
        if (mounted)
            ::umount2(QFile::encodeName(point.path()).constData(), MNT_DETACH);
    }
};
} // namespace

void HostileFsTest::fullDiskRefusesRenamingBeforeAnyRename()
{
    // The journal's disk has one 4 KiB block free; the journal of this page needs
    // more. The renaming must not run unprotected.
    SmallTmpfs disk("size=64k,mode=0700");
    if (!disk.mounted)
        QSKIP(qPrintable(QStringLiteral("cannot mount a tmpfs here (%1); the injected write failures of "
                                        "rename_test::journalWriteFailureRefusesSave cover the case")
                             .arg(QString::fromLocal8Bit(strerror(disk.error)))));
    const QByteArray filler = QFile::encodeName(disk.point.path()) + "/filler";
    const int fd = ::open(filler.constData(), O_WRONLY | O_CREAT, 0600);
    QVERIFY(fd >= 0);
    const QByteArray block(4096, 'x');
    qint64 size = 0;
    while (::write(fd, block.constData(), size_t(block.size())) == block.size())
        size += block.size();
    QCOMPARE(errno, ENOSPC);
    QCOMPARE(::ftruncate(fd, size - block.size()), 0);
    ::close(fd);
    const QString journals = disk.point.path() + QStringLiteral("/namora");
    renaming::setJournalDirectory(journals);

    QTemporaryDir pictures;
    const QString d = pictures.path() + QLatin1Char('/');
    QList<renaming::NameEdit> edits;
    for (int i = 0; i < 60; ++i) {
        const QString name = QStringLiteral("Urlaub am Meer, Tag %1, Bild %2.jpg").arg(i / 10).arg(i);
        QVERIFY(writeRaw(QFile::encodeName(d + name), name.toUtf8()));
        edits << renaming::NameEdit{renaming::slotLabel(i, name), d + name,
                                    QStringLiteral("2024-07 Sommerferien an der See %1").arg(i)};
    }
    const QStringList before = QDir(d).entryList(QDir::Files);
    const renaming::Plan plan = renaming::planNameEdits(d, edits);
    QVERIFY(plan.ok());
    const renaming::RunResult run = renaming::runPlan(plan);
    QCOMPARE(run.status, renaming::RunStatus::NotStarted);
    QCOMPARE(QDir(d).entryList(QDir::Files), before);
    const QString message = renaming::failureMessage(plan, run);
    QVERIFY2(message.contains(platform::errorText(ENOSPC)) && message.contains(QStringLiteral("keine Datei")),
             qPrintable(message));
    // Neither an empty journal nor a lock nor a half-written file is left.
    QCOMPARE(QDir(journals).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
             QStringList());
    QVERIFY(renaming::recoverJournals().isEmpty());

    // With room on the disk the same page is saved.
    QCOMPARE(::unlink(filler.constData()), 0);
    QVERIFY(renaming::runPlan(renaming::planNameEdits(d, edits)).ok());
    renaming::setJournalDirectory(QString());
}

QTEST_GUILESS_MAIN(HostileFsTest)
#include "hostile_fs_test.moc"
