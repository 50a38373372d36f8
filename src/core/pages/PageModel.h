#pragma once

#include "core/pages/Grid.h"
#include "core/pages/Picture.h"
#include "core/pictures/DateReader.h"
#include "core/renaming/UndoHistory.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <array>

// The one model of the open directory and its page: the picture list, the page
// shown, how many slots a page has, and the name typed for every picture. Its
// operations are the program's vocabulary (load a directory, show a page, lay
// it out anew, set a name, the bulk tools, save); the widgets follow its
// signals and hand it what the user types.
//
// Each picture is a record (pages::Picture) in list order. Slot i of page p
// shows list entry p x (lastSlot + 1) + i; listIndex() and slotOf() are the one
// place that says so. A name typed for a picture belongs to its record, not to
// the slot: it follows the picture when a new layout moves it to another slot
// or off the page, and it is dropped only by a display that reloads the page,
// a new listing, or a save that gave the file that name.
class PageModel : public QObject {
    Q_OBJECT
public:
    explicit PageModel(QObject *parent = nullptr);

    // ---- the directory and its pictures ----

    // Lists directory, made absolute and clean here, into the picture list. A
    // directory that cannot be listed gives an empty list and its reason.
    // Typed names go with the old list; the page index is the caller's.
    void load(const QString &directory);
    // Lists the open directory again.
    void reload();

    QString directory() const { return m_dir; }
    QString listError() const { return m_listError; }
    // What the directory label shows: the directory, with the reason when it
    // could not be listed.
    QString directoryCaption() const;

    int fileCount() const { return int(m_pictures.size()); }
    const QList<pages::Picture> &pictures() const { return m_pictures; }
    // The file names in list order.
    QStringList fileNames() const;
    QString fileName(int listIndex) const;
    // The full path of list entry listIndex; empty outside the list.
    QString pathOf(int listIndex) const;
    // The name a picture shows in its box: its file name without its
    // extension (".jpg" or ".jpeg" with the dot, in any letter case), which a
    // save keeps as it is on disk.
    static QString shownName(const QString &fileName);

    // ---- the order of the list ----

    enum class Order { Name, CaptureDate };
    Order order() const { return m_order; }
    // Puts the list in order and shows page 1, the names typed dropped (the
    // caller asked first). By name at once; by capture date once every
    // picture's date is in: until then the list waits (isOrdering).
    void setOrder(Order order);
    // The list waits for the capture dates of its pictures: the page shows
    // none of them, and the counter tells how many dates are in. A listing in
    // date order waits the same way.
    bool isOrdering() const { return m_ordering; }
    // The files whose dates the order waits for; each date is handed in with
    // its index in this list.
    QStringList orderingPaths() const;
    int orderingDone() const { return m_orderingDone; }
    // Dates for pictures waiting for their order. Once all are in, the list
    // takes the order and page 1 is shown.
    void setOrderingDates(const QList<dates::Dated> &batch);
    // Moves on with every new listing or order, so a reader's results for an
    // earlier list recognise themselves as stale.
    quint64 listing() const { return m_listing; }

    // ---- the page ----

    int pageIndex() const { return m_pageIndex; }
    void setPageIndex(int pageIndex);
    // The highest slot in use; -1 when not even one slot fits.
    int lastSlot() const { return m_lastSlot; }
    // The list entry slot shows on the page shown (beyond the list for an empty
    // slot), and on page of the same layout.
    int listIndex(int slot) const { return listIndex(m_pageIndex, slot); }
    int listIndex(int page, int slot) const { return page * (m_lastSlot + 1) + slot; }
    // The slot that showed list entry listIndex at the last display; -1 when it
    // was not on the page.
    int slotOf(int listIndex) const;
    // The page that holds the picture of this file name; -1 when none does.
    int pageOf(const QString &fileName) const;
    // Goes to the page holding fileName (the first when none does); when the
    // list still waits for its capture dates, to the page that holds it once
    // they are in. A new listing forgets it. Callers show the page.
    void setPageOf(const QString &fileName);
    // Whether the last display gave slot another picture than the display
    // before it (or a picture of another listing), so what it showed must go.
    bool slotChanged(int slot) const;
    // The full paths of the pictures of page, in slot order.
    QStringList pagePaths(int page) const;
    // Whether slot shows a picture.
    bool isFilled(int slot) const;
    // The full path of the picture in slot; empty for an empty slot.
    QString filePath(int slot) const;
    // The page counter, "Seite: p / n" and "Bild: a-b / n" on two lines.
    QString counterCaption() const;
    // The arrows' enabled states as the last display or step left them.
    bool nextEnabled() const { return m_nextEnabled; }
    bool backEnabled() const { return m_backEnabled; }
    // Moves on with every display that reloads the page, so work started for an
    // earlier page recognises itself as stale.
    quint64 generation() const { return m_generation; }

    // Brings the page up to date for the page index and the list. With reload
    // the names typed are dropped (every box shows its file's name again) and
    // the generation moves on.
    void showPage(bool reload);
    // A layout with room for another number of slots: the page is shown again
    // for it (without reload), every picture keeping the name typed for it.
    void relayout(int lastSlot);
    // The same without showing the page; the caller shows it when the rest of
    // its work is done.
    void setLastSlot(int lastSlot);
    // The arrows: one page on or back, and the start number with it. The caller
    // shows the page afterwards.
    void stepForward();
    void stepBack();

    // ---- names ----

    // The text of slot's name box.
    QString name(int slot) const;
    // The name of list entry listIndex: typed for it, or its shown name.
    QString pictureName(int listIndex) const;
    // The user typed text into slot's box.
    void setName(int slot, const QString &text);
    // What the head of list entry listIndex's file told (reported by whoever
    // read it: the thumbnails).
    void setHeadFacts(int listIndex, const exif::HeadFacts &facts);
    // The capture date of list entry listIndex, once read.
    void setCaptureDate(int listIndex, const dates::CaptureDate &date);
    // Every filled slot's picture has its capture date.
    bool pageDatesKnown() const;
    // The same for what the tools take: the page, or every picture of the list.
    bool toolDatesKnown() const;
    // The names of slots 0..lastSlot and which of them show a picture.
    QStringList names() const;
    QList<bool> filled() const;
    // Some picture has a typed name that differs from its file's name (also
    // one that a new layout moved off the page).
    bool isModified() const;
    // The names the duplicate rule lists (empty when there are none).
    QStringList duplicates() const;

    // The bulk tools, on slots 0..lastSlot.
    void addPrefix(const QString &prefix);
    // Puts each picture's own capture date, written with format, and separator
    // in front of its name; a slot whose date is not known keeps its name.
    void addCaptureDatePrefix(const QString &format, const QString &separator);
    void addSuffix(const QString &suffix);
    void addNumbers();
    void replaceText(const QString &search, const QString &replacement);
    void clearNames();
    // The "X" button of slot: empty, or the picture's name again.
    void toggleName(int slot);

    // ---- the start number of the numbering tool ----

    QString startNumber() const { return m_startNumber; }
    void setStartNumber(const QString &text);
    // As after leaving the box: a whole number, padded to the text's length.
    void normaliseStartNumber();

    // ---- save ----

    // What a save did, in the terms the window reports it in.
    struct SaveResult {
        enum Status {
            Saved,      // every file has its typed name
            Duplicates, // two filled slots carry the same name: nothing renamed
            Refused,    // a name cannot be used: nothing renamed
            Failed,     // the renaming failed; the list shows where the files are now
            Outdated,   // another program changed files of the page: nothing renamed, the list read again
        };
        Status status = Saved;
        QStringList duplicates;   // Duplicates: the names the rule lists
        QStringList concerned;    // Refused, Failed: the pictures concerned, as messages name them
        QString message;          // Refused, Failed: what happened and why, for the user
        int renamed = 0;          // files that now carry their typed name
        int changedNames = 0;     // Saved: names of the page that differed from their files' names
        int waitingElsewhere = 0; // typed names of pictures off the page, kept for them and not saved
        int companions = 0;       // companion files renamed with their pictures
        QString history;          // Saved: why the way back could not be kept, when it could not
        bool rolledBack = false;  // Failed: every file has its old name again
        bool listChanged = false; // a list entry now names another file name
        bool ok() const { return status == Saved; }
    };
    // Which names a save takes: the page's slots ("Namen Speichern"), or also
    // the names typed for pictures off the page (the answer Yes when the user
    // leaves the directory or the program, which would drop them).
    enum class SaveScope { Page, PageAndWaiting };
    // Renames the files of the page's filled slots (and, by scope, the other
    // pictures with typed names) to their names.
    SaveResult save(SaveScope scope = SaveScope::Page);

    // ---- the whole directory ----

    // Whether the bulk tools, the numbering and the save take every picture of
    // the directory rather than the page's; names typed for other pages are
    // kept as the pages change. Off: the page alone, as always.
    void setWholeDirectory(bool whole) { m_wholeDirectory = whole; }
    bool wholeDirectory() const { return m_wholeDirectory; }
    // How many pictures have a name that differs from their file's.
    int changedCount() const { return m_typedCount; }
    // Every picture's name, in list order.
    QStringList pictureNames() const;

    // Why the save would refuse the name of a slot, in German; empty when it
    // would take it (or the name is its file's own). The save's own checks:
    // a name that cannot be a file name, one that another picture of the
    // directory also has, one whose file name another file holds. Kept up to
    // date name by name, so a keystroke costs the same in any directory.
    QString nameProblem(int slot) const;
    // The same for a picture of the list.
    QString pictureProblem(int listIndex) const;
    // Pictures whose names the save would refuse; checks every one.
    int problemCount() const;
    // Whether the name of a slot differs from its file's name.
    bool nameDiffers(int slot) const
    {
        return isFilled(slot) && m_pictures.at(listIndex(slot)).typed.has_value();
    }

    // Whether a picture's companion files are renamed with it (on by default).
    void setTakeCompanions(bool take) { m_takeCompanions = take; }
    bool takeCompanions() const { return m_takeCompanions; }

    // ---- undo ----

    // Whether a save of this directory can be taken back, and how many files
    // the next undo would rename.
    bool canUndo() const { return m_history.canUndo(); }
    int undoSize() const { return m_history.newestSize(); }
    // Said once when the directory's history had to be set aside.
    QString takeHistoryProblem() { return m_history.takeProblem(); }
    struct UndoResult {
        bool done = false; // something was renamed back (or nothing could be, and nothing failed)
        QString message;   // for the user: what was taken back, what was skipped and why
    };
    // Takes the newest save of the directory back: all that can be, together;
    // the list is read again and the same page number shown. Typed names are
    // dropped: the caller asks about them first.
    UndoResult undo();

signals:
    // The page was brought up to date (see showPage and relayout).
    void pageShown(bool reload);
    // The name of one slot changed by a tool (not by typing into it).
    void nameChanged(int slot);
    // Names of several slots changed.
    void namesChanged();
    void startNumberChanged(const QString &text);
    // The list began to wait for the capture dates of orderingPaths().
    void orderingStarted();
    // More of the dates the order waits for are in.
    void orderingProgressed();
    // A picture's capture date became known.
    void captureDateChanged(int listIndex);

private:
    void setNameQuietly(int slot, const QString &text);
    void setTyped(int listIndex, const QString &text);
    void dropTyped();
    // Reads the list again; a name typed for a picture goes with its file
    // (by its identity), wherever another program put it.
    void reloadKeepingTyped();
    // Takes the identity of each page picture not yet known.
    void noteSeenFiles();
    QStringList companionsFor(int listIndex) const;
    void setAllNames(const QStringList &names);
    void recordDisplay();
    void beginOrdering();
    void finishOrdering();

    // What a display put on the page: the first list entry, how many slots
    // were filled, and of which listing.
    struct Display {
        int first = 0;
        int filled = 0;
        quint64 listing = 0;
        int entry(int slot) const { return slot >= 0 && slot < filled ? first + slot : -1; }
    };

    QString m_dir;
    QString m_listError;
    QList<pages::Picture> m_pictures;
    quint64 m_listing = 0; // moves on with every load
    int m_typedCount = 0;  // records that hold a typed name
    int m_pageIndex = 0;
    QString m_pendingView; // the picture whose page shows once the dates are in
    bool m_takeCompanions = true;
    bool m_wholeDirectory = false;
    // How many pictures carry each name, and which picture each file name is
    // now: built when first asked, then kept up to date by setTyped.
    mutable QHash<QString, int> m_nameCount;
    mutable QHash<QString, int> m_byFileName;
    mutable bool m_countsValid = false;
    void ensureCounts() const;
    void setPictureNames(const QStringList &names);
    renaming::UndoHistory m_history;
    int m_lastSlot = grid::HighestSlot;
    quint64 m_generation = 0;
    bool m_nextEnabled = false;
    bool m_backEnabled = false;
    Display m_shown;       // the last display
    Display m_shownBefore; // the display before it
    // What the boxes of slots without a picture hold (tools write them too).
    std::array<QString, grid::SlotCount> m_emptySlotNames;
    QString m_startNumber = QStringLiteral("01");
    Order m_order = Order::Name;
    bool m_ordering = false;
    QList<pages::Picture> m_waiting; // while ordering, in name order
    int m_orderingDone = 0;
};
