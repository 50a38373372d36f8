#pragma once

#include "pages/FormState.h"

#include <QObject>
#include <array>

class Form1;
struct Controls;

// Reads the picture directory into the list, lays the thumbnail grid out for the
// window's size and fills the current page.
class PageView : public QObject {
    Q_OBJECT
public:
    explicit PageView(Form1 &form);

    // Reads a directory into FileNames/FileCount: the remembered one, or
    // directory when given (the directory of this run: one the settings file
    // could not remember must not be replaced by an older one). A directory that
    // cannot be listed gives an empty list and a hint in VerzeichnisText.
    void LoadFileList(const QString &directory = QString());

    // Brings the window up to date for the current page. With reload the slots go
    // back to the placeholder and the thumbnails are drawn again.
    void ShowPage(bool reload);

    // Fits the slots into the window's size and sets LastSlot.
    void LayoutThumbnails();

    // The caption VerzeichnisText shows for the current directory.
    QString directoryCaption() const;

signals:
    // A display with reload has put the placeholders back: pending thumbnail work
    // for the earlier page is stale (FormState::Generation has been bumped).
    void pageReloading();
    // The display asks for the thumbnail pass over the page just filled.
    void thumbnailPassRequested();

private:
    Form1 &m_form;
    Controls &m_c;
    FormState &m_s;
    // The list index each slot showed at the last display, -1 for none. A display
    // without reload keeps a slot's picture only while the slot still shows the
    // same list entry: a relayout moves entries to other slots, a renaming does not.
    std::array<qint64, FormState::SlotCount> m_slotIndex;
};
