#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

// The window's shared state, owned by Form1 for its whole life. Counts and
// indexes are int so directories beyond 32,767 pictures work.
struct FormState {
    static constexpr int SlotCount = 53; // slots 0..52 take part in the grid

    int PageIndex = 0;    // page shown, from 0
    int LastSlot = 52;    // highest slot index in use; -1 when no slot fits
    bool Closing = false; // the window is being closed
    QString IniPath;      // full path of the settings file
    QString PictureDir;   // open picture directory, ending in a separator
    int FileCount = 0;    // pictures in the list at the last load
    QStringList FileNames;                        // FileCount + 2 entries, the last two empty
    QStringList PageNames = QStringList(SlotCount); // full path per slot, empty for an empty slot

    int GridRows = 0;    // grid rows that fit; 0 before the first layout
    int GridColumns = 0; // grid columns that fit; 0 before the first layout

    // Bumped by every page display that reloads the thumbnails, so work started
    // for an earlier page can recognise itself as stale and be dropped.
    quint64 Generation = 0;

    // Names typed but not saved, by file name (a FileNames entry), for pictures
    // that a relayout moved off or around the page. A display without reload shows
    // them again; a display with reload, a new listing or a save drops them.
    QHash<QString, QString> TypedNames;

    // Why the last listing of PictureDir failed; empty when it succeeded.
    QString ListError;

    // List index shown by slot i of the current page.
    int listIndex(int slot) const { return PageIndex * (LastSlot + 1) + slot; }
};
