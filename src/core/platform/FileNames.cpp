#include "core/platform/FileNames.h"

#include "core/platform/SystemCalls.h"

#include <QFile>
#include <QList>
#include <QStringList>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

QString decodeName(const QByteArray &name)
{
    const auto *p = reinterpret_cast<const unsigned char *>(name.constData());
    const qsizetype n = name.size();
    qsizetype i = 0;
    while (i < n && p[i] < 0x80)
        ++i;
    if (i == n)
        return QString::fromLatin1(name);

    QString out = QString::fromLatin1(name.constData(), i);
    out.reserve(n);
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            out += QChar(char16_t(c));
            ++i;
            continue;
        }
        int len = 0;
        char32_t cp = 0;
        char32_t least = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2, cp = c & 0x1F, least = 0x80;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3, cp = c & 0x0F, least = 0x800;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4, cp = c & 0x07, least = 0x10000;
        }
        bool valid = len > 0 && i + len <= n;
        for (int k = 1; valid && k < len; ++k) {
            const unsigned char cc = p[i + k];
            if ((cc & 0xC0) != 0x80)
                valid = false;
            else
                cp = (cp << 6) | (cc & 0x3F);
        }
        // Overlong forms, surrogates and values beyond U+10FFFF are not UTF-8.
        if (valid && (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)))
            valid = false;
        if (!valid) {
            out += QChar(char16_t(0xDC00 + c));
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            out += QChar(QChar::highSurrogate(cp));
            out += QChar(QChar::lowSurrogate(cp));
        } else {
            out += QChar(char16_t(cp));
        }
        i += len;
    }
    return out;
}

QByteArray encodeName(const QString &name)
{
    QByteArray out;
    out.reserve(name.size());
    const qsizetype n = name.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = name.at(i).unicode();
        char32_t cp = c;
        if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(name.at(i + 1).unicode())) {
            cp = QChar::surrogateToUcs4(c, name.at(i + 1).unicode());
            ++i;
        } else if (isByteEscape(QChar(c))) {
            out += char(c - 0xDC00);
            continue;
        } else if (QChar::isSurrogate(c)) {
            cp = 0xFFFD; // a lone surrogate that no decoded name holds
        }
        appendUtf8(out, cp);
    }
    return out;
}

bool needsRawEncoding(const QString &name)
{
    const qsizetype n = name.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = name.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(name.at(i + 1).unicode()))
            ++i;
        else if (isByteEscape(QChar(c)))
            return true;
    }
    return false;
}

QString currentDirectory()
{
    // getcwd rather than QDir::currentPath, which decodes a name that is not
    // UTF-8 into U+FFFD and so names another directory.
    QByteArray buffer(4096, '\0');
    for (int round = 0; round < 6; ++round) {
        if (::getcwd(buffer.data(), size_t(buffer.size())))
            return joinPath(decodeName(QByteArray(buffer.constData())), QString());
        if (errno != ERANGE)
            return QString();
        buffer.resize(buffer.size() * 2);
    }
    return QString();
}

QString absoluteDirectory(const QString &given)
{
    if (given.isEmpty())
        return QString();
    QString path = given;
    if (!path.startsWith(QLatin1Char('/'))) {
        const QString cwd = currentDirectory();
        if (cwd.isEmpty())
            return QString();
        path = cwd + path;
    }
    QList<QStringView> parts;
    for (const QStringView part : QStringView(path).split(QLatin1Char('/'))) {
        if (part.isEmpty() || part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            if (!parts.isEmpty())
                parts.removeLast();
            continue;
        }
        parts << part;
    }
    QString out = QStringLiteral("/");
    for (const QStringView part : parts) {
        out += part;
        out += QLatin1Char('/');
    }
    return out;
}

QString joinPath(const QString &directory, const QString &fileName)
{
    if (directory.isEmpty() || directory.endsWith(QLatin1Char('/')))
        return directory + fileName;
    return directory + QLatin1Char('/') + fileName;
}

QString fileNameOf(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString directoryOf(const QString &path)
{
    return path.left(path.lastIndexOf(QLatin1Char('/')) + 1);
}

bool isDirectory(const QString &path)
{
    struct stat st;
    const QByteArray p = encodeName(path);
    return !p.isEmpty() && ::stat(p.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool pathExists(const QString &path, Links links)
{
    struct stat st;
    const QByteArray p = encodeName(path);
    if (p.isEmpty())
        return false;
    return (links == Links::Followed ? ::stat(p.constData(), &st) : ::lstat(p.constData(), &st)) == 0;
}

void removeFile(const QString &path)
{
    const QByteArray p = encodeName(path);
    if (!p.isEmpty())
        systemCalls().unlink(p.constData());
}

bool holdsVisibleFile(const QString &directory)
{
    const QByteArray path = encodeName(directory);
    DIR *d = path.isEmpty() ? nullptr : ::opendir(path.constData());
    if (!d)
        return false;
    bool found = false;
    while (const dirent *e = ::readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        struct stat st;
        if (::fstatat(::dirfd(d), e->d_name, &st, 0) == 0 && !S_ISDIR(st.st_mode)) {
            found = true;
            break;
        }
    }
    ::closedir(d);
    return found;
}

QString fromQtPath(const QString &qtPath)
{
    const QChar replacement(0xFFFD);
    if (!qtPath.contains(replacement))
        return qtPath;
    const QStringList parts = qtPath.split(QLatin1Char('/'));
    QString out;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        QString part = parts.at(i);
        if (part.contains(replacement) && !out.isEmpty()) {
            QString match;
            int matches = 0;
            const QByteArray parent = encodeName(out);
            if (DIR *d = ::opendir(parent.constData())) {
                while (const dirent *e = ::readdir(d)) {
                    const QByteArray name(e->d_name);
                    if (QFile::decodeName(name) == part) {
                        match = decodeName(name);
                        ++matches;
                    }
                }
                ::closedir(d);
            }
            if (matches == 1)
                part = match;
        }
        out += part;
        if (i + 1 < parts.size())
            out += QLatin1Char('/');
    }
    return out;
}

QString toQtPath(const QString &path)
{
    return QFile::decodeName(encodeName(path));
}

QByteArray readSmallFile(const QString &path, qint64 limit, int &error)
{
    error = 0;
    // Only a regular file is opened: opening a FIFO would wait for a writer.
    struct stat st;
    const QByteArray encoded = encodeName(path);
    if (encoded.isEmpty() || ::stat(encoded.constData(), &st) != 0) {
        error = encoded.isEmpty() ? ENOENT : errno;
        return QByteArray();
    }
    if (!S_ISREG(st.st_mode)) {
        error = EINVAL;
        return QByteArray();
    }
    const int fd = openForReading(path);
    if (fd < 0) {
        error = errno;
        return QByteArray();
    }
    QByteArray data;
    char buffer[4096];
    while (data.size() <= limit) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = errno;
            break;
        }
        if (n == 0)
            break;
        data.append(buffer, n);
    }
    ::close(fd);
    return data;
}

int openForReading(const QString &path)
{
    const QByteArray p = encodeName(path);
    if (p.isEmpty()) {
        errno = ENOENT;
        return -1;
    }
    // Without O_NONBLOCK a FIFO put under a picture's name would hold the
    // opening thread until someone writes to it; only a regular file is read.
    const int fd = ::open(p.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        errno = error;
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

} // namespace platform
