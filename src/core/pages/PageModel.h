#pragma once

#include "core/renaming/RenamePlan.h"
#include "core/renaming/RenameRun.h"

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
// Slot i of page p shows list entry p x (lastSlot + 1) + i. A name typed for a
// picture belongs to the picture, not to the slot: it follows the picture when
// a new layout moves it to another slot or off the page, and it is dropped only
// by a display that reloads the page, a new listing, or a save that gave the
// file that name.
class PageModel : public QObject {
    Q_OBJECT
public:
    static constexpr int SlotCount = 53; // slots 0..52 take part in a page

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

    int fileCount() const { return int(m_files.size()); }
    const QStringList &fileNames() const { return m_files; }
    QString fileName(int listIndex) const;
    // The full path of list entry listIndex; empty outside the list.
    QString pathOf(int listIndex) const;
    // The name a picture shows in its box: its file name without the
    // four-character extension (".jpg" with its dot, in any letter case).
    static QString shownName(const QString &fileName);

    // ---- the page ----

    int pageIndex() const { return m_pageIndex; }
    void setPageIndex(int pageIndex);
    // The highest slot in use; -1 when not even one slot fits.
    int lastSlot() const { return m_lastSlot; }
    int listIndex(int slot) const { return m_pageIndex * (m_lastSlot + 1) + slot; }
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

    struct SaveResult {
        enum Status {
            Saved,      // every file has its typed name
            Duplicates, // two filled slots carry the same name: nothing renamed
            Refused,    // a name cannot be used: nothing renamed
            Failed,     // the renaming failed; the list shows where the files are now
        };
        Status status = Saved;
        QStringList duplicates;
        renaming::Plan plan;
        renaming::RunResult run;
        bool listChanged = false; // a list entry now names another file name
        bool ok() const { return status == Saved; }
    };
    // Checks the duplicate rule, plans the renames of the page's names (and of
    // names typed for pictures a new layout moved off it), runs them all or
    // nothing, and applies the real outcome to the list. Does not show the page:
    // the caller reports the outcome first.
    SaveResult save();

signals:
    // The page was brought up to date (see showPage and relayout).
    void pageShown(bool reload);
    // The name of one slot changed by a tool (not by typing into it).
    void nameChanged(int slot);
    // Names of several slots changed.
    void namesChanged();
    void startNumberChanged(const QString &text);

private:
    void setNameQuietly(int slot, const QString &text);
    void setAllNames(const QStringList &names);

    QString m_dir;
    QString m_listError;
    QStringList m_files;
    int m_pageIndex = 0;
    int m_lastSlot = 52;
    quint64 m_generation = 0;
    bool m_nextEnabled = false;
    bool m_backEnabled = false;
    // The name typed for a picture, by list index, when it differs from the
    // picture's shown name.
    QHash<int, QString> m_typed;
    // What the boxes of slots without a picture hold (tools write them too).
    std::array<QString, SlotCount> m_emptySlotNames;
    QString m_startNumber = QStringLiteral("01");
};
