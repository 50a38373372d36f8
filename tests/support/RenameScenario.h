#pragma once

#include "core/platform/Rename.h"
#include "core/platform/SystemCalls.h"
#include "core/renaming/RenamePlan.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>

#include <sys/types.h>

// Directories of pictures that are renamed, and the faults a renaming meets:
// failing renames, file systems that ignore letter case or lack calls, crashes.
namespace testing {

using Snapshot = QMap<QString, QByteArray>; // file name -> content

// The files of dir (hidden ones included) with their content.
Snapshot snapshot(const QString &dir);

// Writes each named file into dir with "content of <name>".
void writeFiles(const QString &dir, const QStringList &names);

// Every file below dir (hidden ones included), by relative path, with content.
QMap<QString, QByteArray> treeSnapshot(const QString &dir);

// Whether a snapshot holds a file under a temporary name of the renaming.
bool hasTemporary(const Snapshot &s);

// A file name without its four-character extension.
QString base(const QString &name);

// Name edits of listed files: file name -> typed new name.
using Edits = QList<QPair<QString, QString>>;

// Plans the edits of files in dir, each labelled by its place in the list,
// with the companions the directory holds for each picture.
renaming::Plan planFor(const QString &dir, const Edits &edits);

// A temporary picture directory holding files written by writeFiles, and what
// it held then.
struct PictureDir {
    explicit PictureDir(const QStringList &files = {});
    Snapshot now() const { return snapshot(d); }
    renaming::Plan plan(const Edits &edits) const { return planFor(d, edits); }

    QTemporaryDir dir;
    const QString d = dir.path() + QLatin1Char('/'); // with its trailing separator
    Snapshot before;
};

// Runs the plan in a child process that is killed right after its k-th rename,
// as a crash or a kill would leave it.
void runAndKillAfter(const renaming::Plan &plan, int k);

// Makes the k-th rename (counted from 1) fail while it lives, and optionally
// also the m-th.
struct FailingRename {
    explicit FailingRename(int k, int m = -1);
    ~FailingRename();
    int calls = 0;
};

// Imitates a file system that ignores letter case (as on memory cards and other
// systems) on top of a real directory: a name finds the entry that equals it
// regardless of case, and a rename onto any such entry, even the file's own, is
// refused as taken.
struct CaseBlindFileSystem {
    CaseBlindFileSystem();
    ~CaseBlindFileSystem();
    static QString entry(const QString &path);
};

// Replaces some system calls while it lives.
struct InjectedCalls {
    explicit InjectedCalls(const std::function<void(platform::SystemCalls &)> &change);
    ~InjectedCalls();
};

// A journal as an older build wrote it (format 1: full paths as text).
struct JournalMove {
    QString from;
    QString to;
    QStringList temps;
    platform::FileId id;
};
QByteArray journalVersion1(const QList<JournalMove> &moves);

// The journals in dir.
QStringList journalsIn(const QString &dir);

// Where a journal was set aside: the one other entry beside it whose name
// begins with the journal's name and a dot.
QString setAsideOf(const QString &journal);

// Restores the working directory when it ends.
struct WorkingDirectory {
    WorkingDirectory();
    ~WorkingDirectory();
    QString saved;
};

// Sets the file-mode mask while it lives.
struct Umask {
    explicit Umask(mode_t mask);
    ~Umask();
    mode_t saved;
};

} // namespace testing
