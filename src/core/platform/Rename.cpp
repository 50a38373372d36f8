#include "core/platform/Rename.h"

#include "core/platform/FileNames.h"
#include "core/platform/SystemCalls.h"
#include "core/platform/SystemError.h"

#include <cerrno>
#include <sys/stat.h>

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

bool entryExists(const char *path)
{
    struct stat st;
    return systemCalls().lstat(path, &st) == 0;
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

    const SystemCalls &sys = systemCalls();
    if (sys.renameNoReplace(f.constData(), t.constData()) == 0)
        return renamed();
    const int first = errno;
    // EINVAL: the file system does not know the no-replace flag (some network
    // and FUSE file systems); ENOSYS: a kernel older than the call.
    if (first != EINVAL && first != ENOSYS)
        return fromErrno(first);

    // A hard link to the new name fails atomically when that name exists, so it
    // keeps the promise; the old name is removed only once the new one stands.
    if (sys.link(f.constData(), t.constData()) == 0) {
        if (sys.unlink(f.constData()) == 0)
            return renamed();
        const int unlinkError = errno;
        sys.unlink(t.constData());
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
    if (sys.rename(f.constData(), t.constData()) == 0)
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
