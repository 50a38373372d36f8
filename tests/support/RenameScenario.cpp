#include "support/RenameScenario.h"

#include "core/pictures/Companions.h"
#include "core/pictures/PictureList.h"
#include "core/renaming/RenameRun.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing {

Snapshot snapshot(const QString &dir)
{
    Snapshot s;
    const QDir d(dir);
    for (const QString &name : d.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        QFile f(d.filePath(name));
        if (f.open(QIODevice::ReadOnly))
            s.insert(name, f.readAll());
    }
    return s;
}

void writeFiles(const QString &dir, const QStringList &names)
{
    for (const QString &name : names) {
        QFile f(QDir(dir).filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("content of " + name.toUtf8());
    }
}

QMap<QString, QByteArray> treeSnapshot(const QString &dir)
{
    QMap<QString, QByteArray> s;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile f(path);
        s.insert(QDir(dir).relativeFilePath(path),
                 f.open(QIODevice::ReadOnly) ? f.readAll() : "<unreadable>");
    }
    return s;
}

bool hasTemporary(const Snapshot &s)
{
    for (auto it = s.cbegin(); it != s.cend(); ++it)
        if (it.key().startsWith(renaming::temporaryPrefix()))
            return true;
    return false;
}

QString base(const QString &name)
{
    return name.left(name.size() - 4);
}

renaming::Plan planFor(const QString &dir, const Edits &edits)
{
    // Companions as the program finds them: from one read of the directory.
    const pages::PictureListing listing = pages::listPictures(dir);
    const QList<QStringList> companions = pages::companionsOf(listing.names, listing.companions);
    QList<renaming::NameEdit> list;
    for (int i = 0; i < edits.size(); ++i) {
        const qsizetype at = listing.names.indexOf(edits[i].first);
        list << renaming::NameEdit{renaming::slotLabel(i, edits[i].first), dir + edits[i].first,
                                   edits[i].second, QStringLiteral(".jpg"),
                                   at >= 0 ? companions.at(at) : QStringList()};
    }
    return renaming::planNameEdits(dir, list);
}

PictureDir::PictureDir(const QStringList &files)
{
    writeFiles(d, files);
    before = snapshot(d);
}

void runAndKillAfter(const renaming::Plan &plan, int k)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        int calls = 0;
        platform::setRenameHandler([&calls, k](const QString &from, const QString &to) {
            const platform::RenameResult r = platform::systemRenameNoReplace(from, to);
            if (++calls == k)
                ::kill(::getpid(), SIGKILL);
            return r;
        });
        renaming::runPlan(plan);
        ::_exit(0);
    }
    QVERIFY(pid > 0);
    int status = 0;
    QCOMPARE(::waitpid(pid, &status, 0), pid);
    QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}

FailingRename::FailingRename(int k, int m)
{
    platform::setRenameHandler([this, k, m](const QString &from, const QString &to) {
        ++calls;
        if (calls == k || calls == m) {
            platform::RenameResult r;
            r.status = platform::RenameStatus::Failed;
            r.error = EACCES;
            r.reason = QStringLiteral("Keine Berechtigung");
            return r;
        }
        return platform::systemRenameNoReplace(from, to);
    });
}

FailingRename::~FailingRename()
{
    platform::setRenameHandler({});
}

QString CaseBlindFileSystem::entry(const QString &path)
{
    const QFileInfo info(path);
    const QStringList names = info.dir().entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &n : names)
        if (n.compare(info.fileName(), Qt::CaseInsensitive) == 0)
            return info.dir().filePath(n);
    return QString();
}

CaseBlindFileSystem::CaseBlindFileSystem()
{
    platform::setFileIdHandler([](const QString &path) -> std::optional<platform::FileId> {
        const QString real = entry(path);
        return real.isEmpty() ? std::nullopt : platform::systemFileId(real);
    });
    platform::setRenameHandler([](const QString &from, const QString &to) {
        const QString real = entry(from);
        if (!entry(to).isEmpty()) {
            platform::RenameResult r;
            r.status = platform::RenameStatus::TargetExists;
            r.reason = QStringLiteral("File exists");
            return r;
        }
        return platform::systemRenameNoReplace(real.isEmpty() ? from : real, to);
    });
}

CaseBlindFileSystem::~CaseBlindFileSystem()
{
    platform::setFileIdHandler({});
    platform::setRenameHandler({});
}

InjectedCalls::InjectedCalls(const std::function<void(platform::SystemCalls &)> &change)
{
    platform::SystemCalls calls = platform::realSystemCalls();
    change(calls);
    platform::setSystemCalls(calls);
}

InjectedCalls::~InjectedCalls()
{
    platform::resetSystemCalls();
}

QByteArray journalVersion1(const QList<JournalMove> &moves)
{
    QJsonArray list;
    for (const JournalMove &m : moves) {
        QJsonObject o;
        o[QStringLiteral("from")] = m.from;
        o[QStringLiteral("to")] = m.to;
        o[QStringLiteral("temps")] = QJsonArray::fromStringList(m.temps);
        o[QStringLiteral("device")] = QString::number(m.id.device);
        o[QStringLiteral("inode")] = QString::number(m.id.inode);
        list.append(o);
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("version"), 1}, {QStringLiteral("moves"), list}})
        .toJson();
}

QStringList journalsIn(const QString &dir)
{
    return QDir(dir).entryList({QStringLiteral("rename-*.json")}, QDir::Files | QDir::System | QDir::Hidden);
}

QString setAsideOf(const QString &journal)
{
    const QFileInfo info(journal);
    const QStringList found = info.dir().entryList({info.fileName() + QStringLiteral(".*")},
                                                   QDir::AllEntries | QDir::System | QDir::Hidden);
    return found.size() == 1 ? info.dir().filePath(found[0]) : QString();
}

WorkingDirectory::WorkingDirectory() : saved(QDir::currentPath()) {}

WorkingDirectory::~WorkingDirectory()
{
    QDir::setCurrent(saved);
}

Umask::Umask(mode_t mask) : saved(::umask(mask)) {}

Umask::~Umask()
{
    ::umask(saved);
}

} // namespace testing
