#include "core/pages/PageModel.h"

#include "core/renaming/NameTools.h"
#include "core/pages/Grid.h"
#include "core/pictures/PictureList.h"
#include "core/platform/FileNames.h"

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
    m_files = listing.ok ? listing.names : QStringList();
    m_listError = listing.ok ? QString() : listing.reason;
    m_typed.clear();
}

void PageModel::reload()
{
    load(m_dir);
}

QString PageModel::directoryCaption() const
{
    if (m_listError.isEmpty())
        return m_dir;
    return m_dir + QStringLiteral("  (nicht lesbar: ") + m_listError + QLatin1Char(')');
}

QString PageModel::fileName(int listIndex) const
{
    return listIndex >= 0 && listIndex < m_files.size() ? m_files.at(listIndex) : QString();
}

QString PageModel::pathOf(int listIndex) const
{
    return listIndex >= 0 && listIndex < m_files.size() ? platform::joinPath(m_dir, m_files.at(listIndex))
                                                        : QString();
}

QString PageModel::shownName(const QString &fileName)
{
    return fileName.left(fileName.size() - 4);
}

// ---- the page ----

void PageModel::setPageIndex(int pageIndex)
{
    m_pageIndex = qMax(0, pageIndex);
}

bool PageModel::isFilled(int slot) const
{
    if (slot < 0 || slot > m_lastSlot)
        return false;
    const qint64 k = qint64(m_pageIndex) * (m_lastSlot + 1) + slot;
    return k < m_files.size();
}

QString PageModel::filePath(int slot) const
{
    return isFilled(slot) ? pathOf(listIndex(slot)) : QString();
}

QString PageModel::counterCaption() const
{
    return grid::counter(m_pageIndex, m_lastSlot, fileCount(), fileCount()).caption();
}

void PageModel::showPage(bool reload)
{
    if (reload) {
        m_typed.clear();
        ++m_generation;
    }
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
    m_lastSlot = qBound(-1, lastSlot, SlotCount - 1);
}

void PageModel::relayout(int lastSlot)
{
    if (qBound(-1, lastSlot, SlotCount - 1) == m_lastSlot)
        return;
    setLastSlot(lastSlot);
    showPage(false);
}

void PageModel::stepForward()
{
    ++m_pageIndex;
    m_nextEnabled = grid::nextEnabled(m_pageIndex, m_lastSlot, fileCount());
    const names::StartNumberStep step = names::nextPageStartNumber(m_startNumber, m_lastSlot);
    if (step.ok)
        setStartNumber(step.text);
}

void PageModel::stepBack()
{
    m_pageIndex = qMax(0, m_pageIndex - 1);
    // The number goes back also when the page stays at 0.
    const names::StartNumberStep step = names::previousPageStartNumber(m_startNumber, m_lastSlot);
    if (step.ok)
        setStartNumber(step.text);
}

// ---- names ----

QString PageModel::name(int slot) const
{
    if (slot < 0 || slot >= SlotCount)
        return QString();
    if (!isFilled(slot))
        return m_emptySlotNames[size_t(slot)];
    return pictureName(listIndex(slot));
}

QString PageModel::pictureName(int listIndex) const
{
    if (listIndex < 0 || listIndex >= m_files.size())
        return QString();
    return m_typed.value(listIndex, shownName(m_files.at(listIndex)));
}

void PageModel::setNameQuietly(int slot, const QString &text)
{
    if (slot < 0 || slot >= SlotCount)
        return;
    if (!isFilled(slot)) {
        m_emptySlotNames[size_t(slot)] = text;
        return;
    }
    const int k = listIndex(slot);
    if (text == shownName(m_files.at(k)))
        m_typed.remove(k);
    else
        m_typed.insert(k, text);
}

void PageModel::setName(int slot, const QString &text)
{
    setNameQuietly(slot, text);
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
    return !m_typed.isEmpty();
}

QStringList PageModel::duplicates() const
{
    return renaming::duplicateNames(names(), filled());
}

void PageModel::setAllNames(const QStringList &newNames)
{
    bool changed = false;
    for (int i = 0; i < newNames.size() && i < SlotCount; ++i) {
        if (name(i) != newNames.at(i)) {
            setNameQuietly(i, newNames.at(i));
            changed = true;
        }
    }
    if (changed)
        emit namesChanged();
}

void PageModel::addPrefix(const QString &prefix)
{
    setAllNames(names::prefixNames(names(), filled(), prefix));
}

void PageModel::addSuffix(const QString &suffix)
{
    setAllNames(names::suffixNames(names(), filled(), suffix));
}

void PageModel::addNumbers()
{
    setAllNames(names::numberNames(names(), m_startNumber));
}

void PageModel::replaceText(const QString &search, const QString &replacement)
{
    QStringList texts = names();
    for (QString &t : texts)
        t = names::ReplaceNoCase(t, search, replacement);
    setAllNames(texts);
}

void PageModel::clearNames()
{
    setAllNames(QStringList(qMax(0, m_lastSlot + 1)));
}

void PageModel::toggleName(int slot)
{
    if (slot < 0 || slot >= SlotCount)
        return;
    const QString next =
        names::toggledName(name(slot), isFilled(slot) ? shownName(m_files.at(listIndex(slot))) : QString());
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

PageModel::SaveResult PageModel::save()
{
    SaveResult result;
    result.duplicates = duplicates();
    if (!result.duplicates.isEmpty()) {
        result.status = SaveResult::Duplicates;
        return result;
    }

    QList<renaming::NameEdit> edits;
    QList<int> indexOf; // per edit: its list entry
    for (int i = 0; i <= m_lastSlot; ++i) {
        if (!isFilled(i))
            continue;
        const int k = listIndex(i);
        edits << renaming::NameEdit{renaming::slotLabel(i, m_files.at(k)), filePath(i), name(i)};
        indexOf << k;
    }
    // Names typed for pictures that a new layout moved off the page are saved
    // too: the next page display would drop them without a word.
    QList<int> offPage = m_typed.keys();
    std::sort(offPage.begin(), offPage.end());
    for (const int k : offPage) {
        if (indexOf.contains(k) || k >= m_files.size())
            continue;
        edits << renaming::NameEdit{QStringLiteral("„%1“ (nicht auf dieser Seite)").arg(m_files.at(k)),
                                    platform::joinPath(m_dir, m_files.at(k)), m_typed.value(k)};
        indexOf << k;
    }

    result.plan = renaming::planNameEdits(m_dir, edits);
    if (!result.plan.ok()) {
        result.status = SaveResult::Refused;
        return result;
    }
    result.run = renaming::runPlan(result.plan);
    result.status = result.run.ok() ? SaveResult::Saved : SaveResult::Failed;

    // The list takes a name only when the file really has it; a typed name
    // stays until its file carries it.
    for (int e = 0; e < edits.size(); ++e) {
        const int k = indexOf.at(e);
        const QString now = platform::fileNameOf(result.run.current.at(e));
        if (m_files.at(k) != now) {
            m_files[k] = now;
            result.listChanged = true;
        }
        const auto typed = m_typed.constFind(k);
        if (typed != m_typed.cend() && *typed == shownName(now))
            m_typed.remove(k);
    }
    return result;
}
