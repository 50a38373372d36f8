#pragma once

#include "core/pictures/ThumbnailCache.h"
#include "core/renaming/RenamePlan.h"
#include "core/renaming/RenameRun.h"

#include <QList>
#include <QString>
#include <QStringList>

// The way back after a save: each successful save of a directory is one batch
// of renames, kept newest last in a history of that directory in the per-user
// data directory, so that it can be undone, batch by batch, also after a
// restart.
//
// The history is kept under the journal's rules: written atomically, 0600 in a
// 0700 directory, followed only when it is the user's own and names the one
// directory it is asked for; one that cannot be read as such is set aside
// (renamed, never deleted) and the user told. It is bounded: the newest
// MaxUndoBatches batches and at most MaxUndoRenames renames in all.
namespace renaming {

// One file a save renamed, within one directory.
struct UndoRename {
    QString from;        // its file name before the save
    QString to;          // its file name after it
    thumbs::FileKey key; // the file under `to` just after the save: device, inode, size, time
    int group = -1;      // a companion: the index (in its batch) of its picture's rename
    bool operator==(const UndoRename &o) const
    {
        return from == o.from && to == o.to && key == o.key && group == o.group;
    }
};
using UndoBatch = QList<UndoRename>;

constexpr int MaxUndoBatches = 20;
constexpr int MaxUndoRenames = 100000;

class UndoHistory {
public:
    // Reads the history of dir (absolute, ending in a separator). A history
    // that cannot be followed is set aside; problem() then says so once.
    void load(const QString &dir);
    const QString &directory() const { return m_dir; }

    const QList<UndoBatch> &batches() const { return m_batches; } // oldest first
    bool canUndo() const { return !m_batches.isEmpty(); }
    // The renames of the batch an undo would take back.
    int newestSize() const { return m_batches.isEmpty() ? 0 : int(m_batches.last().size()); }

    // Adds a batch (newest), drops the oldest beyond the bounds and writes the
    // history. Empty, or why the history could not be written (German).
    QString record(const UndoBatch &batch);
    // Drops the newest batch and writes the history.
    QString dropNewest();

    // Said once after load when the history file was set aside (German).
    QString takeProblem();

    // Where the history of dir is kept.
    static QString pathFor(const QString &dir);

private:
    QString write();

    QString m_dir;
    QList<UndoBatch> m_batches;
    QString m_problem;
};

// The batch a run of plan leaves to take back: each file that changed its name,
// with the identity it has under its new one.
UndoBatch undoBatchOf(const Plan &plan, const RunResult &run);

// An undo of one batch: the renames that can be taken back, as a plan, and the
// ones that cannot. A file that is gone, that was renamed again or replaced by
// another file of that name (told by its identity), or whose old name another
// file holds now, is skipped and named, and a picture's companions stay with
// it; the rest are taken back together.
struct UndoPlan {
    Plan plan;
    QStringList skipped; // one line per skipped file, for the user
};
UndoPlan planUndo(const QString &dir, const UndoBatch &batch);

// What the user is told after an undo ran (or could not run).
QString undoMessage(const UndoPlan &undo, bool done, const QString &failure);

} // namespace renaming
