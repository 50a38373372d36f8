#include "support/RawFiles.h"

#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace testing {

namespace {
// Reads fd to its end and closes it; false when a read fails.
bool readToEnd(int fd, QByteArray &content)
{
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        content.append(buffer, n);
    ::close(fd);
    return n == 0;
}

int openForReading(const QByteArray &path)
{
    return ::open(path.constData(), O_RDONLY | O_CLOEXEC);
}
} // namespace

bool writeRaw(const QByteArray &path, const QByteArray &content, mode_t mode)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, content.constData(), size_t(content.size())) == content.size();
    const bool exactMode = ::fchmod(fd, mode) == 0;
    return ::close(fd) == 0 && written && exactMode;
}

QByteArray readRaw(const QByteArray &path)
{
    const int fd = openForReading(path);
    if (fd < 0)
        return "<missing>";
    QByteArray content;
    return readToEnd(fd, content) ? content : QByteArray("<cannot read>");
}

QMap<QByteArray, QByteArray> rawSnapshot(const QByteArray &dir)
{
    QMap<QByteArray, QByteArray> s;
    DIR *d = ::opendir(dir.constData());
    if (!d)
        return s;
    while (const dirent *e = ::readdir(d)) {
        const QByteArray name(e->d_name);
        if (name == "." || name == "..")
            continue;
        QByteArray content;
        const int fd = openForReading(dir + '/' + name);
        if (fd >= 0 && !readToEnd(fd, content))
            content.clear();
        s.insert(name, content);
    }
    ::closedir(d);
    return s;
}

int modeOf(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

} // namespace testing
