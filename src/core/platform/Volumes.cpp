#include "core/platform/Volumes.h"

#include "core/pictures/PictureList.h"
#include "core/platform/FileNames.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QStorageInfo>

namespace dirs {

namespace {

QString withoutTrailingSlash(QString p)
{
    p = QDir::fromNativeSeparators(p);
    while (p.size() > 1 && p.endsWith(QLatin1Char('/')) && !p.endsWith(QLatin1String(":/")))
        p.chop(1);
    return p;
}

bool under(const QString &path, const QString &root)
{
    if (root.endsWith(QLatin1Char('/')))
        return path.startsWith(root, Qt::CaseSensitive) || path + QLatin1Char('/') == root;
    return path == root || path.startsWith(root + QLatin1Char('/'));
}

} // namespace

QList<Volume> mountedVolumes()
{
    QList<Volume> out;
    const QList<QStorageInfo> all = QStorageInfo::mountedVolumes();
    for (const QStorageInfo &s : all) {
        Volume v;
        v.rootPath = s.rootPath();
        v.fileSystemType = QString::fromUtf8(s.fileSystemType());
        v.name = s.name();
        v.ready = s.isValid() && s.isReady();
        out << v;
    }
    return out;
}

bool isPseudoVolume(const Volume &v)
{
    static const QSet<QString> kernelTypes = {
        QStringLiteral("proc"),        QStringLiteral("sysfs"),       QStringLiteral("devtmpfs"),
        QStringLiteral("devpts"),      QStringLiteral("cgroup"),      QStringLiteral("cgroup2"),
        QStringLiteral("securityfs"),  QStringLiteral("pstore"),      QStringLiteral("debugfs"),
        QStringLiteral("tracefs"),     QStringLiteral("configfs"),    QStringLiteral("fusectl"),
        QStringLiteral("mqueue"),      QStringLiteral("hugetlbfs"),   QStringLiteral("bpf"),
        QStringLiteral("autofs"),      QStringLiteral("binfmt_misc"), QStringLiteral("efivarfs"),
        QStringLiteral("rpc_pipefs"),  QStringLiteral("nsfs"),        QStringLiteral("selinuxfs"),
        QStringLiteral("rootfs"),      QStringLiteral("squashfs"),    QStringLiteral("fuse.gvfsd-fuse"),
        QStringLiteral("fuse.portal"),
    };
    const QString type = v.fileSystemType.toLower();
    if (kernelTypes.contains(type))
        return true;
    const QString root = withoutTrailingSlash(v.rootPath);
    // Memory file systems hold run-time files of the system; /tmp is the one a
    // user may keep pictures in.
    if ((type == QLatin1String("tmpfs") || type == QLatin1String("ramfs")) && root != QLatin1String("/tmp"))
        return true;
    static const QStringList systemDirs = {QStringLiteral("/proc"), QStringLiteral("/sys"),
                                           QStringLiteral("/dev"),  QStringLiteral("/run"),
                                           QStringLiteral("/snap"), QStringLiteral("/var/lib")};
    for (const QString &d : systemDirs) {
        if (under(root, d)) {
            // Removable media are mounted under /run/media on some systems.
            if (d == QLatin1String("/run") && under(root, QStringLiteral("/run/media")))
                return false;
            return true;
        }
    }
    return false;
}

QList<Drive> driveList(const QStringList &roots, const QList<Volume> &volumes)
{
    QList<Drive> out;
    QSet<QString> seen;
    for (const QString &r : roots) {
        const QString root = withoutTrailingSlash(r);
        if (root.isEmpty() || seen.contains(root))
            continue;
        seen.insert(root);
        out << Drive{root, QDir::toNativeSeparators(root)};
    }
    QList<Drive> mounted;
    for (const Volume &v : volumes) {
        const QString root = withoutTrailingSlash(v.rootPath);
        if (root.isEmpty() || seen.contains(root) || isPseudoVolume(v))
            continue;
        seen.insert(root);
        QString caption = QDir::toNativeSeparators(root);
        if (!v.name.isEmpty())
            caption += QStringLiteral(" [") + v.name + QLatin1Char(']');
        mounted << Drive{root, caption};
    }
    std::sort(mounted.begin(), mounted.end(),
              [](const Drive &a, const Drive &b) { return a.rootPath < b.rootPath; });
    out << mounted;
    return out;
}

int driveFor(const QList<Drive> &drives, const QString &path)
{
    const QString p = withoutTrailingSlash(path);
    int best = -1;
    for (int i = 0; i < drives.size(); ++i) {
        const QString &root = drives[i].rootPath;
        if (!under(p, root))
            continue;
        if (best < 0 || root.size() > drives[best].rootPath.size())
            best = i;
    }
    return best;
}

std::optional<double> panelHeight(double windowHeight)
{
    const double h = windowHeight - PanelHeightAllowance;
    if (h < 0)
        return std::nullopt;
    return h;
}

QString nearestExistingDirectory(const QString &path)
{
    QString p = withoutTrailingSlash(path);
    while (!p.isEmpty()) {
        if (platform::isDirectory(p))
            return p;
        const int cut = p.lastIndexOf(QLatin1Char('/'));
        if (cut < 0)
            return QString();
        QString parent = cut == 0 ? QStringLiteral("/") : p.left(cut);
        if (parent.endsWith(QLatin1Char(':')))
            parent += QLatin1Char('/');
        if (parent == p)
            return QString(); // a root that does not exist
        p = parent;
    }
    return QString();
}

QString pictureDirFrom(const QString &chosenPath)
{
    QString p = chosenPath;
    if (!platform::isDirectory(p))
        p = p.trimmed();
    return platform::absoluteDirectory(p);
}

std::optional<DropTarget> dropTarget(const QStringList &localPaths)
{
    if (localPaths.isEmpty() || localPaths.contains(QString()))
        return std::nullopt;
    if (localPaths.size() == 1 && platform::isDirectory(localPaths.front()))
        return DropTarget{platform::absoluteDirectory(localPaths.front()), QString()};
    QString directory;
    for (const QString &path : localPaths) {
        if (pages::pictureExtension(path).isEmpty() || platform::isDirectory(path) ||
            !platform::pathExists(path, platform::Links::Followed))
            return std::nullopt;
        QString dir = platform::directoryOf(path);
        dir = platform::absoluteDirectory(dir.isEmpty() ? QStringLiteral(".") : dir);
        if (!directory.isEmpty() && dir != directory)
            return std::nullopt;
        directory = dir;
    }
    return DropTarget{directory, platform::fileNameOf(localPaths.front())};
}

} // namespace dirs
