#pragma once

#include <QByteArray>
#include <QString>

// Files that the program trusts at a later start (the renaming journal and its
// lock) and that therefore only the user may change: a directory of mode 0700,
// files of mode 0600, whatever the umask; read without following a link, and
// only when the user owns them and no one else may write them.
namespace platform {

enum class Privacy {
    Private,          // the user's own, and no one else may write it
    Missing,          // there is no such entry
    Link,             // a symbolic link (never followed)
    WrongType,        // not a regular file, or not a directory where one is expected
    OtherOwner,       // another user owns it
    WritableByOthers, // its group or everyone may write it
    TooLarge,         // larger than the caller accepts
    Failed,           // the system refused: see error
};

struct PrivateCheck {
    Privacy privacy = Privacy::Failed;
    int error = 0; // errno, for Failed
    bool ok() const { return privacy == Privacy::Private; }
};

// Creates dir and its missing parents with mode 0700, then checks dir, new or
// old: it must be the user's own and writable by no one else. A directory of
// the user's that others may write is made 0700 first.
PrivateCheck makePrivateDirectory(const QString &dir);

// Checks an existing directory the same way.
PrivateCheck checkPrivateDirectory(const QString &dir);

// Replaces the file at path by bytes, all or nothing: a temporary file beside it,
// created exclusively with mode 0600, is written completely, synced and closed,
// then renamed over path, and the directory is synced. Returns 0, or the errno of
// the step that failed; nothing of the attempt is left behind then.
int writePrivateFile(const QString &path, const QByteArray &bytes);

struct PrivateRead {
    PrivateCheck check;
    QByteArray bytes; // when check.ok()
};

// Reads path when it is a regular file of the user's that no one else may write,
// not following a link, and at most maxBytes long.
PrivateRead readPrivateFile(const QString &path, qint64 maxBytes);

// An exclusive lock (flock) on a file of mode 0600. Whether a program holds the
// lock, not what the file holds, tells whether it is in use: a process that ends
// in any way releases it, so a lock file that no process holds is stale whatever
// it contains, an empty one included, and a new process with the same id as a
// dead one is never mistaken for it.
class FileLock {
public:
    enum class State { Held, Busy, Failed };

    // A new lock at path, held before it appears under its name, so that no
    // other start ever finds it unheld.
    static FileLock create(const QString &path);

    // The lock at path (created when missing) when no running program holds it.
    static FileLock claim(const QString &path);

    FileLock(FileLock &&other) noexcept;
    FileLock &operator=(FileLock &&other) noexcept;
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;
    ~FileLock(); // releases the lock; the file stays

    State state() const { return m_state; } // as acquired
    int error() const { return m_error; }   // errno, for Failed

    // Removes the lock file, then releases the lock.
    void remove();

private:
    FileLock() = default;
    void release();

    QString m_path;
    int m_fd = -1;
    State m_state = State::Failed;
    int m_error = 0;
};

} // namespace platform
