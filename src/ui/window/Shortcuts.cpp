#include "ui/window/Shortcuts.h"

#include "core/pages/Grid.h"
#include "ui/window/Controls.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeView>

namespace {

void nameKey(QWidget *w, const QString &key)
{
    const QString tip = w->toolTip();
    w->setToolTip(tip.isEmpty() ? key : tip + QStringLiteral(" (") + key + QLatin1Char(')'));
}

// A click as the user gives it: nothing for a button that is hidden or
// disabled, exactly as the mouse could not reach it.
bool press(QPushButton *b)
{
    if (!b || !b->isVisible() || !b->isEnabled())
        return false;
    b->click();
    return true;
}

bool isTextBox(const QWidget *w)
{
    return qobject_cast<const QLineEdit *>(w) || qobject_cast<const QPlainTextEdit *>(w) ||
           qobject_cast<const QAbstractSpinBox *>(w) || qobject_cast<const QComboBox *>(w);
}

} // namespace

Shortcuts::Shortcuts(QWidget &window, Controls &controls, QObject *parent)
    : QObject(parent), m_window(window), m_c(controls)
{
    nameKey(m_c.NextBtn, QStringLiteral("Nächste Seite: Bild ab"));
    nameKey(m_c.ZurueckBtn, QStringLiteral("Vorige Seite: Bild auf"));
    nameKey(m_c.Speichern, QStringLiteral("Strg+S"));
    nameKey(m_c.Command5, QStringLiteral("F5"));
    nameKey(m_c.VerzeichnisWechseln, QStringLiteral("Strg+O"));
    nameKey(m_c.Command2, QStringLiteral("Esc"));
    for (QPlainTextEdit *box : m_c.Text1)
        nameKey(box, QStringLiteral("Alt+Pfeil auf/ab: Name darüber/darunter"));
    // Before the focus widget: a name box would take Page Up/Down for itself.
    qApp->installEventFilter(this);
}

Shortcuts::~Shortcuts()
{
    if (qApp)
        qApp->removeEventFilter(this);
}

bool Shortcuts::moveBetweenNameBoxes(int step)
{
    const QWidget *focus = QApplication::focusWidget();
    for (int i = 0; i < grid::SlotCount; ++i) {
        if (m_c.Text1[size_t(i)] != focus)
            continue;
        const int to = i + step;
        if (to >= 0 && to < grid::SlotCount && m_c.Text1[size_t(to)]->isVisible() &&
            m_c.Text1[size_t(to)]->isEnabled())
            m_c.Text1[size_t(to)]->setFocus(Qt::TabFocusReason);
        return true;
    }
    return false;
}

bool Shortcuts::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return false;
    auto *target = static_cast<QWidget *>(watched);
    // Only keys meant for this window: a message box or menu keeps its own.
    if (target->window() != &m_window || QApplication::activePopupWidget() ||
        QApplication::activeModalWidget())
        return false;
    const auto *key = static_cast<QKeyEvent *>(event);
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    // The chooser's tree and drive list page through their entries themselves
    // (also where they let the key go on to their parents, at the list's end).
    QWidget *focus = QApplication::focusWidget();
    const auto within = [focus](QWidget *w) { return w && focus && (w == focus || w->isAncestorOf(focus)); };
    const bool inChooser = within(m_c.VerzeichnisWahl) || within(m_c.DirTemp) || within(m_c.Drive1);
    if (inChooser && (key->key() == Qt::Key_PageDown || key->key() == Qt::Key_PageUp))
        return false;
    switch (key->key()) {
    case Qt::Key_PageDown:
        return mods == Qt::NoModifier && press(m_c.NextBtn);
    case Qt::Key_PageUp:
        return mods == Qt::NoModifier && press(m_c.ZurueckBtn);
    case Qt::Key_S:
        return mods == Qt::ControlModifier && press(m_c.Speichern);
    case Qt::Key_F5:
        return mods == Qt::NoModifier && press(m_c.Command5);
    case Qt::Key_O:
        return mods == Qt::ControlModifier && press(m_c.VerzeichnisWechseln);
    case Qt::Key_Escape:
        return mods == Qt::NoModifier && m_c.VerzeichnisWahl->isVisible() && press(m_c.Command2);
    case Qt::Key_Z:
        // In a text box Ctrl+Z undoes the typing, as it always has.
        return mods == Qt::ControlModifier && !isTextBox(focus) && press(m_c.Rueckgaengig);
    case Qt::Key_Up:
        return mods == Qt::AltModifier && moveBetweenNameBoxes(-1);
    case Qt::Key_Down:
        return mods == Qt::AltModifier && moveBetweenNameBoxes(1);
    default:
        return false;
    }
}
