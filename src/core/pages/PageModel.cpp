#include "core/pages/PageModel.h"

#include "core/pictures/Companions.h"
#include "core/pictures/PictureList.h"
#include "core/platform/FileNames.h"
#include "core/renaming/NameTools.h"
#include "core/renaming/RenamePlan.h"
#include "core/renaming/RenameRun.h"

#include <QHash>
#include <QPair>

#include <algorithm>

PageModel::PageModel(QObject *parent) : QObject(parent) {}

// ---- the directory and its pictures ----

void PageModel::load(const QString &directory)
{
    // Whatever the source, the directory is absolute and clean from here on, so
    // every path joined to it names a file inside it.
    m_dir = platform::absoluteDirectory(directory);
    const pages::PictureListing listing = pages::listPictures(m_dir);
    // A directory that cannot be listed shows an empty list: never the files of
    // another directory under this directory's name.
    m_pictures.clear();
    m_ordering = false;
    m_waiting.clear();
    m_pendingView.clear();
    if (listing.ok) {
        // Companions come from the same read of the directory: no lookup per picture.
        const QList<QStringList> companions = pages::companionsOf(listing.names, listing.companions);
        m_pictures.reserve(listing.names.size());
        for (qsizetype i = 0; i < listing.names.size(); ++i)
            m_pictures.append(pages::Picture{
                listing.names.at(i), std::nullopt, std::nullopt, std::nullopt, {}, companions.at(i)});
    }
    if (m_history.directory() != m_dir || !listing.ok)
        m_history.load(m_dir);
    m_listError = listing.ok ? QString() : listing.reason;
    m_typedCount = 0;
    ++m_listing;
    m_countsValid = false;
    if (m_order == Order::CaptureDate)
        beginOrdering();
}

// ---- the order of the list ----

void PageModel::setOrder(Order order)
{
    m_order = order;
    // An empty list has no order to show.
    if (m_pictures.isEmpty() && !m_ordering)
        return;
    if (m_ordering) {
        // Dates still awaited: back to the listing's own order, or on waiting.
        if (order == Order::Name) {
            m_pictures = std::move(m_waiting);
            m_waiting.clear();
            m_ordering = false;
            ++m_listing;
            m_countsValid = false;
        } else {
            return;
        }
    } else {
        dropTyped();
        std::stable_sort(m_pictures.begin(), m_pictures.end(),
                         [](const pages::Picture &a, const pages::Picture &b) {
                             return pages::naturalLess(a.fileName, b.fileName);
                         });
        ++m_listing;
        m_countsValid = false;
        if (order == Order::CaptureDate)
            beginOrdering();
    }
    // While the dates are read the page shows none of the pictures; page 1 in
    // the new order follows once they are in.
    setPageIndex(0);
    showPage(true);
}

void PageModel::beginOrdering()
{
    // The list, in name order, waits out of the page's sight: nothing can be
    // typed for a picture that is about to move.
    if (m_pictures.isEmpty())
        return;
    dropTyped();
    m_waiting = std::move(m_pictures);
    m_pictures.clear();
    m_orderingDone = 0;
    m_ordering = true;
    ++m_listing;
    m_countsValid = false;
    emit orderingStarted();
}

QStringList PageModel::orderingPaths() const
{
    QStringList out;
    out.reserve(m_waiting.size());
    for (const pages::Picture &p : m_waiting)
        out << platform::joinPath(m_dir, p.fileName);
    return out;
}

void PageModel::setOrderingDates(const QList<dates::Dated> &batch)
{
    if (!m_ordering)
        return;
    for (const dates::Dated &d : batch) {
        if (d.index < 0 || d.index >= m_waiting.size())
            continue;
        std::optional<dates::CaptureDate> &date = m_waiting[d.index].date;
        if (!date)
            ++m_orderingDone;
        date = d.date;
    }
    if (m_orderingDone < m_waiting.size()) {
        emit orderingProgressed();
        return;
    }
    finishOrdering();
}

void PageModel::finishOrdering()
{
    QList<std::optional<dates::CaptureDate>> known;
    known.reserve(m_waiting.size());
    for (const pages::Picture &p : std::as_const(m_waiting))
        known << p.date;
    m_pictures.clear();
    m_pictures.reserve(m_waiting.size());
    for (const int i : dates::captureOrder(known))
        m_pictures << m_waiting.at(i);
    m_waiting.clear();
    m_ordering = false;
    ++m_listing;
    m_countsValid = false;
    setPageIndex(std::max(0, pageOf(m_pendingView)));
    m_pendingView.clear();
    showPage(true);
}

void PageModel::reload()
{
    load(m_dir);
}

void PageModel::reloadKeepingTyped()
{
    // By the whole identity: a file that took a freed inode over is another picture.
    QList<QPair<thumbs::FileKey, QString>> typed;
    for (const pages::Picture &p : std::as_const(m_pictures))
        if (p.typed && p.seen.valid())
            typed.append({p.seen, *p.typed});
    load(m_dir);
    for (int k = 0; k < m_pictures.size() && !typed.isEmpty(); ++k) {
        const thumbs::FileKey key = thumbs::fileKey(pathOf(k));
        for (qsizetype t = 0; t < typed.size(); ++t) {
            if (typed.at(t).first != key)
                continue;
            m_pictures[k].seen = key;
            setTyped(k, typed.at(t).second);
            typed.removeAt(t);
            break;
        }
    }
}

void PageModel::noteSeenFiles()
{
    for (int i = 0; i <= m_lastSlot && isFilled(i); ++i) {
        pages::Picture &p = m_pictures[listIndex(i)];
        if (!p.seen.valid())
            p.seen = thumbs::fileKey(pathOf(listIndex(i)));
    }
}

QString PageModel::directoryCaption() const
{
    if (m_listError.isEmpty())
        return m_dir;
    return m_dir + QStringLiteral("  (nicht lesbar: ") + m_listError + QLatin1Char(')');
}

QStringList PageModel::fileNames() const
{
    QStringList out;
    out.reserve(m_pictures.size());
    for (const pages::Picture &p : m_pictures)
        out << p.fileName;
    return out;
}

QString PageModel::fileName(int listIndex) const
{
    return listIndex >= 0 && listIndex < m_pictures.size() ? m_pictures.at(listIndex).fileName : QString();
}

QString PageModel::pathOf(int listIndex) const
{
    return listIndex >= 0 && listIndex < m_pictures.size()
               ? platform::joinPath(m_dir, m_pictures.at(listIndex).fileName)
               : QString();
}

QString PageModel::shownName(const QString &fileName)
{
    return fileName.left(fileName.size() - pages::pictureExtension(fileName).size());
}

// ---- the page ----

void PageModel::setPageIndex(int pageIndex)
{
    m_pageIndex = qMax(0, pageIndex);
}

void PageModel::setPageOf(const QString &fileName)
{
    m_pendingView = m_ordering ? fileName : QString();
    setPageIndex(std::max(0, pageOf(fileName)));
}

int PageModel::pageOf(const QString &fileName) const
{
    if (m_lastSlot < 0)
        return -1;
    for (int i = 0; i < fileCount(); ++i) {
        if (m_pictures[i].fileName == fileName)
            return i / (m_lastSlot + 1);
    }
    return -1;
}

int PageModel::slotOf(int listIndex) const
{
    const int slot = listIndex - m_shown.first;
    return m_shown.listing == m_listing && m_shown.entry(slot) == listIndex ? slot : -1;
}

bool PageModel::slotChanged(int slot) const
{
    return m_shownBefore.listing != m_shown.listing || m_shownBefore.entry(slot) != m_shown.entry(slot);
}

QStringList PageModel::pagePaths(int page) const
{
    QStringList out;
    if (page < 0)
        return out;
    for (int i = 0; i <= m_lastSlot; ++i) {
        const qint64 k = qint64(page) * (m_lastSlot + 1) + i;
        if (k >= m_pictures.size())
            break;
        out << pathOf(int(k));
    }
    return out;
}

bool PageModel::isFilled(int slot) const
{
    if (slot < 0 || slot > m_lastSlot)
        return false;
    const qint64 k = qint64(m_pageIndex) * (m_lastSlot + 1) + slot;
    return k < m_pictures.size();
}

QString PageModel::filePath(int slot) const
{
    return isFilled(slot) ? pathOf(listIndex(slot)) : QString();
}

QString PageModel::counterCaption() const
{
    if (m_ordering)
        return QStringLiteral("Aufnahmedaten\n%1 / %2").arg(m_orderingDone).arg(m_waiting.size());
    return grid::counter(m_pageIndex, m_lastSlot, fileCount(), fileCount()).caption();
}

void PageModel::recordDisplay()
{
    m_shownBefore = m_shown;
    m_shown.listing = m_listing;
    m_shown.first = listIndex(0);
    m_shown.filled = 0;
    while (m_shown.filled <= m_lastSlot && isFilled(m_shown.filled))
        ++m_shown.filled;
}

void PageModel::showPage(bool reload)
{
    if (reload) {
        dropTyped();
        ++m_generation;
    }
    // A list that shrank (another program removed pictures) leaves no page
    // beyond its last.
    if (m_lastSlot >= 0 && fileCount() > 0)
        m_pageIndex = qMin(m_pageIndex, (fileCount() - 1) / (m_lastSlot + 1));
    recordDisplay();
    noteSeenFiles();
    m_emptySlotNames.fill(QString());
    // With as many slots as pictures or more, the arrows keep their states.
    if (m_lastSlot < fileCount()) {
        m_nextEnabled = grid::nextEnabled(m_pageIndex, m_lastSlot, fileCount());
        m_backEnabled = grid::backEnabled(m_pageIndex);
    }
    emit pageShown(reload);
}

void PageModel::setLastSlot(int lastSlot)
{
    m_lastSlot = qBound(-1, lastSlot, grid::HighestSlot);
}

void PageModel::relayout(int lastSlot)
{
    if (qBound(-1, lastSlot, grid::HighestSlot) == m_lastSlot)
        return;
    setLastSlot(lastSlot);
    showPage(false);
}

void PageModel::stepForward()
{
    ++m_pageIndex;
    m_nextEnabled = grid::nextEnabled(m_pageIndex, m_lastSlot, fileCount());
    // Numbering the whole directory starts from the number as it stands.
    if (m_wholeDirectory)
        return;
    const names::StartNumberStep step = names::nextPageStartNumber(m_startNumber, m_lastSlot);
    if (step.ok)
        setStartNumber(step.text);
}

void PageModel::stepBack()
{
    m_pageIndex = qMax(0, m_pageIndex - 1);
    if (m_wholeDirectory)
        return;
    // The number goes back also when the page stays at 0.
    const names::StartNumberStep step = names::previousPageStartNumber(m_startNumber, m_lastSlot);
    if (step.ok)
        setStartNumber(step.text);
}

// ---- names ----

QString PageModel::name(int slot) const
{
    if (slot < 0 || slot >= grid::SlotCount)
        return QString();
    if (!isFilled(slot))
        return m_emptySlotNames[size_t(slot)];
    return pictureName(listIndex(slot));
}

QString PageModel::pictureName(int listIndex) const
{
    if (listIndex < 0 || listIndex >= m_pictures.size())
        return QString();
    const pages::Picture &p = m_pictures.at(listIndex);
    return p.typed ? *p.typed : shownName(p.fileName);
}

void PageModel::setTyped(int listIndex, const QString &text)
{
    pages::Picture &p = m_pictures[listIndex];
    const bool had = p.typed.has_value();
    if (m_countsValid) {
        const QString before = p.typed ? *p.typed : shownName(p.fileName);
        if (--m_nameCount[before] == 0)
            m_nameCount.remove(before);
        ++m_nameCount[text];
    }
    if (text == shownName(p.fileName))
        p.typed.reset();
    else
        p.typed = text;
    m_typedCount += int(p.typed.has_value()) - int(had);
}

void PageModel::dropTyped()
{
    if (m_typedCount == 0)
        return;
    m_countsValid = false;
    for (pages::Picture &p : m_pictures)
        p.typed.reset();
    m_typedCount = 0;
}

void PageModel::setNameQuietly(int slot, const QString &text)
{
    if (slot < 0 || slot >= grid::SlotCount)
        return;
    if (!isFilled(slot)) {
        m_emptySlotNames[size_t(slot)] = text;
        return;
    }
    setTyped(listIndex(slot), text);
}

void PageModel::setName(int slot, const QString &text)
{
    setNameQuietly(slot, text);
}

void PageModel::setHeadFacts(int listIndex, const exif::HeadFacts &facts)
{
    if (listIndex >= 0 && listIndex < m_pictures.size())
        m_pictures[listIndex].head = facts;
}

void PageModel::setCaptureDate(int listIndex, const dates::CaptureDate &date)
{
    if (listIndex < 0 || listIndex >= m_pictures.size())
        return;
    std::optional<dates::CaptureDate> &known = m_pictures[listIndex].date;
    if (known && *known == date)
        return;
    known = date;
    emit captureDateChanged(listIndex);
}

bool PageModel::pageDatesKnown() const
{
    for (int i = 0; i <= m_lastSlot; ++i) {
        if (isFilled(i) && !m_pictures.at(listIndex(i)).date)
            return false;
    }
    return true;
}

bool PageModel::toolDatesKnown() const
{
    if (!m_wholeDirectory)
        return pageDatesKnown();
    for (const pages::Picture &p : m_pictures)
        if (!p.date)
            return false;
    return true;
}

QStringList PageModel::names() const
{
    QStringList out;
    for (int i = 0; i <= m_lastSlot; ++i)
        out << name(i);
    return out;
}

QList<bool> PageModel::filled() const
{
    QList<bool> out;
    for (int i = 0; i <= m_lastSlot; ++i)
        out << isFilled(i);
    return out;
}

bool PageModel::isModified() const
{
    // Only names that differ from their file's are kept.
    return m_typedCount > 0;
}

QStringList PageModel::duplicates() const
{
    return renaming::duplicateNames(names(), filled());
}

void PageModel::setAllNames(const QStringList &newNames)
{
    bool changed = false;
    for (int i = 0; i < newNames.size() && i < grid::SlotCount; ++i) {
        if (name(i) != newNames.at(i)) {
            setNameQuietly(i, newNames.at(i));
            changed = true;
        }
    }
    if (changed)
        emit namesChanged();
}

QStringList PageModel::pictureNames() const
{
    QStringList out;
    out.reserve(m_pictures.size());
    for (qsizetype k = 0; k < m_pictures.size(); ++k)
        out << pictureName(int(k));
    return out;
}

void PageModel::setPictureNames(const QStringList &newNames)
{
    bool changed = false;
    for (qsizetype k = 0; k < newNames.size() && k < m_pictures.size(); ++k) {
        if (pictureName(int(k)) != newNames.at(k)) {
            setTyped(int(k), newNames.at(k));
            changed = true;
        }
    }
    if (changed)
        emit namesChanged();
}

void PageModel::addPrefix(const QString &prefix)
{
    if (m_wholeDirectory)
        setPictureNames(names::prefixNames(pictureNames(), QList<bool>(fileCount(), true), prefix));
    else
        setAllNames(names::prefixNames(names(), filled(), prefix));
}

void PageModel::addCaptureDatePrefix(const QString &format, const QString &separator)
{
    if (m_wholeDirectory) {
        QStringList texts = pictureNames();
        for (int k = 0; k < texts.size(); ++k) {
            const std::optional<dates::CaptureDate> &date = m_pictures.at(k).date;
            if (date && date->valid())
                texts[k] = dates::prefixFor(*date, format, separator) + texts.at(k);
        }
        setPictureNames(texts);
        return;
    }
    QStringList texts = names();
    for (int i = 0; i < texts.size(); ++i) {
        if (!isFilled(i))
            continue;
        const std::optional<dates::CaptureDate> &date = m_pictures.at(listIndex(i)).date;
        if (date && date->valid())
            texts[i] = dates::prefixFor(*date, format, separator) + texts.at(i);
    }
    setAllNames(texts);
}

void PageModel::addSuffix(const QString &suffix)
{
    if (m_wholeDirectory)
        setPictureNames(names::suffixNames(pictureNames(), QList<bool>(fileCount(), true), suffix));
    else
        setAllNames(names::suffixNames(names(), filled(), suffix));
}

void PageModel::addNumbers()
{
    // Through the whole list from the start number, or along the page.
    if (m_wholeDirectory)
        setPictureNames(names::numberNames(pictureNames(), m_startNumber));
    else
        setAllNames(names::numberNames(names(), m_startNumber));
}

void PageModel::replaceText(const QString &search, const QString &replacement)
{
    QStringList texts = m_wholeDirectory ? pictureNames() : names();
    for (QString &t : texts)
        t = names::ReplaceNoCase(t, search, replacement);
    m_wholeDirectory ? setPictureNames(texts) : setAllNames(texts);
}

void PageModel::clearNames()
{
    if (m_wholeDirectory)
        setPictureNames(QStringList(fileCount()));
    else
        setAllNames(QStringList(qMax(0, m_lastSlot + 1)));
}

// ---- what the save would refuse ----

void PageModel::ensureCounts() const
{
    if (m_countsValid)
        return;
    m_nameCount.clear();
    m_byFileName.clear();
    m_nameCount.reserve(m_pictures.size());
    m_byFileName.reserve(m_pictures.size());
    for (qsizetype k = 0; k < m_pictures.size(); ++k) {
        ++m_nameCount[pictureName(int(k))];
        m_byFileName.insert(m_pictures.at(k).fileName, int(k));
    }
    m_countsValid = true;
}

QString PageModel::nameProblem(int slot) const
{
    return isFilled(slot) ? pictureProblem(listIndex(slot)) : QString();
}

QString PageModel::pictureProblem(int listIndex) const
{
    if (listIndex < 0 || listIndex >= m_pictures.size())
        return QString();
    const pages::Picture &p = m_pictures.at(listIndex);
    if (!p.typed)
        return QString(); // the file keeps its name
    const QString &typed = *p.typed;
    const QString extension = pages::pictureExtension(p.fileName);
    const QString fileName = renaming::fileNameFor(typed, extension);
    if (typed.isEmpty())
        return QStringLiteral("Das Bild hat keinen Namen");
    if (const renaming::Problem problem = renaming::checkNewName(typed, extension);
        problem != renaming::Problem::None)
        return renaming::problemText(problem, fileName);
    ensureCounts();
    if (m_nameCount.value(typed) > 1)
        return QStringLiteral("Der Name „%1“ kommt mehrfach vor").arg(typed);
    // A picture that keeps its name holds it; a file that is no picture of the
    // list (another kind, a hidden one, a folder) is asked of the disk.
    const auto holder = m_byFileName.constFind(fileName);
    const bool held =
        holder != m_byFileName.cend()
            ? holder.value() != listIndex && !m_pictures.at(holder.value()).typed
            : fileName != p.fileName &&
                  platform::pathExists(platform::joinPath(m_dir, fileName), platform::Links::NotFollowed);
    if (held)
        return renaming::problemText(renaming::Problem::TargetExists, fileName);
    return QString();
}

int PageModel::problemCount() const
{
    int problems = 0;
    for (int k = 0; k < fileCount(); ++k)
        problems += pictureProblem(k).isEmpty() ? 0 : 1;
    return problems;
}

void PageModel::toggleName(int slot)
{
    if (slot < 0 || slot >= grid::SlotCount)
        return;
    const QString next =
        names::toggledName(name(slot), isFilled(slot) ? shownName(fileName(listIndex(slot))) : QString());
    if (next == name(slot))
        return;
    setNameQuietly(slot, next);
    emit nameChanged(slot);
}

// ---- the start number ----

void PageModel::setStartNumber(const QString &text)
{
    if (text == m_startNumber)
        return;
    m_startNumber = text;
    emit startNumberChanged(text);
}

void PageModel::normaliseStartNumber()
{
    setStartNumber(names::normaliseStartNumber(m_startNumber));
}

// ---- save ----

PageModel::SaveResult PageModel::save(SaveScope scope)
{
    SaveResult result;
    // An empty box is no name: said as such, before any duplicate rule sees
    // two of them.
    // With the whole directory, every picture is counted by its place in the
    // list, as the page counts its slots.
    const int scopeSize = m_wholeDirectory ? fileCount() : m_lastSlot + 1;
    const auto entryOf = [this](int i) { return m_wholeDirectory ? i : listIndex(i); };
    for (int i = 0; i < scopeSize; ++i) {
        const int k = entryOf(i);
        if (k < fileCount() && pictureName(k).isEmpty()) {
            result.concerned << renaming::slotLabel(i, fileName(k));
            result.message += QStringLiteral("Bild %1 hat keinen Namen\n").arg(i + 1);
        }
    }
    if (!result.concerned.isEmpty()) {
        result.status = SaveResult::Refused;
        result.message =
            QStringLiteral("Die Namen wurden nicht gespeichert, keine Datei wurde umbenannt:\n\n") +
            result.message;
        return result;
    }
    result.duplicates = m_wholeDirectory
                            ? renaming::duplicateNames(pictureNames(), QList<bool>(fileCount(), true))
                            : duplicates();
    if (!result.duplicates.isEmpty()) {
        result.status = SaveResult::Duplicates;
        return result;
    }

    // The slots on screen take part; names typed for pictures off the page
    // stay with their pictures until their page is saved.
    QList<renaming::NameEdit> edits;
    QList<int> indexOf; // per edit: its list entry
    for (int i = 0; i < scopeSize; ++i) {
        const int k = entryOf(i);
        // With the whole directory, only the changed names: one plan for all.
        if (k >= fileCount() || (m_wholeDirectory && !m_pictures.at(k).typed))
            continue;
        const QString file = fileName(k);
        edits << renaming::NameEdit{renaming::slotLabel(i, file), pathOf(k), pictureName(k),
                                    pages::pictureExtension(file), companionsFor(k)};
        indexOf << k;
        if (pictureName(k) != shownName(file))
            ++result.changedNames;
    }
    // Names typed for pictures that a new layout moved off the page go along
    // when the user is about to leave them behind.
    for (int k = 0; k < m_pictures.size() && m_typedCount > 0 && scope == SaveScope::PageAndWaiting; ++k) {
        const pages::Picture &p = m_pictures.at(k);
        if (!p.typed || indexOf.contains(k))
            continue;
        edits << renaming::NameEdit{QStringLiteral("„%1“ (nicht auf dieser Seite)").arg(p.fileName),
                                    pathOf(k), *p.typed, pages::pictureExtension(p.fileName),
                                    companionsFor(k)};
        indexOf << k;
        ++result.changedNames;
    }
    for (const pages::Picture &p : std::as_const(m_pictures))
        result.waitingElsewhere += p.typed ? 1 : 0;
    for (const int k : std::as_const(indexOf))
        result.waitingElsewhere -= m_pictures.at(k).typed ? 1 : 0;

    // Before anything is planned or written: each file to be renamed must
    // still be the one the page showed under its name. Another program (or
    // another window on this directory) may have renamed, replaced or removed
    // it since, and its name would then land on a picture the user never saw.
    QString outdated;
    for (int e = 0; e < edits.size(); ++e) {
        const pages::Picture &p = m_pictures.at(indexOf.at(e));
        if (edits.at(e).newName == shownName(p.fileName))
            continue;
        const thumbs::FileKey now = thumbs::fileKey(edits.at(e).from);
        if (now.valid() && (!p.seen.valid() || now == p.seen))
            continue;
        result.concerned << edits.at(e).label;
        outdated += edits.at(e).label +
                    (now.valid() ? QStringLiteral(" wurde inzwischen von einem anderen Programm geändert")
                                 : QStringLiteral(" gibt es nicht mehr")) +
                    QLatin1Char('\n');
    }
    if (!outdated.isEmpty()) {
        result.status = SaveResult::Outdated;
        result.message =
            QStringLiteral("Die Namen wurden nicht gespeichert, keine Datei wurde umbenannt:\n\n") +
            outdated +
            QStringLiteral("\nDas Verzeichnis wurde neu eingelesen; die eingegebenen Namen bleiben "
                           "bei ihren Bildern.");
        reloadKeepingTyped();
        result.listChanged = true;
        return result;
    }
    const renaming::Plan plan = renaming::planNameEdits(m_dir, edits);
    if (!plan.ok()) {
        result.status = SaveResult::Refused;
        for (const renaming::Refusal &r : plan.refusals)
            result.concerned << plan.requests.at(r.request).label;
        result.message = renaming::refusalMessage(plan);
        return result;
    }
    const renaming::RunResult run = renaming::runPlan(plan);
    if (!run.ok()) {
        result.status = SaveResult::Failed;
        result.rolledBack = run.status == renaming::RunStatus::RolledBack;
        if (run.failed.request >= 0 && run.failed.request < plan.requests.size())
            result.concerned << plan.requests.at(run.failed.request).label;
        result.message = renaming::failureMessage(plan, run);
    }

    // The list takes a name only when the file really has it; a typed name
    // stays until its file carries it.
    for (int e = 0; e < edits.size(); ++e) {
        const int k = indexOf.at(e);
        pages::Picture &p = m_pictures[k];
        const QString now = platform::fileNameOf(run.current.at(e));
        if (p.fileName != now) {
            p.fileName = now;
            m_countsValid = false;
            // A rename keeps the inode but may change the time the system
            // keeps for the file: the user still sees this very file.
            p.seen = thumbs::fileKey(run.current.at(e));
            result.listChanged = true;
            ++result.renamed;
        }
        if (p.typed && *p.typed == shownName(now)) {
            p.typed.reset();
            --m_typedCount;
        }
    }
    // Companions follow their pictures in the records too.
    for (qsizetype i = edits.size(); i < plan.requests.size(); ++i) {
        const renaming::Request &r = plan.requests.at(i);
        const QString now = platform::fileNameOf(run.current.at(i));
        if (r.companionOf < 0 || now == platform::fileNameOf(r.from))
            continue;
        QStringList &companions = m_pictures[indexOf.at(r.companionOf)].companions;
        const qsizetype at = companions.indexOf(platform::fileNameOf(r.from));
        if (at >= 0)
            companions[at] = now;
        ++result.companions;
    }
    // The way back: one batch per save, the renames as they ended.
    if (run.ok())
        result.history = m_history.record(renaming::undoBatchOf(plan, run));
    return result;
}

QStringList PageModel::companionsFor(int listIndex) const
{
    return m_takeCompanions ? m_pictures.at(listIndex).companions : QStringList();
}

PageModel::UndoResult PageModel::undo()
{
    UndoResult out;
    if (!m_history.canUndo())
        return out;
    const renaming::UndoPlan plan = renaming::planUndo(m_dir, m_history.batches().last());
    QString failure;
    bool renamed = false;
    if (plan.plan.ok() && !plan.plan.requests.isEmpty()) {
        const renaming::RunResult run = renaming::runPlan(plan.plan);
        if (run.ok())
            renamed = true;
        else
            failure = renaming::failureMessage(plan.plan, run);
    }
    out.done = plan.plan.ok() && failure.isEmpty();
    out.message = renaming::undoMessage(plan, renamed, failure);
    // What could be taken back is; what was skipped cannot be later either.
    // A failed run was rolled back and may be tried again.
    if (out.done) {
        const QString problem = m_history.dropNewest();
        if (!problem.isEmpty())
            out.message += QStringLiteral("\n\n") + problem;
    }
    const int page = m_pageIndex;
    load(m_dir);
    setPageIndex(page);
    showPage(true);
    return out;
}
