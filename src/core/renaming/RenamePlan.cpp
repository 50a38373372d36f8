#include "core/renaming/RenamePlan.h"

#include "core/pictures/Companions.h"
#include "core/platform/FileNames.h"

#include <QCoreApplication>
#include <QHash>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <algorithm>

namespace renaming {

namespace {

bool hasControlCharacter(const QString &s)
{
    for (const QChar c : s) {
        const QChar::Category cat = c.category();
        if (cat == QChar::Other_Control || cat == QChar::Separator_Line || cat == QChar::Separator_Paragraph)
            return true;
    }
    return false;
}

// Broken UTF-16 that no byte on disk stands for. The characters the codec makes
// of bytes that are not UTF-8 (U+DC80..U+DCFF) are not broken: a user cannot
// type them, so in a typed name they are bytes of the old name that the edit
// kept, and they go back to disk as those bytes.
bool hasBrokenText(const QString &s)
{
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s.at(i);
        if (c.isHighSurrogate() && i + 1 < s.size() && s.at(i + 1).isLowSurrogate())
            ++i;
        else if (c.isSurrogate() && !platform::isByteEscape(c))
            return true;
    }
    return false;
}

QString quoted(const QString &s)
{
    return QStringLiteral("„") + s + QStringLiteral("“");
}

// The form every path of a plan takes: absolute (against the working directory),
// without "." or ".." components, and spelled as the codec reads its bytes back,
// so that two spellings of one name on disk compare equal. Empty when the
// working directory is needed and gone. Plans hold thousands of paths of one
// directory: each directory is made absolute once.
class PlanPaths {
public:
    QString operator()(const QString &path)
    {
        // Only surrogates can be spelled in two ways (bytes that form valid UTF-8).
        const bool plain = std::none_of(path.cbegin(), path.cend(), [](QChar c) { return c.isSurrogate(); });
        const QString spelled = plain ? path : platform::decodeName(platform::encodeName(path));
        const QString dir = platform::directoryOf(spelled);
        auto it = m_absolute.constFind(dir);
        if (it == m_absolute.cend())
            it = m_absolute.insert(dir,
                                   platform::absoluteDirectory(dir.isEmpty() ? QStringLiteral(".") : dir));
        return it->isEmpty() ? QString() : *it + platform::fileNameOf(spelled);
    }

private:
    QHash<QString, QString> m_absolute;
};

} // namespace

Problem checkFileName(const QString &name)
{
    if (name.isEmpty())
        return Problem::Empty;
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return Problem::DotName;
    // The backslash is a separator on the other systems the pictures travel to.
    if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')))
        return Problem::Separator;
    if (hasControlCharacter(name))
        return Problem::ControlCharacter;
    if (hasBrokenText(name))
        return Problem::InvalidText;
    if (platform::encodeName(name).size() > MaxFileNameBytes)
        return Problem::TooLong;
    return Problem::None;
}

QStringList duplicateNames(const QStringList &names, const QList<bool> &filled)
{
    QStringList list;
    const qsizetype n = qMin(names.size(), filled.size());
    for (qsizetype i = 0; i + 1 < n; ++i) {
        if (!filled.at(i))
            continue;
        for (qsizetype j = i + 1; j < n; ++j) {
            if (filled.at(j) && names.at(i) == names.at(j)) {
                list << names.at(i);
                break;
            }
        }
    }
    return list;
}

QString duplicatesMessage(const QStringList &duplicates)
{
    // Line breaks are "\n": Qt's message box does not break lines at a lone "\r".
    QString text = QStringLiteral("Folgende Dateinamen sind doppelt: \n\n");
    for (const QString &name : duplicates)
        text += name + QLatin1Char('\n');
    return text;
}

QString fileNameFor(const QString &typed, const QString &extension)
{
    return typed + extension;
}

Problem checkNewName(const QString &name, const QString &extension)
{
    if (name.isEmpty())
        return Problem::Empty;
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return Problem::DotName;
    const Problem p = checkFileName(fileNameFor(name, extension));
    if (p != Problem::None)
        return p;
    if (name.startsWith(QLatin1Char('.')))
        return Problem::Hidden;
    return Problem::None;
}

QString problemText(Problem problem, const QString &newFileName)
{
    switch (problem) {
    case Problem::None:
        break;
    case Problem::Empty:
        return QStringLiteral("der neue Name ist leer");
    case Problem::Separator:
        return QStringLiteral("der neue Name enthält „/“ oder „\\“; das ist in Dateinamen nicht erlaubt");
    case Problem::ControlCharacter:
        return QStringLiteral("der neue Name enthält einen Zeilenumbruch oder ein anderes Steuerzeichen");
    case Problem::InvalidText:
        return QStringLiteral("der neue Name enthält ungültige Zeichen");
    case Problem::DotName:
        return QStringLiteral("„.“ und „..“ sind als Name nicht erlaubt");
    case Problem::Hidden:
        return QStringLiteral("ein Name, der mit einem Punkt beginnt, ergäbe eine versteckte Datei, "
                              "die in der Liste fehlen würde");
    case Problem::TooLong:
        return QStringLiteral("der neue Name ist zu lang (%1 Bytes mit Endung, erlaubt sind %2)")
            .arg(platform::encodeName(newFileName).size())
            .arg(MaxFileNameBytes);
    case Problem::SourceMissing:
        return QStringLiteral("die Datei ist nicht mehr vorhanden");
    case Problem::SourceTwice:
        return QStringLiteral("die Datei soll zweimal umbenannt werden");
    case Problem::TargetExists:
        return QStringLiteral("es gibt schon eine Datei %1 (ein Bild auf einer anderen Seite "
                              "oder eine andere Datei im Verzeichnis)")
            .arg(quoted(newFileName));
    case Problem::TargetTwice:
        return QStringLiteral("%1 soll auch der Name einer anderen Datei werden").arg(quoted(newFileName));
    }
    return QString();
}

QString temporaryPrefix()
{
    return QStringLiteral(".namora-");
}

bool isTemporaryName(const QString &fileName)
{
    // The form planRenames gives them: prefix, process id, 8 hex digits, counter.
    static const QRegularExpression form(QRegularExpression::anchoredPattern(
        QStringLiteral("\\.namora-[0-9]{1,10}-[0-9a-f]{8}-[0-9]{1,10}\\.tmp")));
    return form.match(fileName).hasMatch();
}

Plan planRenames(const QList<Request> &given)
{
    Plan plan;
    const int n = int(given.size());
    // Names are judged as given, before the codec's spelling could turn a broken
    // one into a valid one.
    QList<Problem> nameProblems(n, Problem::None);
    QList<Request> requests = given;
    PlanPaths planPath;
    for (int i = 0; i < n; ++i) {
        Request &r = requests[i];
        if (r.from == r.to)
            continue;
        nameProblems[i] = checkFileName(platform::fileNameOf(r.to));
        r.from = planPath(r.from);
        r.to = planPath(r.to);
        if (r.from.isEmpty() || r.to.isEmpty())
            nameProblems[i] = Problem::SourceMissing;
    }
    plan.requests = requests;

    QList<platform::FileId> ids(n);
    QList<bool> valid(n, false);
    QHash<QString, int> bySource;
    QHash<QString, int> byTarget;
    auto refuse = [&plan](int i, Problem p) { plan.refusals << Refusal{i, p}; };

    for (int i = 0; i < n; ++i) {
        const Request &r = requests.at(i);
        if (r.from == r.to && nameProblems.at(i) == Problem::None)
            continue;
        Problem p = nameProblems.at(i);
        if (p == Problem::None && platform::directoryOf(r.to) != platform::directoryOf(r.from))
            p = Problem::Separator;
        if (p != Problem::None) {
            refuse(i, p);
            continue;
        }
        const std::optional<platform::FileId> id = platform::fileId(r.from);
        if (!id) {
            refuse(i, Problem::SourceMissing);
            continue;
        }
        if (bySource.contains(r.from)) {
            refuse(i, Problem::SourceTwice);
            continue;
        }
        if (byTarget.contains(r.to)) {
            refuse(i, Problem::TargetTwice);
            continue;
        }
        bySource.insert(r.from, i);
        byTarget.insert(r.to, i);
        ids[i] = *id;
        valid[i] = true;
    }

    QMultiHash<quint64, int> byInode;
    for (int i = 0; i < n; ++i)
        if (valid.at(i))
            byInode.insert(ids.at(i).inode, i);

    // occupant[i]: the request whose file now holds i's new name; occupiedBy is
    // the reverse. Each name can be freed for one request only.
    QList<int> occupant(n, -1);
    QList<int> occupiedBy(n, -1);
    for (int i = 0; i < n; ++i) {
        if (!valid.at(i))
            continue;
        const Request &r = requests.at(i);
        int j = bySource.value(r.to, -1);
        if (j < 0) {
            const std::optional<platform::FileId> taken = platform::fileId(r.to);
            if (taken) {
                // On a file system that ignores letter case, the new name may be
                // the old name of a file in this plan (its own, for a rename that
                // only changes case): that file moves away first.
                const QString targetName = platform::fileNameOf(r.to);
                for (auto it = byInode.constFind(taken->inode);
                     it != byInode.cend() && it.key() == taken->inode; ++it) {
                    const Request &other = requests.at(*it);
                    if (ids.at(*it) == *taken &&
                        platform::directoryOf(other.from) == platform::directoryOf(r.to) &&
                        platform::fileNameOf(other.from).compare(targetName, Qt::CaseInsensitive) == 0) {
                        j = *it;
                        break;
                    }
                }
                if (j < 0) {
                    refuse(i, Problem::TargetExists);
                    continue;
                }
            }
        }
        if (j >= 0) {
            if (occupiedBy.at(j) >= 0) {
                refuse(i, Problem::TargetTwice);
                continue;
            }
            occupant[i] = j;
            occupiedBy[j] = i;
        }
    }
    if (!plan.refusals.isEmpty()) {
        std::sort(plan.refusals.begin(), plan.refusals.end(),
                  [](const Refusal &a, const Refusal &b) { return a.request < b.request; });
        return plan;
    }

    // Every request has at most one file in its way and is in the way of at most
    // one other, so the requests form chains and cycles. A chain runs from the
    // request whose new name is free; a cycle is opened by parking one file under
    // a temporary name.
    QList<QString> location(n);
    QList<bool> done(n, false);
    QList<QStringList> temps(n);
    for (int i = 0; i < n; ++i)
        location[i] = requests.at(i).from;

    auto runChain = [&](int i) {
        while (i >= 0 && !done.at(i)) {
            plan.steps << Step{location.at(i), requests.at(i).to, i};
            location[i] = requests.at(i).to;
            done[i] = true;
            i = occupiedBy.at(i);
        }
    };

    for (int i = 0; i < n; ++i)
        if (valid.at(i) && occupant.at(i) < 0)
            runChain(i);

    const QString tag = QStringLiteral("%1-%2-")
                            .arg(QCoreApplication::applicationPid())
                            .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
    int counter = 0;
    for (int c = 0; c < n; ++c) {
        if (!valid.at(c) || done.at(c))
            continue;
        QString temp;
        do {
            temp = platform::directoryOf(requests.at(c).from) + temporaryPrefix() + tag +
                   QString::number(counter++) + QStringLiteral(".tmp");
        } while (bySource.contains(temp) || byTarget.contains(temp) || platform::fileId(temp));
        plan.steps << Step{location.at(c), temp, c};
        location[c] = temp;
        temps[c] << temp;
        runChain(occupiedBy.at(c));
    }

    for (int i = 0; i < n; ++i)
        if (valid.at(i))
            plan.moves << Move{requests.at(i).from, requests.at(i).to, temps.at(i), ids.at(i)};
    return plan;
}

Plan planNameEdits(const QString &dir, const QList<NameEdit> &edits)
{
    QList<Request> all;
    QList<Refusal> early;
    QList<Request> checked;
    QList<int> index;
    for (int i = 0; i < edits.size(); ++i) {
        const NameEdit &e = edits.at(i);
        const Request r{e.from, dir + fileNameFor(e.newName, e.extension), e.label};
        all << r;
        if (r.from == r.to)
            continue;
        const Problem p = checkNewName(e.newName, e.extension);
        if (p != Problem::None) {
            early << Refusal{i, p};
            continue;
        }
        checked << r;
        index << i;
    }
    if (early.isEmpty()) {
        for (int i = 0; i < edits.size(); ++i) {
            const NameEdit &e = edits.at(i);
            const QString picture = platform::fileNameOf(e.from);
            const QString renamed = platform::fileNameOf(all.at(i).to);
            if (picture == renamed)
                continue;
            for (const QString &c : e.companions) {
                const QString to = pages::companionName(c, picture, renamed);
                all << Request{dir + c, dir + to, QStringLiteral("Begleitdatei „%1“ von %2").arg(c, e.label),
                               i};
                if (const Problem p = checkFileName(to); p != Problem::None) {
                    early << Refusal{int(all.size() - 1), p};
                    continue;
                }
                checked << all.last();
                index << int(all.size() - 1);
            }
        }
    }

    Plan inner = planRenames(checked);
    Plan plan;
    plan.requests = all;
    plan.refusals = early;
    for (const Refusal &r : inner.refusals)
        plan.refusals << Refusal{index.at(r.request), r.problem};
    std::sort(plan.refusals.begin(), plan.refusals.end(),
              [](const Refusal &a, const Refusal &b) { return a.request < b.request; });
    if (!plan.refusals.isEmpty())
        return plan;
    for (int k = 0; k < index.size(); ++k) {
        const int companionOf = plan.requests.at(index.at(k)).companionOf;
        plan.requests[index.at(k)] = inner.requests.at(k);
        plan.requests[index.at(k)].companionOf = companionOf;
    }
    for (const Step &s : inner.steps)
        plan.steps << Step{s.from, s.to, index.at(s.request)};
    plan.moves = inner.moves;
    return plan;
}

QString refusalMessage(const Plan &plan)
{
    QString text = QStringLiteral("Die Namen wurden nicht gespeichert, keine Datei wurde umbenannt:\n\n");
    for (const Refusal &r : plan.refusals) {
        const Request &q = plan.requests.at(r.request);
        text += q.label + QStringLiteral(": ") + problemText(r.problem, platform::fileNameOf(q.to)) +
                QLatin1Char('\n');
    }
    return text;
}

QString slotLabel(int slot, const QString &fileName)
{
    return QStringLiteral("Bild %1 (%2)").arg(QString::number(slot + 1), fileName);
}

} // namespace renaming
