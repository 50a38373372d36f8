#include "core/platform/Process.h"

#include "core/platform/FileNames.h"

#include <QByteArray>
#include <QList>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern "C" char **environ;

namespace platform {

namespace {
StartHandler &startSlot()
{
    static StartHandler h;
    return h;
}

bool isExecutableFile(const QByteArray &path)
{
    struct stat st;
    return ::stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.constData(), X_OK) == 0;
}

// The program's path: as given when it holds a "/", else the first executable
// of that name in PATH. Looked up here, before the fork, because the child of a
// threaded process may only make async-signal-safe calls.
QByteArray resolve(const QByteArray &program)
{
    if (program.isEmpty() || program.contains('/'))
        return program;
    const char *path = std::getenv("PATH");
    const QByteArray dirs = path ? QByteArray(path) : QByteArray("/usr/local/bin:/usr/bin:/bin");
    for (const QByteArray &dir : dirs.split(':')) {
        const QByteArray candidate = (dir.isEmpty() ? QByteArray(".") : dir) + '/' + program;
        if (isExecutableFile(candidate))
            return candidate;
    }
    return QByteArray();
}

bool writeAll(int fd, const void *data, size_t size)
{
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

// QProcess cannot be used: it turns every argument into UTF-8 text, so the
// bytes of a name that is not UTF-8 would arrive as U+FFFD. A double fork
// leaves the program to init, as a detached start must; a pipe closed on exec
// tells whether the exec succeeded.
bool spawnDetached(const QByteArray &program, const QList<QByteArray> &args, int fd = -1)
{
    const QByteArray file = fd >= 0 ? program : resolve(program);
    if (file.isEmpty())
        return false;
    QList<QByteArray> storage;
    storage << program << args;
    std::vector<char *> argv;
    for (QByteArray &a : storage)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return false;
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(report[0]);
        ::close(report[1]);
        return false;
    }
    if (child == 0) {
        ::close(report[0]);
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild == 0) {
            if (fd >= 0) {
                // A script's interpreter opens it by /proc/self/fd after the
                // exec: the descriptor must survive it.
                ::fcntl(fd, F_SETFD, 0);
                ::fexecve(fd, argv.data(), environ);
            } else {
                ::execv(file.constData(), argv.data());
            }
            const int error = errno;
            writeAll(report[1], &error, sizeof error);
            ::_exit(127);
        }
        if (grandchild < 0) {
            const int error = errno;
            writeAll(report[1], &error, sizeof error);
        }
        ::_exit(0);
    }
    ::close(report[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t n;
    do {
        n = ::read(report[0], &error, sizeof error);
    } while (n < 0 && errno == EINTR);
    ::close(report[0]);
    return n == 0;
}

} // namespace

void setStartHandler(StartHandler handler)
{
    startSlot() = std::move(handler);
}

bool startDetached(const QString &program, const QStringList &args)
{
    if (startSlot())
        return startSlot()(program, args, -1);
    QList<QByteArray> bytes;
    for (const QString &a : args)
        bytes << encodeName(a);
    return spawnDetached(encodeName(program), bytes);
}

bool startDetachedFile(int fd, const QString &program, const QStringList &args)
{
    if (fd < 0)
        return false;
    if (startSlot())
        return startSlot()(program, args, fd);
    QList<QByteArray> bytes;
    for (const QString &a : args)
        bytes << encodeName(a);
    return spawnDetached(encodeName(program), bytes, fd);
}

} // namespace platform
