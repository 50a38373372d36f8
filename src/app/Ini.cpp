#include "app/Ini.h"

#include "platform/FileNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryFile>

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
bool isRegularFile(const QString &file)
{
    const QFileInfo info(file);
    return info.exists() && info.isFile();
}

struct Loaded {
    bool ok = false;
    QByteArray data;
    QString reason;
};

Loaded load(const QString &file)
{
    Loaded r;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) {
        r.reason = f.errorString();
        return r;
    }
    if (f.size() > MaxFileSize) {
        r.reason = QStringLiteral("the settings file is larger than %1 bytes").arg(MaxFileSize);
        return r;
    }
    // Read one byte beyond the limit: the size may have grown since it was asked.
    r.data = f.read(MaxFileSize + 1);
    if (f.error() != QFileDevice::NoError) {
        r.reason = f.errorString();
        return r;
    }
    if (r.data.size() > MaxFileSize) {
        r.reason = QStringLiteral("the settings file is larger than %1 bytes").arg(MaxFileSize);
        return r;
    }
    if (isUtf16(r.data)) {
        r.reason = QStringLiteral("the settings file is UTF-16 text, not UTF-8");
        return r;
    }
    r.ok = true;
    return r;
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

QString IniRead(const QString &section, const QString &key, const QString &file, const QString &defaultValue)
{
    if (!isRegularFile(file))
        return defaultValue;
    const Loaded loaded = load(file);
    if (!loaded.ok)
        return defaultValue;
    const Document doc = parse(loaded.data);
    const Location loc = locate(doc, section, key);
    if (loc.keyLine < 0)
        return defaultValue;
    const QByteArray &line = doc.lines.at(loc.keyLine);
    const QString value = valueOf(line, classify(line).eq);
    if (value.isEmpty() || value.size() > MaxValueLength)
        return defaultValue;
    return value;
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

    const QFileInfo info(file);
    Document doc;
    if (info.exists() || info.isSymLink()) {
        if (!info.isFile())
            return failed(QStringLiteral("%1 is not a regular file").arg(file));
        const Loaded loaded = load(file);
        if (!loaded.ok)
            return failed(loaded.reason);
        doc = parse(loaded.data);
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

    // QSaveFile writes a temporary file beside the target and renames it over the
    // target only when everything was written and flushed: a crash leaves either
    // the old file or the new one, never a part of either.
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        return failed(out.errorString());
    const QByteArray bytes = serialise(doc);
    if (out.write(bytes) != bytes.size()) {
        const QString reason = out.errorString();
        out.cancelWriting();
        return failed(reason);
    }
    if (!out.commit())
        return failed(out.errorString());
    return {WriteStatus::Written, QString()};
}

namespace {
// Whether a file can be created in dir. Asked by trying, because access() says yes
// to root on a read-only mount point or a pseudo file system such as /proc.
bool canCreateIn(const QString &dir)
{
    if (!QFileInfo(dir).isDir())
        return false;
    QTemporaryFile probe(QDir(dir).filePath(QStringLiteral(".namora-probe-XXXXXX")));
    return probe.open();
}
} // namespace

QString settingsPath(const QString &programDir, const QString &exeName)
{
    const QString fileName = exeName + QLatin1String(".ini");
    if (canCreateIn(programDir))
        return QDir(programDir).filePath(fileName);
    const QString configDir =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QLatin1Char('/') + exeName;
    // A failure to create it shows later, as writes that report Failed.
    QDir().mkpath(configDir);
    return QDir(configDir).filePath(fileName);
}

} // namespace ini
