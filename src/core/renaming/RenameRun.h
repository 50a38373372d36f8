#pragma once

#include "core/platform/PrivateFiles.h"
#include "core/renaming/RenamePlan.h"

#include <QJsonValue>
#include <optional>

#include <QList>
#include <QString>
#include <QStringList>

// Carrying out a rename plan: all or nothing, and recoverable after a crash.
//
// Before the first rename the plan's moves (old name, temporary names, new name
// and the identity of each file, every name as its bytes on disk, in one
// absolute directory) are written atomically to a journal in the per-user data
// directory and read back; a journal that cannot be written or does not read
// back as written refuses the renaming. A lock file that this process holds
// (flock) guards it. The journal is removed once the plan has run or been rolled
// back. A journal whose lock no process holds was left by a crash; at the next
// start every file is found by its identity under one of its names and put back
// under its old name, so the directory is exactly as the user last saw it. A
// journal whose files all carry their new names already (the crash came after
// the last rename) is simply removed: that renaming was complete.
//
// Recovery renames files by what a journal says, so a journal is followed only
// when it is the user's own: a regular file (never a link) that the user owns
// and no one else may write, in a directory of the same kind (created 0700,
// files 0600), naming only files of one picture directory under names this
// program gives. Any other journal is set aside (renamed, never deleted) with a
// message, and nothing is renamed by it.
namespace renaming {

// A name in German quotation marks, as messages name files.
QString quoted(const QString &s);
// One line each, the first 30, then "… und N weitere".
QString cappedLines(const QStringList &lines);

// A file name as journals and the undo history store it: the base64 of its
// bytes on disk, so a name that is not UTF-8 comes back unchanged; and back
// (none for anything else).
QString storedName(const QString &name);
std::optional<QString> nameFromStored(const QJsonValue &v);

// Why a directory for journals (or the undo history) is not used; empty when
// the check passed.
QString privateDirectoryReason(const platform::PrivateCheck &check);

// Renames the file at path aside, to path + suffix (then "-2", "-3"...), never
// replacing anything; the new path, or empty when that failed.
QString setAside(const QString &path, const QString &suffix);

// Where journals are kept; an empty directory means the per-user data directory.
// Tests point it at a temporary directory.
void setJournalDirectory(const QString &dir);
QString journalDirectory();

enum class RunStatus {
    Done,       // every rename of the plan succeeded
    RolledBack, // a rename failed; every file has its old name again
    Incomplete, // a rename failed and putting some file back failed too
    NotStarted, // nothing was renamed (refused plan, or the journal could not be written)
};

struct RunResult {
    RunStatus status = RunStatus::NotStarted;
    Step failed;                    // the rename that failed (RolledBack, Incomplete)
    platform::RenameResult failure; // and the system's reason
    QString journalError;           // NotStarted: why the journal could not be written (German)
    QStringList current;            // per request: the path its file has now
    bool journalKept = false;       // a file is still under a temporary name
    bool ok() const { return status == RunStatus::Done; }
};

// Runs the plan. With writeJournal false no journal is written (the recovery
// keeps its own).
RunResult runPlan(const Plan &plan, bool writeJournal = true);

// The message for a run that did not succeed: which file, which name, the
// system's reason, and what state the files are in now.
QString failureMessage(const Plan &plan, const RunResult &result);

// What the recovery of one journal did.
struct Recovery {
    QString journal;        // the journal's path
    QString directory;      // the directory of its files
    bool completed = false; // the renaming had finished; nothing was changed
    int restored = 0;       // files that had left their old name and were put back under it
    QString setAsideAs;     // a journal that was not followed: where it was put
    QStringList problems;   // one line per file that could not be put back
};

// Recovers every journal whose process is no longer running. A lock without a
// journal whose process is gone is removed without a word: that renaming had
// not started.
QList<Recovery> recoverJournals();

// The message telling the user what the recovery did.
QString recoveryMessage(const QList<Recovery> &recoveries);

} // namespace renaming
