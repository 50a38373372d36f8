// The settings reader and writer on arbitrary files, names and values and file
// modes, under umask 000: no crash; a refused write leaves the file as it was; a
// file others may write is always refused; a done write reads back, keeps every
// other line of the file and its mode, and a new file is 0600.
#include "core/settings/Ini.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>

#include <cstdio>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
[[noreturn]] void fail(const char *why)
{
    std::fprintf(stderr, "ini_fuzz: %s\n", why);
    std::abort();
}

int modeOf(const QString &path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

QString scratchFile()
{
    // The modes the writer gives must not depend on the umask it runs under.
    ::umask(0);
    const QString base =
        QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    const QString dir = base + QStringLiteral("/namora-ini-fuzz-") + QString::number(getpid());
    QDir().mkpath(dir);
    return dir + QStringLiteral("/n.ini");
}

QString text(FuzzedDataProvider &fdp, size_t max)
{
    const std::string s = fdp.ConsumeRandomLengthString(max);
    if (fdp.ConsumeBool())
        return QString::fromUtf8(s.data(), qsizetype(s.size()));
    // Raw UTF-16 code units, lone surrogates included.
    return QString(reinterpret_cast<const QChar *>(s.data()), qsizetype(s.size() / 2));
}

// True when old, less at most one line, is a subsequence of now.
bool keepsLines(const QList<QByteArray> &old, const QList<QByteArray> &now)
{
    for (qsizetype skip = -1; skip < old.size(); ++skip) {
        qsizetype j = 0;
        bool ok = true;
        for (qsizetype i = 0; i < old.size() && ok; ++i) {
            if (i == skip)
                continue;
            while (j < now.size() && now.at(j) != old.at(i))
                ++j;
            ok = j < now.size();
            ++j;
        }
        if (ok)
            return true;
    }
    return false;
}

QList<QByteArray> lines(const QByteArray &data)
{
    QList<QByteArray> r = data.split('\n');
    if (!r.isEmpty() && r.last().isEmpty())
        r.removeLast();
    return r;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString path = scratchFile();
    static const QString sections[] = {QStringLiteral("Einstellungen"), QStringLiteral("einstellungen"),
                                       QStringLiteral("X")};
    static const QString keys[] = {QStringLiteral("Verzeichnis"), QStringLiteral("VOLLBILD"),
                                   QStringLiteral("RechtsAnf")};
    FuzzedDataProvider fdp(data, size);
    const QString section = fdp.ConsumeBool() ? sections[fdp.ConsumeIntegralInRange(0, 2)] : text(fdp, 16);
    const QString key = fdp.ConsumeBool() ? keys[fdp.ConsumeIntegralInRange(0, 2)] : text(fdp, 16);
    const QString value = text(fdp, 64);
    const bool create = fdp.ConsumeBool();
    const bool exists = fdp.ConsumeBool();
    static const int modes[] = {0600, 0644, 0640, 0400, 0664, 0666, 0602, 0620};
    const int mode = modes[fdp.ConsumeIntegralInRange(0, 7)];
    const std::string rest = fdp.ConsumeRemainingBytesAsString();
    const QByteArray before(rest.data(), qsizetype(rest.size()));

    QFile::remove(path);
    if (exists) {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(before) != before.size())
            fail("cannot write the scratch file");
        f.close();
        if (::chmod(QFile::encodeName(path).constData(), mode_t(mode)) != 0)
            fail("cannot set the scratch file's mode");
    }
    const QString dflt = QStringLiteral("<default>");
    ini::IniRead(section, key, path, dflt);
    const ini::WriteResult r = ini::IniWrite(section, key, value, path, create);

    QByteArray after;
    {
        QFile f(path);
        if (f.open(QIODevice::ReadOnly))
            after = f.readAll();
        else if (exists || r.ok())
            fail("the file went missing");
    }
    if (r.status == ini::WriteStatus::NotCreated) {
        if (exists || create || QFile::exists(path))
            fail("NotCreated for an existing file or with create");
        return 0;
    }
    const bool othersMayWrite = exists && (mode & 022) != 0;
    if (othersMayWrite && (r.ok() || modeOf(path) != mode))
        fail("a file others may write was written or given another mode");
    if (!r.ok()) {
        if (r.reason.isEmpty() || (exists && after != before))
            fail("a refusal must say why and leave the file alone");
        return 0;
    }
    if (modeOf(path) != (exists ? mode : 0600))
        fail("a written file must keep its mode, a new one must be 0600");
    const QString expected = value.trimmed().isEmpty() ? dflt : value.trimmed();
    if (qEnvironmentVariableIsSet("INI_FUZZ_DEBUG"))
        std::fprintf(stderr, "section [%s] key [%s] value [%s] read [%s]\nbefore %s\nafter %s\n",
                     qPrintable(section), qPrintable(key), qPrintable(value),
                     qPrintable(ini::IniRead(section, key, path, dflt)), before.toHex(' ').constData(),
                     after.toHex(' ').constData());
    if (ini::IniRead(section, key, path, dflt) != expected)
        fail("what was written does not read back");
    if (exists && !keepsLines(lines(before), lines(after)))
        fail("a line other than the key's was lost or changed");
    return 0;
}
