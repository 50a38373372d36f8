#include "names/RenameRun.h"

#include "platform/FileNames.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>

#include <memory>

namespace renaming {

namespace {

QString &journalDirSlot()
{
    static QString dir;
    return dir;
}

QString quoted(const QString &s)
{
    return QStringLiteral("„") + s + QStringLiteral("“");
}

const QString JournalPrefix = QStringLiteral("rename-");
const QString JournalSuffix = QStringLiteral(".json");
const QString LockSuffix = QStringLiteral(".lock");

QByteArray journalBytes(const QList<Move> &moves)
{
    QJsonArray list;
    for (const Move &m : moves) {
        QJsonObject o;
        o[QStringLiteral("from")] = m.from;
        o[QStringLiteral("to")] = m.to;
        o[QStringLiteral("temps")] = QJsonArray::fromStringList(m.temps);
        // As text: a JSON number would lose the high bits of a 64-bit value.
        o[QStringLiteral("device")] = QString::number(m.id.device);
        o[QStringLiteral("inode")] = QString::number(m.id.inode);
        list.append(o);
    }
    QJsonObject root;
    root[QStringLiteral("version")] = 1;
    root[QStringLiteral("created")] = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    root[QStringLiteral("moves")] = list;
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

bool writeJournalFile(const QString &path, const QList<Move> &moves, QString *error)
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        *error = f.errorString();
        return false;
    }
    const QByteArray bytes = journalBytes(moves);
    if (f.write(bytes) != bytes.size() || !f.commit()) {
        *error = f.errorString();
        f.cancelWriting();
        return false;
    }
    return true;
}

bool readJournalFile(const QString &path, QList<Move> *moves)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(f.readAll(), &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject())
        return false;
    const QJsonObject root = doc.object();
    if (root.value(QStringLiteral("version")).toInt() != 1 || !root.value(QStringLiteral("moves")).isArray())
        return false;
    for (const QJsonValue &v : root.value(QStringLiteral("moves")).toArray()) {
        const QJsonObject o = v.toObject();
        Move m;
        m.from = o.value(QStringLiteral("from")).toString();
        m.to = o.value(QStringLiteral("to")).toString();
        for (const QJsonValue &t : o.value(QStringLiteral("temps")).toArray())
            m.temps << t.toString();
        bool okDevice = false, okInode = false;
        m.id.device = o.value(QStringLiteral("device")).toString().toULongLong(&okDevice);
        m.id.inode = o.value(QStringLiteral("inode")).toString().toULongLong(&okInode);
        if (m.from.isEmpty() || m.to.isEmpty() || !okDevice || !okInode)
            return false;
        *moves << m;
    }
    return true;
}

// A journal and its lock for the length of one run.
class Journal {
public:
    bool open(const QList<Move> &moves, QString *error)
    {
        const QString dir = journalDirectory();
        if (!QDir().mkpath(dir)) {
            *error = QStringLiteral("Das Verzeichnis %1 kann nicht angelegt werden.").arg(dir);
            return false;
        }
        static int counter = 0;
        const QString base = QDir(dir).filePath(JournalPrefix + QStringLiteral("%1-%2-%3")
                                                                    .arg(QCoreApplication::applicationPid())
                                                                    .arg(QDateTime::currentMSecsSinceEpoch())
                                                                    .arg(++counter));
        m_lock = std::make_unique<QLockFile>(base + LockSuffix);
        // Only a lock of a process that is gone counts as stale, never an old one.
        m_lock->setStaleLockTime(0);
        if (!m_lock->tryLock(0)) {
            *error = QStringLiteral("Die Sperrdatei %1 kann nicht angelegt werden.").arg(base + LockSuffix);
            m_lock.reset();
            return false;
        }
        m_path = base + JournalSuffix;
        if (!writeJournalFile(m_path, moves, error)) {
            m_lock.reset();
            m_path.clear();
            return false;
        }
        return true;
    }

    void close(bool keep)
    {
        if (!keep && !m_path.isEmpty())
            QFile::remove(m_path);
        m_path.clear();
        m_lock.reset();
    }

private:
    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
};

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
    if (writeJournal && !journal.open(plan.moves, &result.journalError))
        return result;

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

QList<Recovery> recoverJournals()
{
    QList<Recovery> done;
    const QDir dir(journalDirectory());
    const QStringList journals = dir.entryList({JournalPrefix + QStringLiteral("*") + JournalSuffix},
                                               QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString &name : journals) {
        const QString path = dir.filePath(name);
        QLockFile lock(path.left(path.size() - JournalSuffix.size()) + LockSuffix);
        lock.setStaleLockTime(0);
        // A journal whose lock is held belongs to a program that is still running.
        if (!lock.tryLock(0))
            continue;

        Recovery rec;
        rec.journal = path;
        QList<Move> moves;
        if (!readJournalFile(path, &moves)) {
            // Kept under another name, so it is not read at every start again.
            const QString broken = path + QStringLiteral(".unreadable");
            QFile::remove(broken);
            QFile::rename(path, broken);
            rec.problems << QStringLiteral("Das Protokoll %1 ist unlesbar; es wurde als %2 aufbewahrt.")
                                .arg(quoted(path), quoted(broken));
            done << rec;
            continue;
        }
        if (!moves.isEmpty())
            rec.directory = platform::directoryOf(moves.first().from);
        if (!rec.directory.isEmpty() && !QDir(rec.directory).exists()) {
            // A memory card or network share that is not there now: the journal
            // waits for the next start instead of forgetting the files.
            rec.problems << QStringLiteral("Das Verzeichnis ist nicht erreichbar; das Umbenennen wird beim "
                                           "nächsten Start rückgängig gemacht.");
            done << rec;
            continue;
        }

        QStringList where;
        bool allAtNewName = true;
        for (const Move &m : moves) {
            where << locate(m);
            if (where.last() != m.to)
                allAtNewName = false;
        }
        if (allAtNewName) {
            rec.completed = true;
            QFile::remove(path);
            done << rec;
            continue;
        }

        // Put every file that is found back under its old name.
        QList<Request> requests;
        QList<int> moveOf;
        for (qsizetype i = 0; i < moves.size(); ++i) {
            if (where.at(i).isEmpty()) {
                rec.problems << QStringLiteral("%1: die Datei wurde unter keinem ihrer Namen gefunden")
                                    .arg(quoted(platform::fileNameOf(moves.at(i).from)));
            } else if (where.at(i) != moves.at(i).from) {
                requests << Request{where.at(i), moves.at(i).from,
                                    quoted(platform::fileNameOf(moves.at(i).from))};
                moveOf << int(i);
            }
        }
        Plan plan = planRenames(requests);
        while (!plan.ok()) {
            // Leave out what cannot be put back (its old name is taken now) and
            // restore the others.
            QList<Request> rest;
            QList<int> restMoves;
            QList<bool> refused(requests.size(), false);
            for (const Refusal &r : plan.refusals) {
                refused[r.request] = true;
                rec.problems << QStringLiteral("%1 (jetzt %2): %3")
                                    .arg(requests.at(r.request).label,
                                         quoted(platform::fileNameOf(requests.at(r.request).from)),
                                         problemText(r.problem,
                                                     platform::fileNameOf(requests.at(r.request).to)));
            }
            for (qsizetype i = 0; i < requests.size(); ++i) {
                if (!refused.at(i)) {
                    rest << requests.at(i);
                    restMoves << moveOf.at(i);
                }
            }
            requests = rest;
            moveOf = restMoves;
            plan = planRenames(requests);
        }

        // The recovery's own temporary names go into the journal first, so a
        // crash during the recovery is recovered in turn.
        for (const Step &s : plan.steps) {
            Move &m = moves[moveOf.at(s.request)];
            if (platform::fileNameOf(s.to).startsWith(temporaryPrefix()) && !m.temps.contains(s.to))
                m.temps << s.to;
        }
        QString error;
        if (!writeJournalFile(path, moves, &error)) {
            rec.problems << QStringLiteral("Das Protokoll kann nicht geschrieben werden: %1").arg(error);
            done << rec;
            continue;
        }
        const RunResult run = runPlan(plan, false);
        if (!run.ok())
            rec.problems << failureMessage(plan, run).trimmed();

        bool parked = false;
        rec.restored = 0;
        for (const Move &m : moves) {
            QString now = locate(m);
            if (!now.isEmpty() && m.temps.contains(now)) {
                for (const QString &target : {m.from, m.to}) {
                    if (platform::renameNoReplace(now, target).ok()) {
                        now = target;
                        break;
                    }
                }
                if (m.temps.contains(now)) {
                    parked = true;
                    rec.problems << QStringLiteral("%1 liegt noch unter dem vorläufigen Namen %2")
                                        .arg(quoted(platform::fileNameOf(m.from)),
                                             quoted(platform::fileNameOf(now)));
                }
            }
            if (now == m.from && now != m.to)
                ++rec.restored;
        }
        if (!parked)
            QFile::remove(path);
        done << rec;
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
        if (r.restored > 0 || r.problems.isEmpty())
            text += QStringLiteral("In %1 wurde das Umbenennen rückgängig gemacht: %2 Datei(en) haben "
                                   "wieder ihren alten Namen.\n")
                        .arg(r.directory, QString::number(r.restored));
        else if (!r.directory.isEmpty())
            text += QStringLiteral("In %1:\n").arg(r.directory);
        if (!r.problems.isEmpty()) {
            text += QStringLiteral("Nicht wiederhergestellt:\n");
            for (const QString &p : r.problems)
                text += p + QLatin1Char('\n');
        }
    }
    return text;
}

} // namespace renaming
