#include "names/Renaming.h"

#include "app/Form1.h"
#include "names/RenamePlan.h"
#include "names/RenameRun.h"
#include "pages/PageView.h"
#include "platform/Dialogs.h"
#include "platform/FileNames.h"

#include <QPlainTextEdit>
#include <QPushButton>

namespace {

const QString Cancelled = QStringLiteral("Abgebrochen!");

} // namespace

Renaming::Renaming(Form1 &form) : m_form(form), m_c(form.controls()), m_s(form.state())
{
    connect(m_c.Speichern, &QPushButton::clicked, this, [this] { Speichern_Click(); });
}

bool Renaming::CheckDuplicates()
{
    QStringList names;
    QList<bool> filled;
    for (int i = 0; i <= m_s.LastSlot; ++i) {
        names << m_c.Text1[i]->toPlainText();
        filled << !m_s.PageNames.value(i).isEmpty();
    }
    const QStringList duplicates = renaming::duplicateNames(names, filled);
    if (duplicates.isEmpty())
        return false;
    platform::MsgBox(&m_form, renaming::duplicatesMessage(duplicates), platform::OkCritical, Cancelled);
    return true;
}

bool Renaming::Speichern_Click()
{
    if (CheckDuplicates())
        return false;

    const QString dir = m_s.PictureDir;
    QList<renaming::NameEdit> edits;
    QList<int> listIndex; // per edit: its FileNames entry
    for (int i = 0; i <= m_s.LastSlot; ++i) {
        const QString path = m_s.PageNames.value(i);
        const int k = m_s.listIndex(i);
        if (path.isEmpty() || k < 0 || k >= m_s.FileCount)
            continue;
        edits << renaming::NameEdit{renaming::slotLabel(i, platform::fileNameOf(path)), path,
                                    m_c.Text1[i]->toPlainText()};
        listIndex << k;
    }
    // Names typed for pictures that a relayout moved off the page are saved too:
    // the next page display would drop them without a word.
    for (auto it = m_s.TypedNames.cbegin(); it != m_s.TypedNames.cend(); ++it) {
        const int k = int(m_s.FileNames.indexOf(it.key()));
        if (k < 0 || k >= m_s.FileCount || listIndex.contains(k))
            continue;
        edits << renaming::NameEdit{QStringLiteral("„%1“ (nicht auf dieser Seite)").arg(it.key()),
                                    dir + it.key(), it.value()};
        listIndex << k;
    }

    const renaming::Plan plan = renaming::planNameEdits(dir, edits);
    if (!plan.ok()) {
        platform::MsgBox(&m_form, renaming::refusalMessage(plan), platform::OkCritical, Cancelled);
        return false;
    }
    const renaming::RunResult run = renaming::runPlan(plan);

    if (!run.ok()) {
        // The list takes a name only when the file really has it; the typed
        // names stay, also for a file that was left under another name.
        bool listChanged = false;
        for (int e = 0; e < edits.size(); ++e) {
            QString &entry = m_s.FileNames[listIndex.at(e)];
            const QString now = platform::fileNameOf(run.current.at(e));
            if (entry != now) {
                m_s.TypedNames.remove(entry);
                entry = now;
                listChanged = true;
            }
        }
        platform::MsgBox(&m_form, renaming::failureMessage(plan, run), platform::OkCritical, Cancelled);
        if (listChanged) {
            for (int e = 0; e < edits.size(); ++e)
                m_s.TypedNames.insert(m_s.FileNames.at(listIndex.at(e)), edits.at(e).newName);
            m_form.pageView().ShowPage(false);
        }
        return false;
    }

    for (int e = 0; e < edits.size(); ++e)
        m_s.FileNames[listIndex.at(e)] = platform::fileNameOf(run.current.at(e));
    for (int e = 0; e < edits.size(); ++e) {
        m_s.TypedNames.remove(platform::fileNameOf(plan.requests.at(e).from));
        m_s.TypedNames.remove(platform::fileNameOf(plan.requests.at(e).to));
    }
    platform::MsgBox(&m_form, QStringLiteral("Alle Dateien sind umbenannt"), platform::OkInformation,
                     QStringLiteral("Benennung erfolgreich!"));
    m_form.pageView().ShowPage(false);
    return true;
}

void Renaming::recoverInterruptedRenames()
{
    const QList<renaming::Recovery> recoveries = renaming::recoverJournals();
    if (recoveries.isEmpty())
        return;
    bool clean = true;
    for (const renaming::Recovery &r : recoveries)
        clean = clean && r.problems.isEmpty();
    platform::MsgBox(&m_form, renaming::recoveryMessage(recoveries),
                     clean ? platform::OkInformation : platform::OkCritical,
                     QStringLiteral("Umbenennen unterbrochen"));
}
