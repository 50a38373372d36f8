#include "platform/Rename.h"

#include "platform/FileNames.h"
#include "platform/SystemError.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

namespace {

RenameHandler &handlerSlot()
{
    static RenameHandler h;
    return h;
}

RenameResult fromErrno(int error)
{
    RenameResult r;
    r.error = error;
    r.reason = errorText(error);
    switch (error) {
    case EEXIST:
    case ENOTEMPTY:
        r.status = RenameStatus::TargetExists;
        break;
    case ENOENT:
        r.status = RenameStatus::SourceMissing;
        break;
    default:
        r.status = RenameStatus::Failed;
        break;
    }
    return r;
}

RenameResult renamed()
{
    RenameResult r;
    r.status = RenameStatus::Renamed;
    return r;
}

int callRenameat2(const char *from, const char *to)
{
#if defined(SYS_renameat2)
    // Called through syscall() so the build does not depend on the C library
    // offering the wrapper (it came late to glibc).
    return int(::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, 1u /* RENAME_NOREPLACE */));
#else
    (void)from;
    (void)to;
    errno = ENOSYS;
    return -1;
#endif
}

bool entryExists(const char *path)
{
    struct stat st;
    return ::lstat(path, &st) == 0;
}

} // namespace

RenameResult systemRenameNoReplace(const QString &from, const QString &to)
{
    // The listing's own codec: a name that is not valid UTF-8 reaches its own
    // file, where QFile::encodeName would reach a file named with U+FFFD.
    const QByteArray f = platform::encodeName(from);
    const QByteArray t = platform::encodeName(to);
    if (f.isEmpty() || t.isEmpty())
        return fromErrno(ENOENT);

    if (callRenameat2(f.constData(), t.constData()) == 0)
        return renamed();
    const int first = errno;
    // EINVAL: the file system does not know the no-replace flag (some network
    // and FUSE file systems); ENOSYS: a kernel older than the call.
    if (first != EINVAL && first != ENOSYS)
        return fromErrno(first);

    // A hard link to the new name fails atomically when that name exists, so it
    // keeps the promise; the old name is removed only once the new one stands.
    if (::link(f.constData(), t.constData()) == 0) {
        if (::unlink(f.constData()) == 0)
            return renamed();
        const int unlinkError = errno;
        ::unlink(t.constData());
        return fromErrno(unlinkError);
    }
    const int linkError = errno;
    if (linkError == EEXIST || linkError == ENOENT)
        return fromErrno(linkError);

    // File systems without hard links (FAT, some network shares): look first,
    // then rename. Another program could create the name in between; that small
    // window is the price of such a file system.
    if (!entryExists(f.constData()))
        return fromErrno(ENOENT);
    if (entryExists(t.constData()))
        return fromErrno(EEXIST);
    if (std::rename(f.constData(), t.constData()) == 0)
        return renamed();
    return fromErrno(errno);
}

RenameResult renameNoReplace(const QString &from, const QString &to)
{
    if (handlerSlot())
        return handlerSlot()(from, to);
    return systemRenameNoReplace(from, to);
}

void setRenameHandler(RenameHandler handler)
{
    handlerSlot() = std::move(handler);
}

namespace {
FileIdHandler &fileIdSlot()
{
    static FileIdHandler h;
    return h;
}
} // namespace

void setFileIdHandler(FileIdHandler handler)
{
    fileIdSlot() = std::move(handler);
}

std::optional<FileId> fileId(const QString &path)
{
    if (fileIdSlot())
        return fileIdSlot()(path);
    return systemFileId(path);
}

std::optional<FileId> systemFileId(const QString &path)
{
    const QByteArray p = platform::encodeName(path);
    struct stat st;
    if (p.isEmpty() || ::lstat(p.constData(), &st) != 0)
        return std::nullopt;
    return FileId{quint64(st.st_dev), quint64(st.st_ino)};
}

} // namespace platform
