#include "core/renaming/UndoHistory.h"

#include "core/pictures/Companions.h"
#include "core/pictures/PictureList.h"
#include "core/platform/FileNames.h"
#include "core/platform/PrivateFiles.h"
#include "core/platform/SystemError.h"
#include "core/renaming/RenameRun.h"

#include <QCryptographicHash>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

namespace renaming {

namespace {

// Far above what the bounds let a history grow to (100,000 renames of two
// 255-byte names), far below what would hurt to read.
constexpr qint64 MaxHistoryBytes = 128 * 1024 * 1024;

// Only names this program gives a picture or its companion: an undo renames a
// file to whatever its history says.
bool isOurName(const QString &name)
{
    return checkFileName(name) == Problem::None &&
           (!pages::pictureExtension(name).isEmpty() || pages::hasCompanionExtension(name));
}

QByteArray historyBytes(const QString &dir, const QList<UndoBatch> &batches)
{
    QJsonArray list;
    for (const UndoBatch &batch : batches) {
        QJsonArray renames;
        for (const UndoRename &r : batch) {
            QJsonObject o;
            o[QStringLiteral("from")] = storedName(r.from);
            o[QStringLiteral("to")] = storedName(r.to);
            // As text: a JSON number would lose the high bits of a 64-bit value.
            o[QStringLiteral("device")] = QString::number(r.key.device);
            o[QStringLiteral("inode")] = QString::number(r.key.inode);
            o[QStringLiteral("size")] = QString::number(r.key.size);
            o[QStringLiteral("mtime")] = QString::number(r.key.mtimeNs);
            if (r.group >= 0)
                o[QStringLiteral("group")] = r.group;
            renames.append(o);
        }
        list.append(renames);
    }
    QJsonObject root;
    root[QStringLiteral("version")] = 1;
    root[QStringLiteral("directory")] = storedName(dir);
    root[QStringLiteral("batches")] = list;
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

std::optional<QList<UndoBatch>> parseHistory(const QByteArray &bytes, const QString &dir)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonObject root = doc.object();
    if (root.value(QStringLiteral("version")).toInt() != 1 ||
        nameFromStored(root.value(QStringLiteral("directory"))) != dir ||
        !root.value(QStringLiteral("batches")).isArray())
        return std::nullopt;
    const QJsonArray list = root.value(QStringLiteral("batches")).toArray();
    if (list.size() > MaxUndoBatches)
        return std::nullopt;
    QList<UndoBatch> batches;
    qsizetype total = 0;
    const auto number = [](const QJsonValue &v, bool *ok) { return v.toString().toLongLong(ok); };
    for (const QJsonValue &b : list) {
        if (!b.isArray() || (total += b.toArray().size()) > MaxUndoRenames)
            return std::nullopt;
        UndoBatch batch;
        for (const QJsonValue &v : b.toArray()) {
            const QJsonObject o = v.toObject();
            const std::optional<QString> from = nameFromStored(o.value(QStringLiteral("from")));
            const std::optional<QString> to = nameFromStored(o.value(QStringLiteral("to")));
            bool ok[4] = {};
            UndoRename r;
            r.key.device = quint64(number(o.value(QStringLiteral("device")), &ok[0]));
            r.key.inode = quint64(number(o.value(QStringLiteral("inode")), &ok[1]));
            r.key.size = number(o.value(QStringLiteral("size")), &ok[2]);
            r.key.mtimeNs = number(o.value(QStringLiteral("mtime")), &ok[3]);
            r.group = o.value(QStringLiteral("group")).toInt(-1);
            if (!from || !to || !isOurName(*from) || !isOurName(*to) || !ok[0] || !ok[1] || !ok[2] ||
                !ok[3] || !r.key.valid())
                return std::nullopt;
            r.from = *from;
            r.to = *to;
            batch << r;
        }
        if (batch.isEmpty())
            return std::nullopt;
        for (const UndoRename &r : std::as_const(batch))
            if (r.group < -1 || r.group >= batch.size())
                return std::nullopt;
        batches << batch;
    }
    return batches;
}

} // namespace

QString UndoHistory::pathFor(const QString &dir)
{
    const QByteArray hash = QCryptographicHash::hash(platform::encodeName(dir), QCryptographicHash::Sha256);
    return platform::joinPath(journalDirectory(), QStringLiteral("undo-") +
                                                      QString::fromLatin1(hash.toHex().left(32)) +
                                                      QStringLiteral(".json"));
}

void UndoHistory::load(const QString &dir)
{
    m_dir = dir;
    m_batches.clear();
    m_problem.clear();
    const QString path = pathFor(dir);
    const platform::PrivateCheck place = platform::checkPrivateDirectory(journalDirectory());
    if (!place.ok())
        return; // no history kept yet, or none that may be followed: written anew
    const platform::PrivateRead read = platform::readPrivateFile(path, MaxHistoryBytes);
    if (read.check.privacy == platform::Privacy::Missing)
        return;
    std::optional<QList<UndoBatch>> batches;
    if (read.check.ok())
        batches = parseHistory(read.bytes, dir);
    if (batches) {
        m_batches = *batches;
        return;
    }
    const QString aside = setAside(path, QStringLiteral(".unbrauchbar"));
    m_problem = QStringLiteral("Der Verlauf zum Rückgängigmachen für %1 kann nicht benutzt werden (%2). "
                               "Frühere Umbenennungen dieses Verzeichnisses lassen sich nicht mehr "
                               "rückgängig machen.")
                    .arg(quoted(dir),
                         read.check.ok() ? QStringLiteral("beschädigt") : privateDirectoryReason(read.check));
    if (!aside.isEmpty())
        m_problem += QStringLiteral("\n\nDie Datei wurde als %1 beiseitegelegt.").arg(quoted(aside));
}

QString UndoHistory::takeProblem()
{
    QString p;
    std::swap(p, m_problem);
    return p;
}

QString UndoHistory::record(const UndoBatch &batch)
{
    if (batch.isEmpty())
        return QString();
    m_batches << batch;
    qsizetype total = 0;
    for (const UndoBatch &b : std::as_const(m_batches))
        total += b.size();
    while (!m_batches.isEmpty() && (m_batches.size() > MaxUndoBatches || total > MaxUndoRenames)) {
        total -= m_batches.first().size();
        m_batches.removeFirst();
    }
    return write();
}

QString UndoHistory::dropNewest()
{
    if (!m_batches.isEmpty())
        m_batches.removeLast();
    return write();
}

QString UndoHistory::write()
{
    const QString path = pathFor(m_dir);
    const platform::PrivateCheck place = platform::makePrivateDirectory(journalDirectory());
    if (!place.ok())
        return QStringLiteral("Der Verlauf zum Rückgängigmachen wird nicht gespeichert: %1.")
            .arg(privateDirectoryReason(place));
    if (m_batches.isEmpty()) {
        platform::removeFile(path);
        return QString();
    }
    if (const int error = platform::writePrivateFile(path, historyBytes(m_dir, m_batches)))
        return QStringLiteral("Der Verlauf zum Rückgängigmachen kann nicht gespeichert werden: %1.")
            .arg(platform::errorText(error));
    return QString();
}

UndoBatch undoBatchOf(const Plan &plan, const RunResult &run)
{
    UndoBatch batch;
    QHash<int, int> at; // request -> its place in the batch
    for (int i = 0; i < plan.requests.size() && i < run.current.size(); ++i) {
        const Request &r = plan.requests.at(i);
        if (r.from == run.current.at(i))
            continue;
        at.insert(i, int(batch.size()));
        batch << UndoRename{platform::fileNameOf(r.from), platform::fileNameOf(run.current.at(i)),
                            thumbs::fileKey(run.current.at(i)),
                            r.companionOf >= 0 ? at.value(r.companionOf, -1) : -1};
    }
    return batch;
}

UndoPlan planUndo(const QString &dir, const UndoBatch &batch)
{
    UndoPlan out;
    QList<int> live;
    for (int i = 0; i < batch.size(); ++i) {
        const UndoRename &r = batch.at(i);
        const thumbs::FileKey now = thumbs::fileKey(dir + r.to);
        if (!now.valid())
            out.skipped << QStringLiteral("%1 gibt es nicht mehr").arg(quoted(r.to));
        else if (now != r.key)
            out.skipped << QStringLiteral("%1 wurde inzwischen geändert oder durch eine andere Datei ersetzt")
                               .arg(quoted(r.to));
        else
            live << i;
    }
    // A file keeps its new name when its old one is held by a file that stays:
    // never replaced. That file may be one whose own undo was just skipped.
    // Companions stay with a picture that stays, and it with them.
    for (bool changed = true; changed;) {
        changed = false;
        QSet<int> staying;
        for (int i = 0; i < batch.size(); ++i)
            if (!live.contains(i))
                staying.insert(batch.at(i).group >= 0 ? batch.at(i).group : i);
        for (qsizetype k = 0; k < live.size(); ++k) {
            const UndoRename &r = batch.at(live.at(k));
            if (!staying.contains(r.group >= 0 ? r.group : live.at(k)))
                continue;
            out.skipped << (r.group >= 0 ? QStringLiteral("%1 bleibt bei seinem Bild")
                                         : QStringLiteral("%1 bleibt bei seinen Begleitdateien"))
                               .arg(quoted(r.to));
            live.removeAt(k--);
            changed = true;
        }
        if (changed)
            continue;
        QSet<QString> leaving;
        for (const int i : std::as_const(live))
            leaving.insert(batch.at(i).to);
        for (qsizetype k = 0; k < live.size(); ++k) {
            const UndoRename &r = batch.at(live.at(k));
            if (r.from == r.to || leaving.contains(r.from) ||
                !platform::pathExists(dir + r.from, platform::Links::NotFollowed))
                continue;
            out.skipped << QStringLiteral("%1 bleibt, denn %2 trägt inzwischen eine andere Datei")
                               .arg(quoted(r.to), quoted(r.from));
            live.removeAt(k);
            changed = true;
            break;
        }
    }
    QList<Request> requests;
    for (const int i : std::as_const(live))
        requests << Request{dir + batch.at(i).to, dir + batch.at(i).from, quoted(batch.at(i).to)};
    out.plan = planRenames(requests);
    return out;
}

QString undoMessage(const UndoPlan &undo, bool done, const QString &failure)
{
    if (!failure.isEmpty())
        return failure;
    if (!undo.plan.ok())
        return refusalMessage(undo.plan);
    const int back = int(undo.plan.requests.size());
    QString text = done && back > 0
                       ? (back == 1 ? QStringLiteral("1 Datei wurde zurückbenannt.")
                                    : QStringLiteral("%1 Dateien wurden zurückbenannt.").arg(back))
                       : QStringLiteral("Keine Datei wurde zurückbenannt.");
    if (!undo.skipped.isEmpty())
        text += QStringLiteral("\n\nNicht zurückbenannt:\n") + cappedLines(undo.skipped);
    return text;
}

} // namespace renaming
