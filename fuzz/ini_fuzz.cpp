// The settings reader and writer on arbitrary files, names and values: no crash;
// a refused write leaves the file as it was; a done write reads back and keeps
// every other line of the file.
#include "app/Ini.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>

#include <cstdio>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

namespace {
[[noreturn]] void fail(const char *why)
{
    std::fprintf(stderr, "ini_fuzz: %s\n", why);
    std::abort();
}

QString scratchFile()
{
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
    const std::string rest = fdp.ConsumeRemainingBytesAsString();
    const QByteArray before(rest.data(), qsizetype(rest.size()));

    QFile::remove(path);
    if (exists) {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(before) != before.size())
            fail("cannot write the scratch file");
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
    if (!r.ok()) {
        if (r.reason.isEmpty() || (exists && after != before))
            fail("a refusal must say why and leave the file alone");
        return 0;
    }
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
