#include "core/platform/PrivateFiles.h"

#include "core/platform/FileNames.h"
#include "core/platform/Rename.h"
#include "core/platform/SystemCalls.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

PrivateCheck result(Privacy privacy, int error = 0)
{
    return PrivateCheck{privacy, error};
}

PrivateCheck judge(const struct stat &st, bool directory)
{
    if (directory ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode))
        return result(Privacy::WrongType);
    if (st.st_uid != ::geteuid())
        return result(Privacy::OtherOwner);
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return result(Privacy::WritableByOthers);
    return result(Privacy::Private);
}

QByteArray withoutTrailingSlashes(QByteArray path)
{
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

// mkdir -p with mode 0700 for every directory it creates; chmod afterwards, as
// the umask may have taken bits of the mode away.
int makeDirectories(const QByteArray &path)
{
    if (path.isEmpty())
        return ENOENT;
    if (::mkdir(path.constData(), 0700) == 0)
        return ::chmod(path.constData(), 0700) == 0 ? 0 : errno;
    if (errno == EEXIST)
        return 0;
    if (errno != ENOENT)
        return errno;
    const qsizetype cut = path.lastIndexOf('/');
    if (cut <= 0)
        return ENOENT;
    if (const int error = makeDirectories(path.left(cut)))
        return error;
    if (::mkdir(path.constData(), 0700) == 0)
        return ::chmod(path.constData(), 0700) == 0 ? 0 : errno;
    return errno == EEXIST ? 0 : errno;
}

// A rename or a new file counts once its directory entry is on disk too.
int syncDirectory(const QByteArray &dir)
{
    const int fd = ::open(dir.isEmpty() ? "." : dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int synced = systemCalls().fsync(fd);
    const int error = errno;
    ::close(fd);
    // EINVAL: a file system that cannot sync a directory; it has nothing to lose.
    return synced == 0 || error == EINVAL ? 0 : error;
}

int writeAll(int fd, const QByteArray &bytes)
{
    const SystemCalls &sys = systemCalls();
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = sys.write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return EIO;
        done += n;
    }
    return 0;
}

} // namespace

PrivateCheck checkPrivateDirectory(const QString &dir)
{
    const QByteArray path = withoutTrailingSlashes(encodeName(dir));
    struct stat st;
    if (path.isEmpty())
        return result(Privacy::Missing);
    if (::stat(path.constData(), &st) != 0)
        return errno == ENOENT ? result(Privacy::Missing) : result(Privacy::Failed, errno);
    return judge(st, true);
}

PrivateCheck makePrivateDirectory(const QString &dir)
{
    const QByteArray path = withoutTrailingSlashes(encodeName(dir));
    if (const int error = makeDirectories(path))
        return result(Privacy::Failed, error);
    // A directory of the user's that others may write (made by an older build
    // under a umask of 002) is closed, not refused: the user would otherwise
    // never save again. What others put in it meanwhile is checked file by file
    // where it is read. Not followed when it is a link; another user's is refused.
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        struct stat st;
        if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
            (st.st_mode & (S_IWGRP | S_IWOTH)))
            ::fchmod(fd, 0700);
        ::close(fd);
    }
    return checkPrivateDirectory(dir);
}

int writePrivateFile(const QString &path, const QByteArray &bytes)
{
    const SystemCalls &sys = systemCalls();
    const QByteArray target = encodeName(path);
    if (target.isEmpty())
        return ENOENT;
    const QByteArray temp = target + ".new";
    // Left by a write that was cut short; only this program writes such names.
    sys.unlink(temp.constData());
    const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    int error = ::fchmod(fd, 0600) == 0 ? 0 : errno;
    if (!error)
        error = writeAll(fd, bytes);
    if (!error && sys.fsync(fd) != 0)
        error = errno;
    // A network file system may report a failed write only here. EINTR: Linux
    // has closed the descriptor anyway, and the data is synced already.
    if (::close(fd) != 0 && !error && errno != EINTR)
        error = errno;
    if (!error && sys.rename(temp.constData(), target.constData()) != 0)
        error = errno;
    if (error) {
        sys.unlink(temp.constData());
        return error;
    }
    return syncDirectory(encodeName(directoryOf(path)));
}

PrivateRead readPrivateFile(const QString &path, qint64 maxBytes)
{
    PrivateRead r;
    const QByteArray p = encodeName(path);
    // O_NONBLOCK: a FIFO planted under the name must not hang the start.
    const int fd =
        p.isEmpty() ? -1 : ::open(p.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int error = p.isEmpty() ? ENOENT : errno;
        r.check = error == ENOENT  ? result(Privacy::Missing)
                  : error == ELOOP ? result(Privacy::Link)
                                   : result(Privacy::Failed, error);
        return r;
    }
    struct stat st;
    r.check = ::fstat(fd, &st) == 0 ? judge(st, false) : result(Privacy::Failed, errno);
    if (r.check.ok() && st.st_size > maxBytes)
        r.check = result(Privacy::TooLarge);
    if (r.check.ok()) {
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                r.check = result(Privacy::Failed, errno);
                break;
            }
            if (n == 0)
                break;
            r.bytes.append(buffer, n);
            if (r.bytes.size() > maxBytes) {
                r.check = result(Privacy::TooLarge);
                break;
            }
        }
    }
    ::close(fd);
    if (!r.check.ok())
        r.bytes.clear();
    return r;
}

FileLock FileLock::create(const QString &path)
{
    FileLock lock;
    lock.m_path = path;
    const QByteArray temp = encodeName(path) + ".new";
    const int fd = ::open(temp.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        lock.m_error = errno;
        return lock;
    }
    int error = ::fchmod(fd, 0600) == 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : errno;
    if (!error) {
        const RenameResult placed = systemRenameNoReplace(decodeName(temp), path);
        error = placed.ok() ? 0 : placed.error ? placed.error : EIO;
    }
    if (error) {
        systemCalls().unlink(temp.constData());
        ::close(fd);
        lock.m_error = error;
        return lock;
    }
    lock.m_fd = fd;
    lock.m_state = State::Held;
    return lock;
}

FileLock FileLock::claim(const QString &path)
{
    FileLock lock;
    lock.m_path = path;
    const QByteArray p = encodeName(path);
    // Made here, or found: only a file this call made gets its mode set. One
    // found may be a hard link to any file of the user's under a lock's name.
    int fd = ::open(p.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    const bool made = fd >= 0;
    if (!made && errno == EEXIST)
        fd = ::open(p.constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        lock.m_error = errno;
        return lock;
    }
    struct stat st;
    const bool known = ::fstat(fd, &st) == 0;
    if (!known || !S_ISREG(st.st_mode)) {
        lock.m_error = known ? EINVAL : errno;
        ::close(fd);
        return lock;
    }
    // Under a restrictive umask the new file may lack the owner's write bit.
    if (made && (st.st_mode & 07777) != 0600)
        ::fchmod(fd, 0600);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        lock.m_state = error == EWOULDBLOCK ? State::Busy : State::Failed;
        lock.m_error = error == EWOULDBLOCK ? 0 : error;
        return lock;
    }
    // Whoever held it before may have removed it in the meantime, and another
    // start created a new one: that one is theirs.
    struct stat now;
    if (systemCalls().lstat(p.constData(), &now) != 0 || now.st_dev != st.st_dev || now.st_ino != st.st_ino) {
        ::close(fd);
        lock.m_state = State::Busy;
        return lock;
    }
    lock.m_fd = fd;
    lock.m_state = State::Held;
    return lock;
}

FileLock::FileLock(FileLock &&other) noexcept
    : m_path(std::move(other.m_path)), m_fd(other.m_fd), m_state(other.m_state), m_error(other.m_error)
{
    other.m_fd = -1;
    other.m_state = State::Failed;
}

FileLock &FileLock::operator=(FileLock &&other) noexcept
{
    if (this != &other) {
        release();
        m_path = std::move(other.m_path);
        m_fd = other.m_fd;
        m_state = other.m_state;
        m_error = other.m_error;
        other.m_fd = -1;
        other.m_state = State::Failed;
    }
    return *this;
}

FileLock::~FileLock()
{
    release();
}

void FileLock::remove()
{
    if (m_fd >= 0)
        systemCalls().unlink(encodeName(m_path).constData());
    release();
}

void FileLock::release()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

} // namespace platform
