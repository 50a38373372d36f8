#include "core/platform/SystemCalls.h"

#include <sys/resource.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

namespace {

int renameat2NoReplace(const char *from, const char *to)
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

SystemCalls &slot()
{
    static SystemCalls calls = realSystemCalls();
    return calls;
}

} // namespace

SystemCalls realSystemCalls()
{
    SystemCalls c;
    c.renameNoReplace = renameat2NoReplace;
    c.link = [](const char *existing, const char *created) { return ::link(existing, created); };
    c.unlink = [](const char *path) { return ::unlink(path); };
    c.rename = [](const char *from, const char *to) { return std::rename(from, to); };
    c.lstat = [](const char *path, struct stat *st) { return ::lstat(path, st); };
    c.write = [](int fd, const void *data, size_t size) { return ::write(fd, data, size); };
    c.fsync = [](int fd) { return ::fsync(fd); };
    c.setThreadNiceness = [](pid_t tid, int niceness) {
        return ::setpriority(PRIO_PROCESS, id_t(tid), niceness);
    };
    return c;
}

const SystemCalls &systemCalls()
{
    return slot();
}

void setSystemCalls(SystemCalls calls)
{
    slot() = std::move(calls);
}

void resetSystemCalls()
{
    slot() = realSystemCalls();
}

} // namespace platform
