#pragma once

#include <QObject>
#include <QPointer>

class PageModel;
class QWidget;
class Settings;
struct Controls;

// The name boxes of the slots and the bulk tools of the two tool bars: date
// prefix, suffix, running numbers, search and replace, clearing. The tools work
// on the page model, whose names the page view shows; the tool-bar boxes are
// this controller's own, and it keeps the prefix and suffix boxes in step with
// the settings at every page display.
//
// The focus conventions of every edit box live in one event filter: a box turns
// white when it gets the focus and pale yellow when it loses it, and Enter is
// swallowed before the box sees it (no line break in a name box) and moves the
// focus on instead.
class NameEditing : public QObject {
    Q_OBJECT
public:
    NameEditing(Controls &controls, PageModel &model, Settings &settings, QObject *parent = nullptr);

    // Name boxes and their "X" buttons.
    void Text1_GotFocus(int index);
    void Text1_KeyPress(int index); // Enter
    void Command3_Click(int index);
    void Command4_Click();

    // Date prefix.
    void JahrText_GotFocus();
    void JahrText_KeyPress(); // Enter
    void JahrText_LostFocus();
    void Command1_Click();

    // Suffix.
    void RechtsAnfTxt_GotFocus();
    void RechtsAnfTxt_KeyPress(); // Enter
    void RechtsAnfTxt_LostFocus();
    void REchtsAnf_Click();

    // Running numbers.
    void NummerTxt_GotFocus();
    void NummerTxt_KeyPress(); // Enter
    void NummerTxt_LostFocus();
    void SetNr_Click();

    // Search and replace.
    void SuchenTxt_Change();
    void SuchenTxt_GotFocus();
    void SuchenTxt_KeyPress(); // Enter
    void SuchenTxt_LostFocus();
    void Ersetzenentxt_GotFocus();
    void Ersetzenentxt_KeyPress(); // Enter
    void Ersetzenentxt_LostFocus();
    void Ersetzen_GotFocus();
    void Ersetzen_Click();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool onFocusIn(QObject *watched);
    bool onFocusOut(QObject *watched);
    bool onEnter(QObject *watched);
    int slotOf(QObject *watched) const;
    void pageShown();

    Controls &m_c;
    PageModel &m_model;
    Settings &m_settings;
    // The box whose got-focus work ran last and whose lose-focus work is due.
    QPointer<QObject> m_holder;
    bool m_prefixClicked = false; // the prefix box got the focus by a click still under way
};
