// Where the benchmarks keep their pictures: a directory under a shared /tmp
// could be someone else's, or a link another user planted, and the benchmarks
// would then write a gigabyte where that user wants it.
#include "Pictures.h"
#include "core/platform/FileNames.h"

#include <QtTest>
#include <sys/stat.h>
#include <unistd.h>

class BenchPicturesTest : public QObject {
    Q_OBJECT
private slots:
    void unsafeKeptDirectoryIsRefused_data();
    void unsafeKeptDirectoryIsRefused();
    void nameThatIsNotUtf8IsRefused();
    void missingDirectoryIsMadePrivate();
    void setWithoutItsMarkerIsNotComplete();
};

void BenchPicturesTest::unsafeKeptDirectoryIsRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("problem");
    QTest::newRow("a link to a directory") << "link"
                                           << "it is a symbolic link";
    QTest::newRow("writable by others (a shared /tmp)") << "shared"
                                                        << "others may write into it";
    QTest::newRow("writable by the group") << "group"
                                           << "others may write into it";
    QTest::newRow("another user's") << "foreign"
                                    << "it belongs to another user";
    QTest::newRow("a file") << "file"
                            << "it is not a directory";
}

void BenchPicturesTest::unsafeKeptDirectoryIsRefused()
{
    QFETCH(QString, kind);
    QFETCH(QString, problem);
    QTemporaryDir temp;
    const QString path = platform::joinPath(temp.path(), QStringLiteral("kept"));
    const QByteArray raw = platform::encodeName(path);
    if (kind == QLatin1String("link")) {
        const QString target = platform::joinPath(temp.path(), QStringLiteral("elsewhere"));
        QVERIFY(QDir().mkdir(target));
        QCOMPARE(::symlink(platform::encodeName(target).constData(), raw.constData()), 0);
    } else if (kind == QLatin1String("file")) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
    } else {
        QCOMPARE(::mkdir(raw.constData(), 0700), 0);
        if (kind == QLatin1String("shared"))
            QCOMPARE(::chmod(raw.constData(), 01777), 0);
        else if (kind == QLatin1String("group"))
            QCOMPARE(::chmod(raw.constData(), 0770), 0);
        else if (kind == QLatin1String("foreign"))
            QCOMPARE(::chown(raw.constData(), ::geteuid() == 0 ? 65534 : 0, ::getegid()), 0);
    }
    const benchpics::Place p = benchpics::root({QStringLiteral("--pictures"), path});
    QVERIFY(!p.ok());
    QCOMPARE(p.problem, problem);
    // prepare() hands the whole message on and makes nothing.
    const benchpics::Place set =
        benchpics::prepare({QStringLiteral("--pictures"), path}, benchpics::Set::Page24MP);
    QVERIFY(!set.ok());
    QVERIFY2(set.problem.contains(problem), qPrintable(set.problem));
    QVERIFY(!QFileInfo::exists(platform::joinPath(path, QStringLiteral("24MP"))));
}

void BenchPicturesTest::nameThatIsNotUtf8IsRefused()
{
    QTemporaryDir temp;
    const QByteArray tmp = platform::encodeName(temp.path()) + "/caf\xe9";
    QVERIFY(::mkdir(tmp.constData(), 0700) == 0);
    const QByteArray saved = qgetenv("TMPDIR");
    qputenv("TMPDIR", tmp);
    const benchpics::Place p = benchpics::root({});
    qputenv("TMPDIR", saved);
    // Qt's own functions cannot reach the name to remove it.
    ::rmdir(tmp.constData());
    QVERIFY(!p.ok());
    QCOMPARE(p.problem, QStringLiteral("its name is not UTF-8"));
}

void BenchPicturesTest::missingDirectoryIsMadePrivate()
{
    QTemporaryDir temp;
    const QByteArray saved = qgetenv("TMPDIR");
    qputenv("TMPDIR", platform::encodeName(temp.path()));
    const mode_t umask = ::umask(0);
    const benchpics::Place first = benchpics::root({});
    ::umask(umask);
    // The next run takes it as it is.
    const benchpics::Place again = benchpics::root({});
    qputenv("TMPDIR", saved);
    QVERIFY2(first.ok(), qPrintable(first.problem));
    QCOMPARE(first.dir,
             platform::joinPath(temp.path(), QStringLiteral("namora-bench-pictures-%1/").arg(::geteuid())));
    struct stat st {};
    QCOMPARE(::lstat(platform::encodeName(first.dir).constData(), &st), 0);
    QVERIFY(S_ISDIR(st.st_mode));
    QCOMPARE(st.st_mode & 07777, mode_t(0700));
    QVERIFY2(again.ok(), qPrintable(again.problem));
    QCOMPARE(again.dir, first.dir);
}

void BenchPicturesTest::setWithoutItsMarkerIsNotComplete()
{
    // Pictures left by an interrupted run, or by an older way of making them.
    QTemporaryDir temp;
    const QString set = platform::joinPath(temp.path(), QStringLiteral("24MP"));
    QVERIFY(QDir().mkdir(set));
    for (int i = 0; i < benchpics::PageSize; ++i) {
        QFile f(platform::joinPath(set, QStringLiteral("IMG_%1.JPG").arg(i, 4, 10, QLatin1Char('0'))));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    QVERIFY(!benchpics::isComplete(temp.path(), benchpics::Set::Page24MP));
    QFile marker(platform::joinPath(set, QStringLiteral(".complete")));
    QVERIFY(marker.open(QIODevice::WriteOnly));
    marker.write("namora-bench pictures v0, 8 distinct per page: 53 x 5664x4248");
    marker.close();
    QVERIFY(!benchpics::isComplete(temp.path(), benchpics::Set::Page24MP));
}

QTEST_GUILESS_MAIN(BenchPicturesTest)
#include "benchpictures_test.moc"
