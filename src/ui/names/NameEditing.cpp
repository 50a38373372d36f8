#include "ui/names/NameEditing.h"

#include "core/pages/PageModel.h"
#include "core/platform/text.h"
#include "core/renaming/NameTools.h"
#include "core/settings/Settings.h"
#include "ui/window/Controls.h"
#include "ui/window/Widgets.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>

namespace {

constexpr quint32 White = 0x00FFFFFF;
constexpr quint32 PaleYellow = 0x00F0FFFF;

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

NameEditing::NameEditing(Controls &controls, PageModel &model, Settings &settings, QObject *parent)
    : QObject(parent), m_c(controls), m_model(model), m_settings(settings)
{
    for (int i = 0; i < grid::SlotCount; ++i) {
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

    // The start number lives in the model, which the page moves shift; the box
    // shows it and hands on whatever is typed (or set) into it.
    connect(m_c.NummerTxt, &QLineEdit::textChanged, &m_model, &PageModel::setStartNumber);
    connect(&m_model, &PageModel::startNumberChanged, this,
            [this](const QString &text) { setTextIfChanged(m_c.NummerTxt, text); });
    setTextIfChanged(m_c.NummerTxt, m_model.startNumber());
    connect(&m_model, &PageModel::pageShown, this, &NameEditing::pageShown);
}

void NameEditing::pageShown()
{
    // Every display shows the prefix and suffix as last stored, not as last typed.
    m_c.JahrText->setText(m_settings.letztesDatum());
    m_c.RechtsAnfTxt->setText(m_settings.rechtsAnf());
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
        // A click into the prefix box places the cursor after the focus came:
        // the selection is made again once the click is over.
        m_prefixClicked = in && watched == m_c.JahrText && reason == Qt::MouseFocusReason;
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
    case QEvent::MouseButtonRelease:
        if (watched == m_c.JahrText && m_prefixClicked) {
            m_prefixClicked = false;
            watched->event(event);
            JahrText_GotFocus();
            return true;
        }
        return false;
    default:
        return false;
    }
}

int NameEditing::slotOf(QObject *watched) const
{
    for (int i = 0; i < grid::SlotCount; ++i) {
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
    if (index + 1 < grid::SlotCount)
        focusIfPossible(m_c.Text1[index + 1]);
}

void NameEditing::Command3_Click(int index)
{
    m_model.toggleName(index);
}

void NameEditing::Command4_Click()
{
    m_model.clearNames();
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
    // Blanks around a prefix are slips of typing: the box, the stored value and
    // a prefix applied right after leaving the box go without them.
    const QString cleaned = text::CleanName(m_c.JahrText->text()).trimmed();
    setTextIfChanged(m_c.JahrText, cleaned);
    // Remembering the value is a convenience: a settings file that cannot be
    // written must not get in the way of editing (the settings report it once).
    m_settings.setLetztesDatum(cleaned);
    setBackColour(m_c.JahrText, PaleYellow);
}

void NameEditing::Command1_Click()
{
    m_model.addPrefix(m_c.JahrText->text());
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
    m_settings.setRechtsAnf(cleaned);
    setBackColour(m_c.RechtsAnfTxt, PaleYellow);
}

void NameEditing::REchtsAnf_Click()
{
    m_model.addSuffix(m_c.RechtsAnfTxt->text());
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
    m_model.normaliseStartNumber();
    setBackColour(m_c.NummerTxt, PaleYellow);
}

void NameEditing::SetNr_Click()
{
    m_model.addNumbers();
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
    m_model.replaceText(m_c.SuchenTxt->text(), m_c.Ersetzenentxt->text());
}
