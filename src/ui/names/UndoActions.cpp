#include "ui/names/UndoActions.h"

#include "core/pages/PageModel.h"
#include "core/settings/Settings.h"
#include "ui/pages/UnsavedNames.h"
#include "ui/window/Controls.h"
#include "ui/window/Dialogs.h"

#include <QCheckBox>
#include <QPushButton>
#include <QSignalBlocker>

UndoActions::UndoActions(QWidget &window, Controls &controls, PageModel &model, Settings &settings,
                         UnsavedNames &unsaved, QObject *parent)
    : QObject(parent), m_window(window), m_c(controls), m_model(model), m_settings(settings),
      m_unsaved(unsaved)
{
    connect(m_c.Rueckgaengig, &QPushButton::clicked, this, &UndoActions::Rueckgaengig_Click);
    // Every save, undo and listing ends in a page shown: the button follows.
    connect(&m_model, &PageModel::pageShown, this, &UndoActions::refresh);
    // Each box shows its setting; only the user's click writes it.
    bindSwitch(
        m_c.Begleitdateien, [this] { return m_settings.begleitdateien(); },
        [this](bool on) { m_settings.setBegleitdateien(on); },
        [this](bool on) { m_model.setTakeCompanions(on); });
    bindSwitch(
        m_c.AlleSeiten, [this] { return m_settings.alleSeiten(); },
        [this](bool on) { m_settings.setAlleSeiten(on); },
        [this](bool on) { m_model.setWholeDirectory(on); });
    // Switched with names typed, their count and markers are told anew.
    connect(m_c.AlleSeiten, &QCheckBox::toggled, &m_model, &PageModel::namesChanged);
    refresh();
}

void UndoActions::bindSwitch(QCheckBox *box, const std::function<bool()> &stored,
                             const std::function<void(bool)> &store, const std::function<void(bool)> &apply)
{
    const auto show = [box, stored, apply] {
        const QSignalBlocker quiet(box);
        box->setChecked(stored());
        apply(stored());
    };
    show();
    connect(&m_settings, &Settings::loaded, this, show);
    connect(box, &QCheckBox::toggled, this, [store, apply](bool on) {
        apply(on);
        store(on);
    });
}

void UndoActions::refresh()
{
    const int files = m_model.undoSize();
    m_c.Rueckgaengig->setEnabled(m_model.canUndo());
    m_c.Rueckgaengig->setToolTip(
        files == 0   ? QStringLiteral("Nichts rückgängig zu machen (Alt+R, Strg+Z)")
        : files == 1 ? QStringLiteral("1 Datei zurückbenennen (Alt+R, Strg+Z)")
                     : QStringLiteral("%1 Dateien zurückbenennen (Alt+R, Strg+Z)").arg(files));
    // A history that had to be set aside is said once, without stopping the user.
    if (const QString problem = m_model.takeHistoryProblem(); !problem.isEmpty())
        platform::Notice(&m_window, problem, QStringLiteral("Rückgängig"));
}

void UndoActions::Rueckgaengig_Click()
{
    if (!m_model.canUndo())
        return;
    // Typed names would be lost with the list read again: ask first.
    if (m_unsaved.ask() == UnsavedNames::Answer::Cancelled)
        return;
    const PageModel::UndoResult r = m_model.undo();
    platform::MsgBox(&m_window, r.message, r.done ? platform::OkInformation : platform::OkCritical,
                     QStringLiteral("Rückgängig"));
}
