#pragma once

#include <functional>
#include <sys/stat.h>
#include <sys/types.h>

// The file-system calls behind renaming and the journal's durable writes, as one
// set that tests can replace: the machines the suite runs on have no file system
// without the no-replace flag or without hard links, and no full disk on demand,
// yet each of those paths decides whether a picture survives.
namespace platform {

// Each member behaves as the system call of its name: the same result, errno set
// on failure.
struct SystemCalls {
    // renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE)
    std::function<int(const char *from, const char *to)> renameNoReplace;
    std::function<int(const char *existing, const char *created)> link;
    std::function<int(const char *path)> unlink;
    std::function<int(const char *from, const char *to)> rename;
    std::function<int(const char *path, struct stat *st)> lstat;
    std::function<ssize_t(int fd, const void *data, size_t size)> write;
    std::function<int(int fd)> fsync;
    // setpriority(PRIO_PROCESS, tid, niceness): one thread's scheduling weight
    std::function<int(pid_t tid, int niceness)> setThreadNiceness;
};

// The system's own calls.
SystemCalls realSystemCalls();

// The calls in force.
const SystemCalls &systemCalls();

// Tests start from realSystemCalls(), replace some members and install the set;
// resetSystemCalls() puts the system's own back.
void setSystemCalls(SystemCalls calls);
void resetSystemCalls();

} // namespace platform
