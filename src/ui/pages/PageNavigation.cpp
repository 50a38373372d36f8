#include "ui/pages/PageNavigation.h"

#include "core/pages/PageModel.h"
#include "ui/pages/UnsavedNames.h"
#include "ui/window/Controls.h"

#include <QPushButton>

PageNavigation::PageNavigation(Controls &controls, PageModel &model, UnsavedNames &unsaved, QObject *parent)
    : QObject(parent), m_c(controls), m_model(model), m_unsaved(unsaved)
{
    connect(m_c.NextBtn, &QPushButton::clicked, this, &PageNavigation::NextBtn_Click);
    connect(m_c.ZurueckBtn, &QPushButton::clicked, this, &PageNavigation::ZurueckBtn_Click);
    connect(m_c.ReloadBUtton, &QPushButton::clicked, this, &PageNavigation::ReloadBUtton_Click);
}

void PageNavigation::NextBtn_Click()
{
    // With the whole directory the names stay with their pictures: no question.
    if (m_model.wholeDirectory()) {
        m_model.stepForward();
        m_c.Command1->setFocus(Qt::OtherFocusReason);
        m_model.showPage(false);
        return;
    }
    // A Yes saves and stays on the page; a further click moves it.
    const UnsavedNames::Answer answer = m_unsaved.ask();
    if (answer == UnsavedNames::Answer::Saved || answer == UnsavedNames::Answer::Cancelled)
        return;
    m_model.stepForward();
    // Before the page is shown: a tool box losing the focus stores its value,
    // which the display then shows.
    m_c.Command1->setFocus(Qt::OtherFocusReason);
    m_model.showPage(true);
}

void PageNavigation::ZurueckBtn_Click()
{
    if (m_model.wholeDirectory()) {
        m_model.stepBack();
        m_model.showPage(false);
        return;
    }
    const UnsavedNames::Answer answer = m_unsaved.ask();
    if (answer == UnsavedNames::Answer::Saved || answer == UnsavedNames::Answer::Cancelled)
        return;
    m_model.stepBack();
    m_model.showPage(true);
}

void PageNavigation::ReloadBUtton_Click()
{
    // No question: "Zurücksetzen" is there to throw the typed names away.
    m_model.showPage(true);
}
