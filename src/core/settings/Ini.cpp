#include "core/settings/Ini.h"

#include "core/platform/FileNames.h"
#include "core/platform/SystemError.h"

#include <QList>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ini {
namespace {

// The file as raw lines, so that every line we do not change is written back
// byte for byte, whatever its encoding or content.
struct Document {
    QByteArray bom;
    QList<QByteArray> lines;   // without their line end
    QList<QByteArray> ends;    // "\n", "\r\n" or "" (last line without a line end)
    QByteArray newline = "\n"; // line end for lines we add
};

Document parse(const QByteArray &data)
{
    Document doc;
    qsizetype pos = 0;
    if (data.startsWith("\xEF\xBB\xBF")) {
        doc.bom = data.left(3);
        pos = 3;
    }
    bool firstEnd = true;
    while (pos < data.size()) {
        const qsizetype nl = data.indexOf('\n', pos);
        if (nl < 0) {
            doc.lines << data.mid(pos);
            doc.ends << QByteArray();
            break;
        }
        qsizetype end = nl;
        QByteArray lineEnd("\n");
        if (end > pos && data.at(end - 1) == '\r') {
            --end;
            lineEnd = "\r\n";
        }
        doc.lines << data.mid(pos, end - pos);
        doc.ends << lineEnd;
        if (firstEnd) {
            doc.newline = lineEnd;
            firstEnd = false;
        }
        pos = nl + 1;
    }
    return doc;
}

QByteArray serialise(const Document &doc)
{
    QByteArray out = doc.bom;
    for (qsizetype i = 0; i < doc.lines.size(); ++i)
        out += doc.lines.at(i) + doc.ends.at(i);
    return out;
}

enum class Kind { Other, Section, Key };

struct Parsed {
    Kind kind = Kind::Other;
    QString name;      // section or key name, trimmed
    qsizetype eq = -1; // byte index of '=' in a key line
};

Parsed classify(const QByteArray &line)
{
    Parsed p;
    const QByteArray t = line.trimmed();
    if (t.isEmpty() || t.startsWith(';') || t.startsWith('#'))
        return p;
    if (t.startsWith('[')) {
        const qsizetype close = t.indexOf(']');
        if (close > 0) {
            p.kind = Kind::Section;
            p.name = platform::decodeName(t.mid(1, close - 1)).trimmed();
        }
        return p;
    }
    const qsizetype eq = line.indexOf('=');
    if (eq < 0)
        return p;
    p.kind = Kind::Key;
    p.eq = eq;
    p.name = platform::decodeName(line.left(eq)).trimmed();
    return p;
}

bool sameName(const QString &a, const QString &b)
{
    return !a.isEmpty() && a.compare(b, Qt::CaseInsensitive) == 0;
}

struct Location {
    qsizetype keyLine = -1;     // first key line of key in any section of that name
    qsizetype sectionLine = -1; // header of the first section of that name
    qsizetype lastContent = -1; // last non-blank line of that first section
};

// One finder for reader and writer, so both agree on which of several duplicate
// lines is "the" value.
Location locate(const Document &doc, const QString &section, const QString &key)
{
    Location loc;
    bool inSection = false;
    bool inFirstSection = false;
    for (qsizetype i = 0; i < doc.lines.size(); ++i) {
        const Parsed p = classify(doc.lines.at(i));
        if (p.kind == Kind::Section) {
            inSection = sameName(p.name, section);
            inFirstSection = inSection && loc.sectionLine < 0;
            if (inFirstSection) {
                loc.sectionLine = i;
                loc.lastContent = i;
            }
            continue;
        }
        if (inFirstSection && !doc.lines.at(i).trimmed().isEmpty())
            loc.lastContent = i;
        if (inSection && p.kind == Kind::Key && loc.keyLine < 0 && sameName(p.name, key))
            loc.keyLine = i;
    }
    return loc;
}

// Values go through the file-name codec: UTF-8 for every valid text, and a
// directory whose name is not valid UTF-8 is stored as its very bytes and read
// back as the same name.
QString valueOf(const QByteArray &line, qsizetype eq)
{
    return platform::decodeName(line.mid(eq + 1)).trimmed();
}

bool isUtf16(const QByteArray &data)
{
    return data.startsWith("\xFF\xFE") || data.startsWith("\xFE\xFF");
}

// A regular file (following links), which is what the reader may open: a FIFO
// or device at the settings path would block or never end.
bool isRegularFile(const QByteArray &path)
{
    struct stat st;
    return !path.isEmpty() && ::stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode);
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

struct Loaded {
    bool ok = false;
    QByteArray data;
    QString reason;
};

QString tooLarge()
{
    return QStringLiteral("the settings file is larger than %1 bytes").arg(MaxFileSize);
}

Loaded load(const QByteArray &path)
{
    Loaded r;
    // Non-blocking, so that a FIFO put there since the type was asked cannot
    // hold the program up; fstat below refuses it.
    const FileDescriptor fd(::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0) {
        r.reason = platform::errorText(errno);
        return r;
    }
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) {
        r.reason = platform::errorText(errno);
        return r;
    }
    if (!S_ISREG(st.st_mode)) {
        r.reason = QStringLiteral("Die Einstellungsdatei ist keine gewöhnliche Datei");
        return r;
    }
    if (st.st_size > MaxFileSize) {
        r.reason = tooLarge();
        return r;
    }
    // Sized by fstat, but read up to one byte beyond the limit: the file may have
    // grown since it was asked.
    r.data.resize(qsizetype(st.st_size) + 1);
    qsizetype got = 0;
    for (;;) {
        if (got == r.data.size()) {
            if (got > MaxFileSize)
                break;
            r.data.resize(std::min<qsizetype>(got * 2, MaxFileSize + 1));
        }
        const ssize_t n = ::read(fd.get(), r.data.data() + got, size_t(r.data.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            r.reason = platform::errorText(errno);
            r.data.clear();
            return r;
        }
        if (n == 0)
            break;
        got += n;
    }
    r.data.truncate(got);
    if (r.data.size() > MaxFileSize) {
        r.reason = tooLarge();
        return r;
    }
    if (isUtf16(r.data)) {
        r.reason = QStringLiteral("the settings file is UTF-16 text, not UTF-8");
        return r;
    }
    r.ok = true;
    return r;
}

bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        done += n;
    }
    return true;
}

// Replaces the file at path (a link already resolved to its target) with bytes:
// a temporary file beside it, written, flushed and given mode, is renamed over
// it, so a crash leaves either the old file or the new one, never a part of
// either. The temporary file is created 0600 whatever the umask, so no other
// user can open it before it has its final mode.
WriteResult replaceFile(const QByteArray &path, const QByteArray &bytes, mode_t mode)
{
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray dir = slash < 0 ? QByteArray() : path.left(slash + 1);
    QByteArray temp = dir + '.' + path.mid(slash + 1) + ".XXXXXX";
    const FileDescriptor fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (fd.get() < 0)
        return {WriteStatus::Failed, platform::errorText(errno)};
    const bool written = ::fchmod(fd.get(), mode) == 0 && writeAll(fd.get(), bytes) && ::fsync(fd.get()) == 0;
    const int error = errno;
    if (!written) {
        ::unlink(temp.constData());
        return {WriteStatus::Failed, platform::errorText(error)};
    }
    if (::rename(temp.constData(), path.constData()) != 0) {
        const int renameError = errno;
        ::unlink(temp.constData());
        return {WriteStatus::Failed, platform::errorText(renameError)};
    }
    return {WriteStatus::Written, QString()};
}

bool validName(const QString &name, bool isSection)
{
    if (name.isEmpty() || name != name.trimmed())
        return false;
    if (platform::decodeName(platform::encodeName(name)) != name)
        return false; // a lone surrogate would be written as another character
    for (const QChar c : name) {
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar(0))
            return false;
        if (isSection && c == QLatin1Char(']'))
            return false;
        if (!isSection && c == QLatin1Char('='))
            return false;
    }
    if (!isSection && (name.startsWith(QLatin1Char(';')) || name.startsWith(QLatin1Char('#')) ||
                       name.startsWith(QLatin1Char('['))))
        return false;
    return true;
}

WriteResult failed(const QString &reason)
{
    return {WriteStatus::Failed, reason};
}

} // namespace

QStringList IniReadAll(const QString &section, const QStringList &keys, const QString &file)
{
    QStringList values(keys.size());
    const QByteArray path = platform::encodeName(file);
    if (!isRegularFile(path))
        return values;
    const Loaded loaded = load(path);
    if (!loaded.ok)
        return values;
    const Document doc = parse(loaded.data);
    for (qsizetype k = 0; k < keys.size(); ++k) {
        const Location loc = locate(doc, section, keys.at(k));
        if (loc.keyLine < 0)
            continue;
        const QByteArray &line = doc.lines.at(loc.keyLine);
        const QString value = valueOf(line, classify(line).eq);
        if (value.size() <= MaxValueLength)
            values[k] = value;
    }
    return values;
}

QString IniRead(const QString &section, const QString &key, const QString &file, const QString &defaultValue)
{
    const QString value = IniReadAll(section, {key}, file).constFirst();
    return value.isEmpty() ? defaultValue : value;
}

WriteResult IniWrite(const QString &section, const QString &key, const QString &value, const QString &file,
                     bool create)
{
    if (!validName(section, true))
        return failed(QStringLiteral("invalid section name"));
    if (!validName(key, false))
        return failed(QStringLiteral("invalid key name"));
    if (value.size() > MaxValueLength)
        return failed(QStringLiteral("the value is longer than %1 characters").arg(MaxValueLength));
    if (value.contains(QLatin1Char('\n')) || value.contains(QLatin1Char('\r')) || value.contains(QChar(0)))
        return failed(QStringLiteral("the value holds a line break or NUL character"));
    if (platform::decodeName(platform::encodeName(value)) != value)
        return failed(QStringLiteral("the value is not valid Unicode text"));

    const QByteArray path = platform::encodeName(file);
    if (path.isEmpty())
        return failed(platform::errorText(ENOENT));
    Document doc;
    // A new file is ours alone: it may hold the names of private directories.
    mode_t mode = S_IRUSR | S_IWUSR;
    QByteArray target = path;
    struct stat st;
    if (::stat(path.constData(), &st) == 0) {
        if (!S_ISREG(st.st_mode))
            return failed(QStringLiteral("%1 is not a regular file").arg(file));
        // What others may change cannot be trusted with what we store (they
        // could swap the remembered directory); the mode is its owner's choice,
        // so the file is neither rewritten nor given another mode.
        if (st.st_mode & (S_IWGRP | S_IWOTH))
            return failed(QStringLiteral("Die Einstellungsdatei ist für andere Benutzer beschreibbar; "
                                         "sie wird nicht verändert"));
        // A file its owner made read-only is not replaced behind that decision,
        // although the directory would allow the rename.
        if (::faccessat(AT_FDCWD, path.constData(), W_OK, AT_EACCESS) != 0)
            return failed(platform::errorText(errno));
        mode = st.st_mode & (S_IRWXU | S_IRWXG | S_IRWXO);
        // A link stays a link: its target is replaced.
        char *resolved = ::realpath(path.constData(), nullptr);
        if (!resolved)
            return failed(platform::errorText(errno));
        target = QByteArray(resolved);
        std::free(resolved);
        const Loaded loaded = load(target);
        if (!loaded.ok)
            return failed(loaded.reason);
        doc = parse(loaded.data);
    } else if (errno != ENOENT && errno != ENOTDIR) {
        return failed(platform::errorText(errno));
    } else if (struct stat link; ::lstat(path.constData(), &link) == 0) {
        return failed(QStringLiteral("%1 ist eine Verknüpfung, deren Ziel fehlt").arg(file));
    } else if (!create) {
        return {WriteStatus::NotCreated, QString()};
    } else {
#ifdef Q_OS_WIN
        doc.newline = "\r\n";
#endif
    }

    const QByteArray valueBytes = platform::encodeName(value);
    const Location loc = locate(doc, section, key);
    if (loc.keyLine >= 0) {
        // Keep the key as it is spelled in the file, and everything up to '='.
        QByteArray &line = doc.lines[loc.keyLine];
        line = line.left(classify(line).eq + 1) + valueBytes;
    } else {
        const QByteArray keyLine = platform::encodeName(key) + '=' + valueBytes;
        if (loc.sectionLine >= 0) {
            const qsizetype at = loc.lastContent + 1;
            // The line we insert after may have been the last line, without an end.
            if (doc.ends.at(at - 1).isEmpty())
                doc.ends[at - 1] = doc.newline;
            doc.lines.insert(at, keyLine);
            doc.ends.insert(at, doc.newline);
        } else {
            if (!doc.ends.isEmpty() && doc.ends.last().isEmpty())
                doc.ends.last() = doc.newline;
            doc.lines << ('[' + platform::encodeName(section) + ']') << keyLine;
            doc.ends << doc.newline << doc.newline;
        }
    }

    return replaceFile(target, serialise(doc), mode);
}

namespace {
// Whether a file can be created in dir. Asked by trying, because access() says yes
// to root on a read-only mount point or a pseudo file system such as /proc.
bool canCreateIn(const QString &dir)
{
    if (!platform::isDirectory(dir))
        return false;
    QByteArray probe = platform::encodeName(platform::joinPath(dir, QStringLiteral(".namora-probe-XXXXXX")));
    const int fd = ::mkostemp(probe.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    ::close(fd);
    ::unlink(probe.constData());
    return true;
}

// Creates dir and the directories above it that are missing, each 0700 whatever
// the umask: a configuration directory is the user's alone. Directories that
// exist keep their mode. A failure shows later, as writes that report Failed.
void makePrivateDirectory(const QString &dir)
{
    const QByteArray path = platform::encodeName(dir);
    for (qsizetype end = path.indexOf('/', 1);; end = path.indexOf('/', end + 1)) {
        const QByteArray part = end < 0 ? path : path.left(end);
        struct stat st;
        if (::stat(part.constData(), &st) == 0 && S_ISDIR(st.st_mode)) {
            // ours or not, an existing directory is left as it is
        } else if (::mkdir(part.constData(), S_IRWXU) == 0) {
            ::chmod(part.constData(), S_IRWXU);
        } else {
            return;
        }
        if (end < 0)
            return;
    }
}
} // namespace

bool installedProgram(const QString &programDir)
{
    if (platform::fileNameOf(programDir) != QLatin1String("bin"))
        return false;
    const QString entry =
        platform::joinPath(programDir, QStringLiteral("../share/applications/") + QLatin1String(DesktopId) +
                                           QLatin1String(".desktop"));
    return platform::pathExists(entry, platform::Links::Followed);
}

QString settingsPath(const QString &programDir, const QString &exeName, bool createDirectory)
{
    const QString fileName = exeName + QLatin1String(".ini");
    if (!installedProgram(programDir) && canCreateIn(programDir))
        return platform::joinPath(programDir, fileName);
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    // Without a home there is no per-user place: the file beside the program is
    // named, and writes to it report Failed.
    if (base.isEmpty())
        return platform::joinPath(programDir, fileName);
    const QString configDir = platform::joinPath(base, exeName);
    if (createDirectory)
        makePrivateDirectory(configDir);
    return platform::joinPath(configDir, fileName);
}

} // namespace ini
