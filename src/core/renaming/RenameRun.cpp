#include "core/renaming/RenameRun.h"

#include "core/pictures/Companions.h"
#include "core/platform/FileNames.h"
#include "core/platform/PrivateFiles.h"
#include "core/platform/SystemCalls.h"
#include "core/platform/SystemError.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QMap>
#include <QStandardPaths>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>
#include <optional>

namespace renaming {

namespace {

QString &journalDirSlot()
{
    static QString dir;
    return dir;
}

const QString JournalPrefix = QStringLiteral("rename-");
const QString JournalSuffix = QStringLiteral(".json");
const QString LockSuffix = QStringLiteral(".lock");
// A full page takes a few KiB, a shift of 10,000 files about 2 MB.
constexpr qint64 MaxJournalBytes = 64 * 1024 * 1024;
// More moves than the pictures of any directory this program is made to list
// at once (100,000): a journal naming more is not one of ours, and following
// it would cost many seconds and hundreds of megabytes at the start.
constexpr qsizetype MaxJournalMoves = 100000;
// A recovery message names this many files; the rest are counted.

// ---- the journal's format ----
//
// Version 2 holds the picture directory once and every name as the base64 of its
// bytes on disk: JSON text cannot carry bytes that are not UTF-8 (it would store
// U+FFFD), and recovery must reach exactly the names the renaming gave. Version 1
// (full paths as text) is still read, as an older build may have left one.

} // namespace

QString quoted(const QString &s)
{
    return QStringLiteral("„") + s + QStringLiteral("“");
}

QString cappedLines(const QStringList &lines)
{
    // A few dozen names are read; beyond them a count says the rest.
    constexpr int Named = 30;
    QString text;
    for (int i = 0; i < lines.size() && i < Named; ++i)
        text += lines.at(i) + QLatin1Char('\n');
    if (lines.size() > Named)
        text += QStringLiteral("… und %1 weitere\n").arg(lines.size() - Named);
    return text;
}

QString storedName(const QString &name)
{
    return QString::fromLatin1(platform::encodeName(name).toBase64());
}

std::optional<QString> nameFromStored(const QJsonValue &v)
{
    if (!v.isString())
        return std::nullopt;
    const QByteArray::FromBase64Result bytes =
        QByteArray::fromBase64Encoding(v.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!bytes)
        return std::nullopt;
    return platform::decodeName(*bytes);
}

namespace {

QByteArray journalBytes(const QList<Move> &moves)
{
    const auto name = [](const QString &path) { return storedName(platform::fileNameOf(path)); };
    QJsonArray list;
    for (const Move &m : moves) {
        QJsonObject o;
        o[QStringLiteral("from")] = name(m.from);
        o[QStringLiteral("to")] = name(m.to);
        QJsonArray temps;
        for (const QString &t : m.temps)
            temps.append(name(t));
        o[QStringLiteral("temps")] = temps;
        // As text: a JSON number would lose the high bits of a 64-bit value.
        o[QStringLiteral("device")] = QString::number(m.id.device);
        o[QStringLiteral("inode")] = QString::number(m.id.inode);
        list.append(o);
    }
    QJsonObject root;
    root[QStringLiteral("version")] = 2;
    root[QStringLiteral("created")] = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    root[QStringLiteral("directory")] =
        storedName(moves.isEmpty() ? QString() : platform::directoryOf(moves.first().from));
    root[QStringLiteral("moves")] = list;
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

std::optional<QList<Move>> parseJournal(const QByteArray &bytes)
{
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonObject root = doc.object();
    const int version = root.value(QStringLiteral("version")).toInt();
    if ((version != 1 && version != 2) || !root.value(QStringLiteral("moves")).isArray())
        return std::nullopt;
    const std::optional<QString> dir = version == 2 ? nameFromStored(root.value(QStringLiteral("directory")))
                                                    : std::optional<QString>(QString());
    if (!dir)
        return std::nullopt;
    const auto path = [version, &dir](const QJsonValue &v) -> std::optional<QString> {
        if (version == 1)
            return v.isString() ? std::optional<QString>(v.toString()) : std::nullopt;
        const std::optional<QString> name = nameFromStored(v);
        return name ? std::optional<QString>(*dir + *name) : std::nullopt;
    };

    QList<Move> moves;
    for (const QJsonValue &v : root.value(QStringLiteral("moves")).toArray()) {
        const QJsonObject o = v.toObject();
        const std::optional<QString> from = path(o.value(QStringLiteral("from")));
        const std::optional<QString> to = path(o.value(QStringLiteral("to")));
        if (!from || !to || !o.value(QStringLiteral("temps")).isArray())
            return std::nullopt;
        Move m;
        m.from = *from;
        m.to = *to;
        for (const QJsonValue &t : o.value(QStringLiteral("temps")).toArray()) {
            const std::optional<QString> temp = path(t);
            if (!temp)
                return std::nullopt;
            m.temps << *temp;
        }
        bool okDevice = false, okInode = false;
        m.id.device = o.value(QStringLiteral("device")).toString().toULongLong(&okDevice);
        m.id.inode = o.value(QStringLiteral("inode")).toString().toULongLong(&okInode);
        if (!okDevice || !okInode)
            return std::nullopt;
        moves << m;
    }
    return moves;
}

// ---- what a journal may ask for ----

// A name the listing shows and a renaming gives: visible, ending in ".jpg" or
// ".jpeg", or a companion's extension (the RAW file or sidecar renamed with it).
bool isPictureName(const QString &name)
{
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) && !name.startsWith(QLatin1Char('.')) &&
           (name.endsWith(QLatin1String(".jpg"), Qt::CaseInsensitive) ||
            name.endsWith(QLatin1String(".jpeg"), Qt::CaseInsensitive) ||
            pages::hasCompanionExtension(name)) &&
           platform::encodeName(name).size() <= MaxFileNameBytes;
}

// Why the moves may not be followed at a later start, worded to follow "denn";
// empty when they may. Recovery renames a file to any name its journal gives, so
// a journal may name only what this program's own renaming can have named: files
// of one absolute directory, pictures under names the program gives, and
// temporary names of the program's own form.
QString movesFault(const QList<Move> &moves)
{
    if (moves.isEmpty())
        return QStringLiteral("es nennt keine Datei");
    const QString outside = QStringLiteral("es nennt Dateien außerhalb eines einzigen Bildverzeichnisses");
    const QString dir = platform::directoryOf(moves.first().from);
    if (!dir.startsWith(QLatin1Char('/')) || platform::absoluteDirectory(dir) != dir)
        return outside;
    for (const Move &m : moves) {
        QStringList paths{m.from, m.to};
        paths << m.temps;
        for (const QString &p : paths)
            if (platform::directoryOf(p) != dir)
                return outside;
        for (const QString &p : {m.from, m.to}) {
            const QString name = platform::fileNameOf(p);
            if (!isPictureName(name) || (p == m.to && checkFileName(name) != Problem::None))
                return QStringLiteral("es nennt %1, einen Namen, den dieses Programm keinem Bild gibt")
                    .arg(quoted(name));
        }
        for (const QString &t : m.temps)
            if (!isTemporaryName(platform::fileNameOf(t)))
                return QStringLiteral("es nennt %1 als vorläufigen Namen, doch solche Namen vergibt dieses "
                                      "Programm nicht")
                    .arg(quoted(platform::fileNameOf(t)));
    }
    return QString();
}

} // namespace

QString privateDirectoryReason(const platform::PrivateCheck &check)
{
    switch (check.privacy) {
    case platform::Privacy::Private:
        return QString();
    case platform::Privacy::WritableByOthers:
        return QStringLiteral("auch andere Benutzer dürfen in dieses Verzeichnis schreiben");
    case platform::Privacy::OtherOwner:
        return QStringLiteral("es gehört einem anderen Benutzer");
    case platform::Privacy::WrongType:
    case platform::Privacy::Link:
        return QStringLiteral("es ist kein Verzeichnis");
    case platform::Privacy::Missing:
        return platform::errorText(ENOENT);
    case platform::Privacy::TooLarge:
    case platform::Privacy::Failed:
        break;
    }
    return platform::errorText(check.error);
}

namespace {

// A journal and its lock for the length of one run.
class Journal {
public:
    // Writes the journal of moves and reads it back as a later start would read
    // it; the reason for the user when that fails, empty when the journal stands.
    QString open(const QList<Move> &moves)
    {
        const QString dir = journalDirectory();
        const platform::PrivateCheck place = platform::makePrivateDirectory(dir);
        if (!place.ok())
            return QStringLiteral("Das Verzeichnis für das Protokoll, %1, wird nicht benutzt: %2.")
                .arg(quoted(dir), privateDirectoryReason(place));
        static int counter = 0;
        const QString base =
            platform::joinPath(dir, JournalPrefix + QStringLiteral("%1-%2-%3")
                                                        .arg(QCoreApplication::applicationPid())
                                                        .arg(QDateTime::currentMSecsSinceEpoch())
                                                        .arg(++counter));
        platform::FileLock lock = platform::FileLock::create(base + LockSuffix);
        if (lock.state() != platform::FileLock::State::Held)
            return QStringLiteral("Die Sperrdatei %1 kann nicht angelegt werden: %2.")
                .arg(quoted(base + LockSuffix), platform::errorText(lock.error()));

        const QString path = base + JournalSuffix;
        if (const int error = platform::writePrivateFile(path, journalBytes(moves))) {
            lock.remove();
            return QStringLiteral("Das Protokoll %1 kann nicht geschrieben werden: %2.")
                .arg(quoted(path), platform::errorText(error));
        }
        const platform::PrivateRead back = platform::readPrivateFile(path, MaxJournalBytes);
        const std::optional<QList<Move>> read = back.check.ok() ? parseJournal(back.bytes) : std::nullopt;
        if (!read || *read != moves) {
            platform::removeFile(path);
            lock.remove();
            return QStringLiteral("Das Protokoll %1 enthält nach dem Schreiben nicht, was geschrieben wurde.")
                .arg(quoted(path));
        }
        m_path = path;
        m_lock.emplace(std::move(lock));
        return QString();
    }

    void close(bool keep)
    {
        if (!keep && !m_path.isEmpty())
            platform::removeFile(m_path);
        m_path.clear();
        if (m_lock)
            m_lock->remove();
        m_lock.reset();
    }

private:
    QString m_path;
    std::optional<platform::FileLock> m_lock;
};

// Why a plan cannot be written as a journal that a later start would follow;
// empty when it can.
QString planFault(const Plan &plan)
{
    QString fault = movesFault(plan.moves);
    const QString dir = plan.moves.isEmpty() ? QString() : platform::directoryOf(plan.moves.first().from);
    for (const Step &s : plan.steps)
        if (fault.isEmpty() && (platform::directoryOf(s.from) != dir || platform::directoryOf(s.to) != dir))
            fault = QStringLiteral("es nennt Dateien außerhalb eines einzigen Bildverzeichnisses");
    if (fault.isEmpty())
        return QString();
    return QStringLiteral("Das Protokoll würde beim nächsten Start nicht befolgt, denn %1.").arg(fault);
}

// Where the file of move m is now: one of its names holding its identity.
QString locate(const Move &m)
{
    QStringList names;
    names << m.from << m.temps << m.to;
    for (const QString &n : names) {
        const std::optional<platform::FileId> id = platform::fileId(n);
        if (id && *id == m.id)
            return n;
    }
    return QString();
}

} // namespace

void setJournalDirectory(const QString &dir)
{
    journalDirSlot() = dir;
}

QString journalDirectory()
{
    if (!journalDirSlot().isEmpty())
        return journalDirSlot();
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

RunResult runPlan(const Plan &plan, bool writeJournal)
{
    RunResult result;
    for (const Request &r : plan.requests)
        result.current << r.from;
    if (!plan.ok())
        return result;
    if (plan.steps.isEmpty()) {
        result.status = RunStatus::Done;
        return result;
    }

    Journal journal;
    if (writeJournal) {
        result.journalError = planFault(plan);
        if (result.journalError.isEmpty())
            result.journalError = journal.open(plan.moves);
        if (!result.journalError.isEmpty())
            return result;
    }

    qsizetype k = 0;
    for (; k < plan.steps.size(); ++k) {
        const Step &s = plan.steps.at(k);
        const platform::RenameResult r = platform::renameNoReplace(s.from, s.to);
        if (!r.ok()) {
            result.failed = s;
            result.failure = r;
            break;
        }
        result.current[s.request] = s.to;
    }
    if (k == plan.steps.size()) {
        result.status = RunStatus::Done;
        journal.close(false);
        return result;
    }

    // Undo in reverse order, so each old name is free again when it is needed.
    bool complete = true;
    for (qsizetype j = k - 1; j >= 0; --j) {
        const Step &s = plan.steps.at(j);
        if (result.current.at(s.request) != s.to) {
            complete = false;
            continue;
        }
        if (platform::renameNoReplace(s.to, s.from).ok())
            result.current[s.request] = s.from;
        else
            complete = false;
    }
    if (!complete) {
        // A file left under a temporary name would vanish from the list: give it
        // its old or else its new name.
        QHash<QString, const Move *> moveFrom;
        for (const Move &m : plan.moves)
            moveFrom.insert(m.from, &m);
        for (qsizetype r = 0; r < result.current.size(); ++r) {
            const Move *m = moveFrom.value(plan.requests.at(r).from);
            if (!m || !m->temps.contains(result.current.at(r)))
                continue;
            for (const QString &target : {m->from, m->to}) {
                if (platform::renameNoReplace(result.current.at(r), target).ok()) {
                    result.current[r] = target;
                    break;
                }
            }
            if (m->temps.contains(result.current.at(r)))
                result.journalKept = true;
        }
    }
    result.status = complete ? RunStatus::RolledBack : RunStatus::Incomplete;
    journal.close(result.journalKept);
    return result;
}

QString failureMessage(const Plan &plan, const RunResult &result)
{
    switch (result.status) {
    case RunStatus::Done:
        return QString();
    case RunStatus::NotStarted:
        if (!plan.ok())
            return refusalMessage(plan);
        return QStringLiteral("Die Namen wurden nicht gespeichert, keine Datei wurde umbenannt: "
                              "das Protokoll für das Umbenennen kann nicht geschrieben werden.\n\n%1")
            .arg(result.journalError);
    case RunStatus::RolledBack:
    case RunStatus::Incomplete:
        break;
    }

    const Request &req = plan.requests.at(result.failed.request);
    // Temporary names mean nothing to the user: name the file and its new name.
    const bool toTemp = platform::fileNameOf(result.failed.to).startsWith(temporaryPrefix());
    const bool fromTemp = platform::fileNameOf(result.failed.from).startsWith(temporaryPrefix());
    QString text =
        QStringLiteral("%1 konnte nicht in %2 umbenannt werden:\n%3\n\n")
            .arg(quoted(platform::fileNameOf(fromTemp ? req.from : result.failed.from)),
                 quoted(platform::fileNameOf(toTemp ? req.to : result.failed.to)), result.failure.reason);
    if (!req.label.isEmpty())
        text.prepend(req.label + QStringLiteral(": "));
    if (result.status == RunStatus::RolledBack) {
        text += QStringLiteral("Alle Dateien haben wieder ihren alten Namen.");
        return text;
    }
    text += QStringLiteral("Nicht alle Dateien konnten zurückbenannt werden:\n");
    for (qsizetype r = 0; r < plan.requests.size(); ++r) {
        const Request &q = plan.requests.at(r);
        if (result.current.at(r) != q.from)
            text += QStringLiteral("%1 heißt jetzt %2\n")
                        .arg(quoted(platform::fileNameOf(q.from)),
                             quoted(platform::fileNameOf(result.current.at(r))));
    }
    return text;
}

namespace {

// ---- recovery at start ----

// A journal or lock file found at start, by its path without the suffix.
struct Found {
    QString base;
    bool journal = false; // else a lock alone
};

QList<Found> findJournals(const QString &dir)
{
    QMap<QString, bool> bases; // sorted, so journals are recovered in the order they were written
    const QByteArray d = platform::encodeName(dir);
    DIR *listing = d.isEmpty() ? nullptr : ::opendir(d.constData());
    if (!listing)
        return {};
    while (const dirent *e = ::readdir(listing)) {
        const QString name = platform::decodeName(QByteArray(e->d_name));
        if (!name.startsWith(JournalPrefix))
            continue;
        for (const QString &suffix : {JournalSuffix, LockSuffix}) {
            if (!name.endsWith(suffix))
                continue;
            const QString base = platform::joinPath(dir, name.chopped(suffix.size()));
            bases[base] = bases.value(base) || suffix == JournalSuffix;
        }
    }
    ::closedir(listing);
    QList<Found> found;
    for (auto it = bases.cbegin(); it != bases.cend(); ++it)
        found << Found{it.key(), it.value()};
    return found;
}

// A lock is made under a temporary name and renamed into place, holding its
// flock all the while; a start killed in between leaves the temporary file.
// One that nobody holds locked and that is ours is such a leftover.
void removeStaleLockTemps(const QString &dir)
{
    const QByteArray d = platform::encodeName(dir);
    DIR *listing = d.isEmpty() ? nullptr : ::opendir(d.constData());
    if (!listing)
        return;
    const QByteArray suffix = platform::encodeName(LockSuffix) + ".new";
    const QByteArray prefix = platform::encodeName(JournalPrefix);
    QList<QByteArray> stale;
    while (const dirent *e = ::readdir(listing)) {
        const QByteArray name(e->d_name);
        if (!name.startsWith(prefix) || !name.endsWith(suffix))
            continue;
        const QByteArray path = d + (d.endsWith('/') ? "" : "/") + name;
        const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat st;
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            stale << path;
        ::close(fd);
    }
    ::closedir(listing);
    for (const QByteArray &path : std::as_const(stale))
        platform::systemCalls().unlink(path.constData());
}

// What a journal found at start is, once read and checked.
struct Reading {
    enum Verdict {
        Usable,     // ours, whole, and it names only what our renaming names
        Vanished,   // gone since the listing (another start took care of it)
        Unreadable, // the system refused to read it; tried again at the next start
        Damaged,    // empty, cut short or not a journal
        Untrusted,  // not ours, or it asks for what our renaming never does
    };
    Verdict verdict = Damaged;
    QString why; // worded to follow "denn"
    QList<Move> moves;
};

Reading readJournal(const QString &path, const platform::PrivateCheck &place)
{
    if (!place.ok())
        return {Reading::Untrusted,
                QStringLiteral("sein Verzeichnis ist nicht sicher: %1").arg(privateDirectoryReason(place)),
                {}};
    const platform::PrivateRead file = platform::readPrivateFile(path, MaxJournalBytes);
    switch (file.check.privacy) {
    case platform::Privacy::Private:
        break;
    case platform::Privacy::Missing:
        return {Reading::Vanished, QString(), {}};
    case platform::Privacy::Link:
        return {Reading::Untrusted,
                QStringLiteral("es ist ein symbolischer Verweis, keine gewöhnliche Datei"),
                {}};
    case platform::Privacy::WrongType:
        return {Reading::Untrusted, QStringLiteral("es ist keine gewöhnliche Datei"), {}};
    case platform::Privacy::OtherOwner:
        return {Reading::Untrusted, QStringLiteral("es gehört einem anderen Benutzer"), {}};
    case platform::Privacy::WritableByOthers:
        return {Reading::Untrusted, QStringLiteral("auch andere Benutzer dürfen es ändern"), {}};
    case platform::Privacy::TooLarge:
        return {Reading::Damaged, QStringLiteral("es ist zu groß"), {}};
    case platform::Privacy::Failed:
        return {Reading::Unreadable, platform::errorText(file.check.error), {}};
    }
    if (file.bytes.isEmpty())
        return {Reading::Damaged, QStringLiteral("es ist leer"), {}};
    // Counted before anything is parsed: every move names its "from" once.
    if (file.bytes.count("\"from\"") > MaxJournalMoves)
        return {Reading::Damaged,
                QStringLiteral("es nennt mehr als %1 Dateien")
                    .arg(QLocale(QLocale::German).toString(MaxJournalMoves)),
                {}};
    const std::optional<QList<Move>> moves = parseJournal(file.bytes);
    if (!moves)
        return {Reading::Damaged, QStringLiteral("es ist beschädigt oder unvollständig"), {}};
    if (const QString fault = movesFault(*moves); !fault.isEmpty())
        return {Reading::Untrusted, fault, {}};
    return {Reading::Usable, QString(), *moves};
}

// Renames a journal that is not followed out of the way, so it is not read at
// every start again; never deletes it (it may be needed to understand what
// happened). The name it now has, or empty when it could not be moved.
} // namespace

QString setAside(const QString &path, const QString &suffix)
{
    for (int n = 1; n <= 100; ++n) {
        const QString target = path + suffix + (n == 1 ? QString() : QStringLiteral("-%1").arg(n));
        const platform::RenameResult r = platform::systemRenameNoReplace(path, target);
        if (r.ok())
            return target;
        if (r.status != platform::RenameStatus::TargetExists)
            return QString();
    }
    return QString();
}

namespace {

// The requests that put every file found back under its old name; what cannot
// be put back (its old name is taken now, for one) is left out and reported.
// moveOf gives each request's move.
Plan planPutBack(const QList<Move> &moves, const QStringList &where, Recovery &rec, QList<int> *moveOf)
{
    QList<Request> requests;
    for (qsizetype i = 0; i < moves.size(); ++i) {
        if (where.at(i).isEmpty()) {
            rec.problems << QStringLiteral("%1: die Datei wurde unter keinem ihrer Namen gefunden")
                                .arg(quoted(platform::fileNameOf(moves.at(i).from)));
        } else if (where.at(i) != moves.at(i).from) {
            requests << Request{where.at(i), moves.at(i).from,
                                quoted(platform::fileNameOf(moves.at(i).from))};
            *moveOf << int(i);
        }
    }
    Plan plan = planRenames(requests);
    while (!plan.ok()) {
        QList<Request> rest;
        QList<int> restMoves;
        QList<bool> refused(requests.size(), false);
        for (const Refusal &r : plan.refusals) {
            refused[r.request] = true;
            rec.problems << QStringLiteral("%1 (jetzt %2): %3")
                                .arg(requests.at(r.request).label,
                                     quoted(platform::fileNameOf(requests.at(r.request).from)),
                                     problemText(r.problem, platform::fileNameOf(requests.at(r.request).to)));
        }
        for (qsizetype i = 0; i < requests.size(); ++i) {
            if (!refused.at(i)) {
                rest << requests.at(i);
                restMoves << moveOf->at(i);
            }
        }
        requests = rest;
        *moveOf = restMoves;
        plan = planRenames(requests);
    }
    return plan;
}

// A file still under a temporary name would vanish from the list: it gets its
// old or else its new name. Where the file is now; parked tells that one stays
// under a temporary name.
QString unpark(const Move &m, Recovery &rec, bool *parked)
{
    QString now = locate(m);
    if (now.isEmpty() || !m.temps.contains(now))
        return now;
    for (const QString &target : {m.from, m.to}) {
        if (platform::renameNoReplace(now, target).ok())
            return target;
    }
    *parked = true;
    rec.problems << QStringLiteral("%1 liegt noch unter dem vorläufigen Namen %2")
                        .arg(quoted(platform::fileNameOf(m.from)), quoted(platform::fileNameOf(now)));
    return now;
}

// Puts the files of a usable journal back under their old names, or finds that
// the renaming had finished. The journal goes once no file is left under a
// temporary name.
void putBack(QList<Move> moves, const QString &journal, Recovery &rec)
{
    QStringList where;
    bool allAtNewName = true;
    for (const Move &m : moves) {
        where << locate(m);
        allAtNewName = allAtNewName && where.last() == m.to;
    }
    if (allAtNewName) {
        rec.completed = true;
        platform::removeFile(journal);
        return;
    }

    QList<int> moveOf;
    const Plan plan = planPutBack(moves, where, rec, &moveOf);
    // The recovery's own temporary names go into the journal first, so a crash
    // during the recovery is recovered in turn.
    for (const Step &s : plan.steps) {
        Move &m = moves[moveOf.at(s.request)];
        if (isTemporaryName(platform::fileNameOf(s.to)) && !m.temps.contains(s.to))
            m.temps << s.to;
    }
    if (const int error = platform::writePrivateFile(journal, journalBytes(moves))) {
        rec.problems << QStringLiteral("Das Protokoll kann nicht geschrieben werden: %1")
                            .arg(platform::errorText(error));
        return;
    }
    const RunResult run = runPlan(plan, false);
    if (!run.ok())
        rec.problems << failureMessage(plan, run).trimmed();

    bool parked = false;
    bool missing = false;
    for (qsizetype i = 0; i < moves.size(); ++i) {
        const QString now = unpark(moves.at(i), rec, &parked);
        missing = missing || where.at(i).isEmpty();
        // Counted are the files that had left their old name and have it again.
        if (!where.at(i).isEmpty() && where.at(i) != moves.at(i).from && now == moves.at(i).from)
            ++rec.restored;
    }
    if (parked)
        return;
    // A journal whose files were not all found is the only record of where
    // they should be: kept aside, never deleted.
    if (missing)
        rec.setAsideAs = setAside(journal, QStringLiteral(".unresolved"));
    else
        platform::removeFile(journal);
}

// Reads, checks and carries out one journal whose lock this start holds;
// nothing when the journal went away meanwhile.
std::optional<Recovery> recoverJournal(const QString &path, const platform::PrivateCheck &place)
{
    Recovery rec;
    rec.journal = path;
    const Reading reading = readJournal(path, place);
    switch (reading.verdict) {
    case Reading::Vanished:
        return std::nullopt;
    case Reading::Unreadable:
        rec.problems << QStringLiteral(
                            "Das Protokoll %1 kann nicht gelesen werden: %2; es wird beim nächsten "
                            "Start wieder versucht.")
                            .arg(quoted(path), reading.why);
        return rec;
    case Reading::Damaged:
    case Reading::Untrusted: {
        const bool damaged = reading.verdict == Reading::Damaged;
        rec.setAsideAs =
            setAside(path, damaged ? QStringLiteral(".unreadable") : QStringLiteral(".untrusted"));
        const QString what = damaged ? QStringLiteral("Das Protokoll %1 ist unlesbar, denn %2")
                                     : QStringLiteral("Das Protokoll %1 wurde nicht befolgt, denn %2");
        const QString where =
            rec.setAsideAs.isEmpty()
                ? QStringLiteral(
                      "; es konnte nicht beiseitegelegt werden und wird beim nächsten Start wieder "
                      "geprüft.")
                : QStringLiteral("; es wurde als %1 aufbewahrt.").arg(quoted(rec.setAsideAs));
        rec.problems << what.arg(quoted(path), reading.why) + where +
                            (damaged ? QString() : QStringLiteral(" Keine Datei wurde danach umbenannt."));
        return rec;
    }
    case Reading::Usable:
        break;
    }

    rec.directory = platform::directoryOf(reading.moves.first().from);
    if (!platform::isDirectory(rec.directory)) {
        // A memory card or network share that is not there now: the journal
        // waits for the next start instead of forgetting the files.
        rec.problems << QStringLiteral("Das Verzeichnis ist nicht erreichbar; das Umbenennen wird beim "
                                       "nächsten Start rückgängig gemacht.");
        return rec;
    }
    putBack(reading.moves, path, rec);
    return rec;
}

} // namespace

QList<Recovery> recoverJournals()
{
    const QString dir = journalDirectory();
    const platform::PrivateCheck place = platform::checkPrivateDirectory(dir);
    if (place.privacy == platform::Privacy::Missing)
        return {};
    if (place.ok())
        removeStaleLockTemps(dir);
    QList<Recovery> done;
    for (const Found &found : findJournals(dir)) {
        const QString journal = found.base + JournalSuffix;
        platform::FileLock lock = platform::FileLock::claim(found.base + LockSuffix);
        if (lock.state() == platform::FileLock::State::Busy)
            continue; // a program that is still running holds it
        if (lock.state() == platform::FileLock::State::Failed) {
            if (found.journal) {
                Recovery rec;
                rec.journal = journal;
                rec.problems << QStringLiteral(
                                    "Die Sperrdatei %1 kann nicht benutzt werden: %2; das Protokoll "
                                    "wird beim nächsten Start wieder versucht.")
                                    .arg(quoted(found.base + LockSuffix), platform::errorText(lock.error()));
                done << rec;
            }
            continue;
        }
        // What a write cut short by the crash may have left.
        platform::removeFile(journal + QStringLiteral(".new"));
        if (!found.journal) {
            // A lock alone: the program ended before its journal stood, so it
            // renamed nothing.
            lock.remove();
            continue;
        }
        if (const std::optional<Recovery> rec = recoverJournal(journal, place))
            done << *rec;
        if (!platform::pathExists(journal, platform::Links::NotFollowed))
            lock.remove();
    }
    return done;
}

QString recoveryMessage(const QList<Recovery> &recoveries)
{
    QString text = QStringLiteral("Das letzte Umbenennen wurde unterbrochen (das Programm wurde beendet, "
                                  "bevor es fertig war).\n");
    for (const Recovery &r : recoveries) {
        text += QLatin1Char('\n');
        if (r.completed) {
            text += QStringLiteral("In %1 war das Umbenennen schon vollständig; es wurde nichts geändert.\n")
                        .arg(r.directory);
            continue;
        }
        if (r.directory.isEmpty()) {
            for (const QString &p : r.problems)
                text += p + QLatin1Char('\n');
            continue;
        }
        if (r.restored > 0 || r.problems.isEmpty())
            text += QStringLiteral("In %1 wurde das Umbenennen rückgängig gemacht: %2 Datei(en) haben "
                                   "wieder ihren alten Namen.\n")
                        .arg(r.directory, QString::number(r.restored));
        else
            text += QStringLiteral("In %1:\n").arg(r.directory);
        if (!r.problems.isEmpty()) {
            text += QStringLiteral("Nicht wiederhergestellt:\n");
            text += cappedLines(r.problems);
            if (!r.setAsideAs.isEmpty())
                text += QStringLiteral("Das Protokoll wurde als %1 aufbewahrt.\n").arg(quoted(r.setAsideAs));
        }
    }
    return text;
}

} // namespace renaming
