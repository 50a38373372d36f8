#include "pages/PageNavigation.h"

#include "names/NameTools.h"
#include "names/Renaming.h"
#include "pages/PageView.h"
#include "platform/Dialogs.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

QString withoutExtension(const QString &fileName)
{
    return fileName.left(fileName.size() - 4);
}

} // namespace

PageNavigation::PageNavigation(Form1 &form, Renaming &renaming)
    : m_form(form), m_renaming(renaming), m_c(form.controls()), m_s(form.state())
{
    connect(m_c.NextBtn, &QPushButton::clicked, this, &PageNavigation::NextBtn_Click);
    connect(m_c.ZurueckBtn, &QPushButton::clicked, this, &PageNavigation::ZurueckBtn_Click);
    connect(m_c.ReloadBUtton, &QPushButton::clicked, this, &PageNavigation::ReloadBUtton_Click);
    m_form.unsavedNamesGuard = [this] { return askToSave(); };
}

PageNavigation::~PageNavigation()
{
    m_form.unsavedNamesGuard = nullptr;
}

bool PageNavigation::PageModified() const
{
    for (int i = 0; i <= m_s.LastSlot; ++i) {
        const QString &path = m_s.PageNames.at(i);
        const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
        if (!name.isEmpty() && withoutExtension(name) != m_c.Text1[i]->toPlainText())
            return true;
    }
    for (auto it = m_s.TypedNames.cbegin(); it != m_s.TypedNames.cend(); ++it)
        if (withoutExtension(it.key()) != it.value())
            return true;
    return false;
}

Form1::UnsavedAnswer PageNavigation::askToSave()
{
    if (!PageModified())
        return Form1::UnsavedAnswer::NothingPending;
    const int answer = platform::MsgBox(
        &m_form,
        QStringLiteral(
            "Die Änderungen wurden noch nicht gespeichert.\n\nwillst du die Namen jetzt speichern?"),
        platform::YesNoCancelQuestion, QStringLiteral("Änderungen speichern?"));
    switch (answer) {
    case platform::AnswerYes:
        return m_renaming.Speichern_Click() ? Form1::UnsavedAnswer::Saved : Form1::UnsavedAnswer::Cancelled;
    case platform::AnswerNo:
        return Form1::UnsavedAnswer::Discard;
    default:
        return Form1::UnsavedAnswer::Cancelled;
    }
}

void PageNavigation::NextBtn_Click()
{
    // A Yes saves and stays on the page; a further click moves it.
    const Form1::UnsavedAnswer answer = askToSave();
    if (answer == Form1::UnsavedAnswer::Saved || answer == Form1::UnsavedAnswer::Cancelled)
        return;
    ++m_s.PageIndex;
    m_c.NextBtn->setEnabled(qint64(m_s.PageIndex + 1) * (m_s.LastSlot + 1) < m_s.FileCount);
    const names::StartNumberStep step = names::nextPageStartNumber(m_c.NummerTxt->text(), m_s.LastSlot);
    if (step.ok)
        m_c.NummerTxt->setText(step.text);
    m_c.Command1->setFocus(Qt::OtherFocusReason);
    m_form.pageView().ShowPage(true);
}

void PageNavigation::ZurueckBtn_Click()
{
    const Form1::UnsavedAnswer answer = askToSave();
    if (answer == Form1::UnsavedAnswer::Saved || answer == Form1::UnsavedAnswer::Cancelled)
        return;
    m_s.PageIndex = qMax(0, m_s.PageIndex - 1);
    const names::StartNumberStep step = names::previousPageStartNumber(m_c.NummerTxt->text(), m_s.LastSlot);
    if (step.ok)
        m_c.NummerTxt->setText(step.text);
    m_form.pageView().ShowPage(true);
}

void PageNavigation::ReloadBUtton_Click()
{
    m_form.pageView().ShowPage(true);
}
