#include "Pictures.h"

#include "TestPictures.h"
#include "core/pictures/PictureList.h"
#include "core/platform/FileNames.h"
#include "core/platform/SystemError.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QtConcurrent/QtConcurrentMap>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace benchpics {

namespace {

// Bumped whenever a set is made differently, so that old sets are made again.
constexpr int Version = 1;
// How many different pictures the 53 of a page are copies of.
constexpr int DefaultDistinct = 8;
const QString Marker = QStringLiteral(".complete");

struct SetInfo {
    Set set;
    const char *name;
};
const SetInfo Sets[] = {{Set::Page12MP, "12MP"},
                        {Set::Page24MP, "24MP"},
                        {Set::Pages24MP, "pages-24MP"},
                        {Set::Many5000, "5000"}};

QString setName(Set set)
{
    for (const SetInfo &s : Sets)
        if (s.set == set)
            return QString::fromLatin1(s.name);
    return {};
}

QString pictureName(int i)
{
    return QStringLiteral("IMG_%1.JPG").arg(i, 4, 10, QLatin1Char('0'));
}

QString setDir(const QString &root, Set set)
{
    return platform::absoluteDirectory(platform::joinPath(root, setName(set)));
}

QString description(Set set)
{
    const QString base =
        QStringLiteral("namora-bench pictures v%1, %2 distinct per page").arg(Version).arg(DefaultDistinct);
    switch (set) {
    case Set::Page12MP:
        return base + QStringLiteral(": 53 x 4000x3000");
    case Set::Page24MP:
        return base + QStringLiteral(": 53 x 5664x4248");
    case Set::Pages24MP:
        return base + QStringLiteral(": 159 x 5664x4248, copies of the 24MP set");
    case Set::Many5000:
        return base + QStringLiteral(": 5000, links to the 24MP set, then 320x240 copies");
    }
    return base;
}

QByteArray readMarker(const QString &dir)
{
    QFile f(platform::joinPath(dir, Marker));
    return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed() : QByteArray();
}

bool writeMarker(const QString &dir, Set set)
{
    QFile f(platform::joinPath(dir, Marker));
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(description(set).toUtf8()) > 0;
}

bool makeDirectory(const QString &dir)
{
    return ::mkdir(platform::encodeName(dir).constData(), 0700) == 0 || errno == EEXIST;
}

// The directory is ours to write into: a real directory (not a link), owned by
// this user, that no one else may write.
QString unusableReason(const QString &dir)
{
    struct stat st {};
    if (::lstat(platform::encodeName(dir).chopped(1).constData(), &st) != 0)
        return platform::errorText(errno);
    if (S_ISLNK(st.st_mode))
        return QStringLiteral("it is a symbolic link");
    if (!S_ISDIR(st.st_mode))
        return QStringLiteral("it is not a directory");
    if (st.st_uid != ::geteuid())
        return QStringLiteral("it belongs to another user");
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return QStringLiteral("others may write into it");
    return {};
}

bool replaceWithCopy(const QString &from, const QString &to)
{
    QFile::remove(to);
    return QFile::copy(from, to);
}

bool replaceWithLink(const QString &from, const QString &to)
{
    QFile::remove(to);
    if (::link(platform::encodeName(from).constData(), platform::encodeName(to).constData()) == 0)
        return true;
    return QFile::copy(from, to);
}

// Camera-like pictures of one size: `distinct` different ones, then copies, each
// copy its own file (decoded on its own, never served from another's cache).
bool makePage(const QString &dir, QSize size, int count, int distinct)
{
    std::atomic_int failures{0};
    QList<int> seeds;
    for (int i = 0; i < distinct; ++i)
        seeds << i;
    QtConcurrent::blockingMap(seeds, [&](int seed) {
        testpics::CameraOptions o;
        o.noise = 12; // about 3.7 MB per 12 MP, as a camera writes them
        o.orientation = seed % 4 == 3 ? 6 : 1;
        o.dateTimeOriginal = QStringLiteral("2024:05:%1 12:00:00").arg(seed + 1, 2, 10, QLatin1Char('0'));
        const QString path = platform::joinPath(dir, pictureName(seed));
        QFile::remove(path);
        if (!testpics::writeCameraPhoto(path, size, seed, o))
            ++failures;
    });
    for (int i = distinct; i < count; ++i)
        if (!replaceWithCopy(platform::joinPath(dir, pictureName(i % distinct)),
                             platform::joinPath(dir, pictureName(i))))
            ++failures;
    return failures == 0;
}

bool makeSet(const QString &root, Set set)
{
    const QString dir = setDir(root, set);
    if (!makeDirectory(dir))
        return false;
    // A set is complete only when its marker is written, after every file.
    QFile::remove(platform::joinPath(dir, Marker));
    bool ok = true;
    switch (set) {
    case Set::Page12MP:
        ok = makePage(dir, Size12MP, PageSize, DefaultDistinct);
        break;
    case Set::Page24MP:
        ok = makePage(dir, Size24MP, PageSize, DefaultDistinct);
        break;
    case Set::Pages24MP: {
        const QString from = setDir(root, Set::Page24MP);
        for (int i = 0; ok && i < 3 * PageSize; ++i)
            ok = replaceWithCopy(platform::joinPath(from, pictureName(i % PageSize)),
                                 platform::joinPath(dir, pictureName(i)));
        break;
    }
    case Set::Many5000: {
        // The first page is the real pictures (links: the same files as the 24MP
        // set, each still its own); the rest small pictures, quick to decode.
        const QString from = setDir(root, Set::Page24MP);
        for (int i = 0; ok && i < PageSize; ++i)
            ok = replaceWithLink(platform::joinPath(from, pictureName(i)),
                                 platform::joinPath(dir, pictureName(i)));
        constexpr int SmallDistinct = 16;
        for (int i = 0; ok && i < SmallDistinct; ++i) {
            testpics::CameraOptions o;
            o.noise = 6;
            const QString path = platform::joinPath(dir, pictureName(PageSize + i));
            QFile::remove(path);
            ok = testpics::writeCameraPhoto(path, QSize(320, 240), 100 + i, o);
        }
        for (int i = PageSize + SmallDistinct; ok && i < 5000; ++i)
            ok = replaceWithCopy(platform::joinPath(dir, pictureName(PageSize + i % SmallDistinct)),
                                 platform::joinPath(dir, pictureName(i)));
        break;
    }
    }
    return ok && writeMarker(dir, set);
}

QList<Set> prerequisites(Set set)
{
    if (set == Set::Pages24MP || set == Set::Many5000)
        return {Set::Page24MP};
    return {};
}

} // namespace

Place root(const QStringList &args)
{
    QString given;
    for (int i = 0; i + 1 < args.size(); ++i)
        if (args[i] == QLatin1String("--pictures") || args[i] == QLatin1String("--dir"))
            given = args[i + 1];
    if (given.isEmpty()) {
        QString tmp = platform::decodeName(qgetenv("TMPDIR"));
        if (tmp.isEmpty())
            tmp = QStringLiteral("/tmp");
        given = platform::joinPath(tmp, QStringLiteral("namora-bench-pictures-%1").arg(::geteuid()));
    }
    Place p;
    p.dir = platform::absoluteDirectory(given);
    if (p.dir.isEmpty() || platform::needsRawEncoding(p.dir))
        p.problem = QStringLiteral("its name is not UTF-8");
    else if (!makeDirectory(p.dir))
        p.problem = platform::errorText(errno);
    else
        p.problem = unusableReason(p.dir);
    if (p.dir.isEmpty())
        p.dir = given;
    return p;
}

bool isComplete(const QString &root, Set set)
{
    return readMarker(setDir(root, set)) == description(set).toUtf8();
}

Place ensure(const QString &root, Set set)
{
    for (const Set before : prerequisites(set)) {
        const Place p = ensure(root, before);
        if (!p.ok())
            return p;
    }
    Place p{setDir(root, set), QString()};
    if (isComplete(root, set))
        return p;
    std::printf("making the %s pictures in %s (once; kept for later runs)\n", qPrintable(setName(set)),
                qPrintable(p.dir));
    std::fflush(stdout);
    QElapsedTimer t;
    t.start();
    const int rc =
        QProcess::execute(QCoreApplication::applicationFilePath(),
                          {QStringLiteral("pictures"), QStringLiteral("--make"), setName(set), root});
    if (rc != 0 || !isComplete(root, set)) {
        p.problem = QStringLiteral("making the %1 pictures failed").arg(setName(set));
        return p;
    }
    std::printf("made the %s pictures in %.1f s\n", qPrintable(setName(set)), t.elapsed() / 1000.0);
    std::fflush(stdout);
    return p;
}

void warmPageCache(const QString &directory)
{
    static char buffer[1 << 20];
    for (const QString &name : pictureNames(directory)) {
        const int fd = platform::openForReading(platform::joinPath(directory, name));
        if (fd < 0)
            continue;
        while (::read(fd, buffer, sizeof buffer) > 0) {
        }
        ::close(fd);
    }
}

Place prepare(const QStringList &args, Set set)
{
    Place r = root(args);
    if (!r.ok()) {
        r.problem = QStringLiteral("will not keep the benchmark pictures in %1: %2; name another directory "
                                   "with --pictures DIR")
                        .arg(r.dir, r.problem);
        return r;
    }
    return ensure(r.dir, set);
}

int run(const QStringList &args)
{
    if (args.size() >= 3 && args[0] == QLatin1String("--make")) {
        for (const SetInfo &s : Sets)
            if (args[1] == QLatin1String(s.name))
                return makeSet(platform::absoluteDirectory(args[2]), s.set) ? 0 : 1;
        std::fprintf(stderr, "no such picture set: %s\n", qPrintable(args[1]));
        return 2;
    }
    for (const SetInfo &s : Sets) {
        const Place p = prepare(args, s.set);
        if (!p.ok()) {
            std::fprintf(stderr, "%s\n", qPrintable(p.problem));
            return 1;
        }
        std::printf("%-11s %s\n", s.name, qPrintable(p.dir));
    }
    return 0;
}

QStringList pictureNames(const QString &directory)
{
    return pages::listPictures(directory).names;
}

} // namespace benchpics
