#include "ui/pages/UnsavedNames.h"

#include "core/pages/PageModel.h"
#include "ui/names/Renaming.h"
#include "ui/window/Dialogs.h"

UnsavedNames::UnsavedNames(QWidget &window, PageModel &model, Renaming &renaming)
    : m_window(window), m_model(model), m_renaming(renaming)
{
}

UnsavedNames::Answer UnsavedNames::ask()
{
    if (!m_model.isModified())
        return Answer::NothingPending;
    const int answer = platform::MsgBox(
        &m_window,
        QStringLiteral(
            "Die Änderungen wurden noch nicht gespeichert.\n\nwillst du die Namen jetzt speichern?"),
        platform::YesNoCancelQuestion, QStringLiteral("Änderungen speichern?"));
    switch (answer) {
    case platform::AnswerYes:
        // Whatever is left behind now would be lost: the names typed for
        // pictures off the page are saved too.
        return m_renaming.Speichern_Click(PageModel::SaveScope::PageAndWaiting) ? Answer::Saved
                                                                                : Answer::Cancelled;
    case platform::AnswerNo:
        return Answer::Discard;
    default:
        return Answer::Cancelled;
    }
}
