#include "names/NameEditing.h"

#include "app/Form1.h"
#include "app/Ini.h"
#include "app/Widgets.h"
#include "app/text.h"
#include "names/NameTools.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>

namespace {

constexpr quint32 White = 0x00FFFFFF;
constexpr quint32 PaleYellow = 0x00F0FFFF;

const QString Section = QStringLiteral("Einstellungen");

// A box of a slot without a picture is hidden and cannot take the focus; giving
// it the focus anyway would leave the caret in an invisible box.
bool canTakeFocus(const QWidget *w)
{
    return w->isEnabled() && w->isVisibleTo(w->window()) && w->focusPolicy() != Qt::NoFocus;
}

void focusIfPossible(QWidget *w)
{
    if (canTakeFocus(w))
        w->setFocus(Qt::OtherFocusReason);
}

void setTextIfChanged(QLineEdit *box, const QString &text)
{
    if (box->text() != text)
        box->setText(text);
}

} // namespace

NameEditing::NameEditing(Form1 &form) : m_c(form.controls()), m_s(form.state())
{
    for (int i = 0; i < Controls::ArraySize; ++i) {
        m_c.Text1[i]->installEventFilter(this);
        connect(m_c.Command3[i], &QPushButton::clicked, this, [this, i] { Command3_Click(i); });
    }
    for (QWidget *w : {static_cast<QWidget *>(m_c.JahrText), static_cast<QWidget *>(m_c.RechtsAnfTxt),
                       static_cast<QWidget *>(m_c.NummerTxt), static_cast<QWidget *>(m_c.SuchenTxt),
                       static_cast<QWidget *>(m_c.Ersetzenentxt), static_cast<QWidget *>(m_c.Ersetzen)})
        w->installEventFilter(this);

    // Enter in a tool-bar box hands the focus to its button so that a second
    // Enter presses it, as buttons with the focus always did for the users of
    // this program; Qt buttons outside a dialog ignore Enter unless told.
    for (QPushButton *b : {m_c.Command1, m_c.REchtsAnf, m_c.SetNr, m_c.Ersetzen})
        b->setAutoDefault(true);

    connect(m_c.Command4, &QPushButton::clicked, this, &NameEditing::Command4_Click);
    connect(m_c.Command1, &QPushButton::clicked, this, &NameEditing::Command1_Click);
    connect(m_c.REchtsAnf, &QPushButton::clicked, this, &NameEditing::REchtsAnf_Click);
    connect(m_c.SetNr, &QPushButton::clicked, this, &NameEditing::SetNr_Click);
    connect(m_c.Ersetzen, &QPushButton::clicked, this, &NameEditing::Ersetzen_Click);
    // textChanged, not textEdited: the button must follow the box also when the
    // program changes its text.
    connect(m_c.SuchenTxt, &QLineEdit::textChanged, this, &NameEditing::SuchenTxt_Change);
}

bool NameEditing::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter)
            return onEnter(watched);
        return false;
    }
    case QEvent::FocusIn:
    case QEvent::FocusOut: {
        const bool in = event->type() == QEvent::FocusIn;
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        // Switching to another window, opening a message box or a context menu is
        // not a focus change for the boxes: no cleaning, storing or recolouring.
        // The one exception is a box that receives the focus with the window's
        // activation without having held it before (the first box when the
        // window opens): for it this is a real arrival.
        if (reason == Qt::PopupFocusReason)
            return false;
        if (reason == Qt::ActiveWindowFocusReason && (!in || m_holder == watched))
            return false;
        // The box takes the focus first (a line edit selects all when tabbed
        // into), so a selection set by a handler is the one that stays.
        watched->event(event);
        if (in) {
            // A box that lost the focus while the window was inactive got no
            // event; its lose-focus work is done now.
            if (m_holder && m_holder != watched)
                onFocusOut(m_holder);
            m_holder = watched;
            onFocusIn(watched);
        } else {
            if (m_holder == watched)
                m_holder = nullptr;
            onFocusOut(watched);
        }
        return true;
    }
    default:
        return false;
    }
}

int NameEditing::slotOf(QObject *watched) const
{
    for (int i = 0; i < Controls::ArraySize; ++i) {
        if (m_c.Text1[i] == watched)
            return i;
    }
    return -1;
}

bool NameEditing::onFocusIn(QObject *watched)
{
    if (watched == m_c.JahrText)
        JahrText_GotFocus();
    else if (watched == m_c.RechtsAnfTxt)
        RechtsAnfTxt_GotFocus();
    else if (watched == m_c.NummerTxt)
        NummerTxt_GotFocus();
    else if (watched == m_c.SuchenTxt)
        SuchenTxt_GotFocus();
    else if (watched == m_c.Ersetzenentxt)
        Ersetzenentxt_GotFocus();
    else if (watched == m_c.Ersetzen)
        Ersetzen_GotFocus();
    else if (const int i = slotOf(watched); i >= 0)
        Text1_GotFocus(i);
    else
        return false;
    return true;
}

bool NameEditing::onFocusOut(QObject *watched)
{
    if (watched == m_c.JahrText)
        JahrText_LostFocus();
    else if (watched == m_c.RechtsAnfTxt)
        RechtsAnfTxt_LostFocus();
    else if (watched == m_c.NummerTxt)
        NummerTxt_LostFocus();
    else if (watched == m_c.SuchenTxt)
        SuchenTxt_LostFocus();
    else if (watched == m_c.Ersetzenentxt)
        Ersetzenentxt_LostFocus();
    else
        return false;
    return true;
}

bool NameEditing::onEnter(QObject *watched)
{
    if (watched == m_c.JahrText)
        JahrText_KeyPress();
    else if (watched == m_c.RechtsAnfTxt)
        RechtsAnfTxt_KeyPress();
    else if (watched == m_c.NummerTxt)
        NummerTxt_KeyPress();
    else if (watched == m_c.SuchenTxt)
        SuchenTxt_KeyPress();
    else if (watched == m_c.Ersetzenentxt)
        Ersetzenentxt_KeyPress();
    else if (const int i = slotOf(watched); i >= 0)
        Text1_KeyPress(i);
    else
        return false; // a button: Enter is its own business
    return true;
}

QStringList NameEditing::pageTexts() const
{
    QStringList texts;
    for (int i = 0; i <= m_s.LastSlot && i < Controls::ArraySize; ++i)
        texts << m_c.Text1[i]->toPlainText();
    return texts;
}

void NameEditing::setPageTexts(const QStringList &texts)
{
    for (int i = 0; i < texts.size() && i < Controls::ArraySize; ++i) {
        if (m_c.Text1[i]->toPlainText() != texts.at(i))
            m_c.Text1[i]->setPlainText(texts.at(i));
    }
}

QList<bool> NameEditing::filledSlots() const
{
    QList<bool> filled;
    for (int i = 0; i <= m_s.LastSlot && i < m_s.PageNames.size(); ++i)
        filled << !m_s.PageNames.at(i).isEmpty();
    return filled;
}

void NameEditing::storeTrimmed(const QString &key, const QString &value)
{
    // Remembering the value is a convenience: a settings file that cannot be
    // written must not get in the way of editing, and it is not reported.
    const ini::WriteResult r = ini::IniWrite(Section, key, value.trimmed(), m_s.IniPath, true);
    Q_UNUSED(r);
}

// --- Name boxes ---

void NameEditing::Text1_GotFocus(int index)
{
    QPlainTextEdit *box = m_c.Text1[index];
    const names::Selection sel = names::nameSelectionOnFocus(box->toPlainText(), m_c.JahrText->text());
    QTextCursor cursor = box->textCursor();
    cursor.setPosition(sel.start);
    cursor.setPosition(sel.start + sel.length, QTextCursor::KeepAnchor);
    box->setTextCursor(cursor);
}

void NameEditing::Text1_KeyPress(int index)
{
    // No wrap-around: Enter in the last box of the page, or before a slot without
    // a picture, leaves the focus where it is.
    if (index + 1 < Controls::ArraySize)
        focusIfPossible(m_c.Text1[index + 1]);
}

void NameEditing::Command3_Click(int index)
{
    const QString path = index < m_s.PageNames.size() ? m_s.PageNames.at(index) : QString();
    QPlainTextEdit *box = m_c.Text1[index];
    box->setPlainText(names::toggledName(box->toPlainText(), path));
}

void NameEditing::Command4_Click()
{
    setPageTexts(QStringList(int(pageTexts().size())));
}

// --- Date prefix ---

void NameEditing::JahrText_GotFocus()
{
    setBackColour(m_c.JahrText, White);
    const names::Selection sel = names::prefixSelectionOnFocus(m_c.JahrText->text());
    if (sel.length > 0)
        m_c.JahrText->setSelection(sel.start, sel.length);
    else
        m_c.JahrText->setCursorPosition(sel.start);
}

void NameEditing::JahrText_KeyPress()
{
    focusIfPossible(m_c.Command1);
}

void NameEditing::JahrText_LostFocus()
{
    // The box keeps its blanks; the stored value is trimmed, so the next page
    // display shows the prefix without them.
    const QString cleaned = text::CleanName(m_c.JahrText->text());
    setTextIfChanged(m_c.JahrText, cleaned);
    storeTrimmed(QStringLiteral("LetztesDatum"), cleaned);
    setBackColour(m_c.JahrText, PaleYellow);
}

void NameEditing::Command1_Click()
{
    setPageTexts(names::prefixNames(pageTexts(), filledSlots(), m_c.JahrText->text()));
    focusIfPossible(m_c.Text1[0]);
}

// --- Suffix ---

void NameEditing::RechtsAnfTxt_GotFocus()
{
    setBackColour(m_c.RechtsAnfTxt, White);
}

void NameEditing::RechtsAnfTxt_KeyPress()
{
    focusIfPossible(m_c.REchtsAnf);
}

void NameEditing::RechtsAnfTxt_LostFocus()
{
    const QString cleaned = text::CleanName(m_c.RechtsAnfTxt->text());
    setTextIfChanged(m_c.RechtsAnfTxt, cleaned);
    storeTrimmed(QStringLiteral("RechtsAnf"), cleaned);
    setBackColour(m_c.RechtsAnfTxt, PaleYellow);
}

void NameEditing::REchtsAnf_Click()
{
    setPageTexts(names::suffixNames(pageTexts(), filledSlots(), m_c.RechtsAnfTxt->text()));
    focusIfPossible(m_c.Text1[0]);
}

// --- Running numbers ---

void NameEditing::NummerTxt_GotFocus()
{
    setBackColour(m_c.NummerTxt, White);
}

void NameEditing::NummerTxt_KeyPress()
{
    // Leaving the box normalises the number before the button is pressed.
    focusIfPossible(m_c.SetNr);
}

void NameEditing::NummerTxt_LostFocus()
{
    setTextIfChanged(m_c.NummerTxt, names::normaliseStartNumber(m_c.NummerTxt->text()));
    setBackColour(m_c.NummerTxt, PaleYellow);
}

void NameEditing::SetNr_Click()
{
    setPageTexts(names::numberNames(pageTexts(), m_c.NummerTxt->text()));
}

// --- Search and replace ---

void NameEditing::SuchenTxt_Change()
{
    m_c.Ersetzen->setEnabled(!m_c.SuchenTxt->text().isEmpty());
}

void NameEditing::SuchenTxt_GotFocus()
{
    setBackColour(m_c.SuchenTxt, White);
}

void NameEditing::SuchenTxt_KeyPress()
{
    focusIfPossible(m_c.Ersetzenentxt);
}

void NameEditing::SuchenTxt_LostFocus()
{
    setBackColour(m_c.SuchenTxt, PaleYellow);
}

void NameEditing::Ersetzenentxt_GotFocus()
{
    setBackColour(m_c.Ersetzenentxt, White);
}

void NameEditing::Ersetzenentxt_KeyPress()
{
    // A disabled button cannot take the focus; the box is painted as having lost
    // it all the same.
    focusIfPossible(m_c.Ersetzen);
    Ersetzenentxt_LostFocus();
}

void NameEditing::Ersetzenentxt_LostFocus()
{
    setBackColour(m_c.Ersetzenentxt, PaleYellow);
}

void NameEditing::Ersetzen_GotFocus()
{
    setBackColour(m_c.Ersetzenentxt, White);
}

void NameEditing::Ersetzen_Click()
{
    QStringList texts = pageTexts();
    for (QString &t : texts)
        t = names::ReplaceNoCase(t, m_c.SuchenTxt->text(), m_c.Ersetzenentxt->text());
    setPageTexts(texts);
}
