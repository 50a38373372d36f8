#pragma once

#include <QString>
#include <functional>
#include <optional>

// Renaming a file without ever replacing another one, and telling files apart by
// their identity on disk rather than by their name.
namespace platform {

enum class RenameStatus {
    Renamed,       // the file now has the new name
    TargetExists,  // a file of the new name exists; nothing was touched
    SourceMissing, // the file to rename does not exist (any more)
    Failed,        // refused for another reason (permission, full disk, ...)
};

struct RenameResult {
    RenameStatus status = RenameStatus::Failed;
    int error = 0;  // errno of the failing call, 0 on success
    QString reason; // the system's reason, empty on success
    bool ok() const { return status == RenameStatus::Renamed; }
};

// Renames from to to; an existing file named to is never replaced, also not one
// that another program creates at the same moment (where the file system allows
// the atomic call). Goes through the installed handler when there is one.
//
// The system's call tries renameat2 with RENAME_NOREPLACE; where the file system
// lacks that flag, a hard link and the removal of the old name; where it lacks
// hard links too, a look for the new name and then a plain rename. Its calls go
// through platform/SystemCalls.h, so tests reach each of these paths.
RenameResult renameNoReplace(const QString &from, const QString &to);

// The system's call itself, whatever handler is installed (for handlers that
// wrap it).
RenameResult systemRenameNoReplace(const QString &from, const QString &to);

// Replaces every renameNoReplace by handler (tests make a chosen rename fail
// with it); an empty handler restores the system's call.
using RenameHandler = std::function<RenameResult(const QString &from, const QString &to)>;
void setRenameHandler(RenameHandler handler);

// A file's identity: stays the same while it is renamed within its file system.
struct FileId {
    quint64 device = 0;
    quint64 inode = 0;
    bool operator==(const FileId &o) const { return device == o.device && inode == o.inode; }
    bool operator!=(const FileId &o) const { return !(*this == o); }
};

// The identity of the entry at path (a symbolic link itself, not its target);
// nothing when there is no such entry.
std::optional<FileId> fileId(const QString &path);

// The system's look-up itself, and a replacement for it (tests imitate a file
// system that ignores letter case with it); an empty handler restores it.
std::optional<FileId> systemFileId(const QString &path);
using FileIdHandler = std::function<std::optional<FileId>(const QString &path)>;
void setFileIdHandler(FileIdHandler handler);

} // namespace platform
