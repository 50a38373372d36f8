#include "ui/names/Renaming.h"

#include "core/pages/PageModel.h"
#include "core/renaming/RenamePlan.h"
#include "core/renaming/RenameRun.h"
#include "ui/window/Dialogs.h"

#include <QPushButton>

namespace {
const QString Cancelled = QStringLiteral("Abgebrochen!");
} // namespace

Renaming::Renaming(QWidget &window, QPushButton &speichern, PageModel &model, QObject *parent)
    : QObject(parent), m_window(window), m_model(model)
{
    connect(&speichern, &QPushButton::clicked, this, [this] { Speichern_Click(); });
}

bool Renaming::Speichern_Click(PageModel::SaveScope scope)
{
    const PageModel::SaveResult r = m_model.save(scope);
    switch (r.status) {
    case PageModel::SaveResult::Duplicates:
        platform::MsgBox(&m_window, renaming::duplicatesMessage(r.duplicates), platform::OkCritical,
                         Cancelled);
        return false;
    case PageModel::SaveResult::Refused:
        platform::MsgBox(&m_window, r.message, platform::OkCritical, Cancelled);
        return false;
    case PageModel::SaveResult::Failed:
        platform::MsgBox(&m_window, r.message, platform::OkCritical, Cancelled);
        // The page shows where the files are now; the typed names stay.
        if (r.listChanged)
            m_model.showPage(false);
        return false;
    case PageModel::SaveResult::Outdated:
        platform::MsgBox(&m_window, r.message, platform::OkCritical, Cancelled);
        // The list was read again: the page shows the files as they are now,
        // each typed name with its picture.
        m_model.showPage(false);
        return false;
    case PageModel::SaveResult::Saved:
        break;
    }
    QString text = r.changedNames == 0
                       ? QStringLiteral("Kein Name wurde geändert, keine Datei wurde umbenannt")
                       : QStringLiteral("Alle Dateien sind umbenannt");
    if (r.companions == 1)
        text += QStringLiteral("\n\n1 Begleitdatei wurde mit ihrem Bild umbenannt");
    else if (r.companions > 1)
        text += QStringLiteral("\n\n%1 Begleitdateien wurden mit ihren Bildern umbenannt").arg(r.companions);
    if (r.waitingElsewhere == 1)
        text += QStringLiteral("\n\n1 weiterer geänderter Name ist noch nicht gespeichert");
    else if (r.waitingElsewhere > 1)
        text += QStringLiteral("\n\n%1 weitere geänderte Namen sind noch nicht gespeichert")
                    .arg(r.waitingElsewhere);
    if (!r.history.isEmpty())
        text += QStringLiteral("\n\n") + r.history;
    platform::MsgBox(&m_window, text, platform::OkInformation, QStringLiteral("Benennung erfolgreich!"));
    m_model.showPage(false);
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
    platform::MsgBox(&m_window, renaming::recoveryMessage(recoveries),
                     clean ? platform::OkInformation : platform::OkCritical,
                     QStringLiteral("Umbenennen unterbrochen"));
}
