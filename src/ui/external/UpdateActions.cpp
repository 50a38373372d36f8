#include "ui/external/UpdateActions.h"

#include "core/platform/FileNames.h"

#include "core/platform/Process.h"
#include "core/settings/Settings.h"
#include "core/update/UpdateManifest.h"
#include "core/update/UpdaterFetch.h"
#include "core/update/WWWUpdate.h"
#include "ui/pages/UnsavedNames.h"
#include "ui/window/Controls.h"
#include "ui/window/Dialogs.h"
#include "ui/window/Widgets.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProgressBar>
#include <QProgressDialog>
#include <QScopeGuard>
#include <QUrl>
#include <unistd.h>

using wwwupdate::FetchResult;
using wwwupdate::FetchStatus;
using wwwupdate::UpdaterFetch;
using wwwupdate::URLDownload;

namespace {
// What the program is: a release must be newer than this.
const QString RunningVersion = QStringLiteral(NAMORA_VERSION);
} // namespace

UpdateActions::UpdateActions(QWidget &window, ClickLabel &label, Settings &settings, UnsavedNames &unsaved,
                             const QString &programDir, QObject *parent)
    : QObject(parent), m_window(window), m_settings(settings), m_unsaved(unsaved), m_programDir(programDir),
      m_timeoutMs(URLDownload::DefaultTimeoutMs)
{
    endProgram = [] { QCoreApplication::exit(0); };
    connect(&label, &ClickLabel::clicked, this, &UpdateActions::Label1_Click);
}

void UpdateActions::windowClosing()
{
    // A window that closes takes a running download with it, quietly: the
    // temporary file goes, nothing is started and no message interrupts the close.
    if (!m_fetch)
        return;
    disconnect(m_fetch, nullptr, this, nullptr);
    delete m_fetch;
    m_fetch = nullptr;
    closeProgress();
}

UpdateActions::~UpdateActions()
{
    // The window's controls and state may be gone already: a download still
    // running only removes its temporary file and reports to nobody.
    if (m_fetch)
        disconnect(m_fetch, nullptr, this, nullptr);
}

void UpdateActions::Label1_Click()
{
    if (m_installed) {
        platform::Notice(&m_window,
                         QStringLiteral("Diese Namora-Installation wird mit der Paketverwaltung des Systems "
                                        "aktualisiert. Neue Versionen kommen mit den Updates des Systems; "
                                        "Namora lädt selbst nichts herunter."),
                         QStringLiteral("Online Update"));
        return;
    }
    const QString server = m_settings.updateServer();
    QString programDir = m_programDir;
    if (programDir.isEmpty())
        programDir = QCoreApplication::applicationDirPath();
    const wwwupdate::UpdateValues v = wwwupdate::updateValues(
        server, programDir, QFileInfo(QCoreApplication::applicationFilePath()).fileName());
    OnlineUpdate(v.programUrl, v.programFile, v.updaterPath, v.updaterUrl, v.extra);
}

UpdateActions::UpdateOutcome UpdateActions::OnlineUpdate(const QString &programUrl,
                                                         const QString &programFile,
                                                         const QString &updaterPath,
                                                         const QString &updaterUrl, const QString &extra)
{
    // A second click while the updater is fetched changes nothing.
    if (m_fetch)
        return UpdateOutcome::Busy;

    // Without a key nothing fetched could be checked, and nothing unchecked runs.
    const QByteArray key = wwwupdate::updatePublicKey();
    if (key.size() != wwwupdate::PublicKeyBytes)
        return refuse(UpdateOutcome::NoKey, QString(), QString(), false);

    // The updater runs what it is pointed at, so both addresses must be safe
    // before anything is fetched or started.
    for (const QString &address : {updaterUrl, programUrl}) {
        if (wwwupdate::checkAddress(QUrl(address, QUrl::StrictMode)) != wwwupdate::AddressCheck::Allowed) {
            platform::MsgBox(
                &m_window, address + QStringLiteral("\n\nUpdate abgelehnt: nur https-Adressen sind erlaubt!"),
                platform::OkCritical, QString());
            return report(UpdateOutcome::Refused);
        }
    }

    m_pending = {programUrl, programFile, updaterPath, updaterUrl, extra};
    // A stored updater is used without asking the server only when its signed
    // manifest still describes it and is newer than this program. Anything else
    // (no manifest, a release already installed, a changed file) is fetched anew:
    // the stored file is never started, and is replaced only by a verified one.
    if (wwwupdate::isNormalFile(updaterPath) &&
        wwwupdate::checkStoredUpdater(updaterPath, wwwupdate::manifestPathFor(updaterPath), key,
                                      RunningVersion)
            .ok())
        return startUpdater(m_pending);

    m_fetch = new UpdaterFetch(this);
    m_fetch->setTimeout(m_timeoutMs);
    connect(m_fetch, &UpdaterFetch::finished, this, &UpdateActions::fetchFinished);

    // The download runs on the event loop, so the window keeps painting; the
    // dialog is window-modal so that the page cannot change underneath it. Our
    // own bar is driven directly, because the dialog's setValue() runs a nested
    // event loop while modal.
    auto *dialog = new QProgressDialog(&m_window);
    dialog->setObjectName(QStringLiteral("UpdateProgress"));
    dialog->setWindowTitle(QStringLiteral("Online Update"));
    dialog->setLabelText(QStringLiteral("Lade herunter: ") + updaterUrl);
    dialog->setCancelButtonText(QStringLiteral("Abbrechen"));
    auto *bar = new QProgressBar(dialog);
    bar->setRange(0, 0);
    dialog->setBar(bar);
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    dialog->setWindowModality(Qt::WindowModal);
    connect(dialog, &QProgressDialog::canceled, this, [this] {
        if (m_fetch)
            m_fetch->cancel();
    });
    connect(dialog, &QDialog::rejected, this, [this] {
        if (m_fetch)
            m_fetch->cancel();
    });
    connect(m_fetch, &UpdaterFetch::progress, this, [this](qint64 received, qint64 total) {
        if (!m_bar)
            return;
        if (total > 0) {
            m_bar->setRange(0, 1000);
            m_bar->setValue(int(qBound(qint64(0), received * 1000 / total, qint64(1000))));
        } else {
            m_bar->setRange(0, 0);
        }
    });
    m_progress = dialog;
    m_bar = bar;
    dialog->show();

    m_fetch->start(QUrl(updaterUrl, QUrl::StrictMode), updaterPath, key, RunningVersion);
    return UpdateOutcome::Downloading;
}

void UpdateActions::fetchFinished(const FetchResult &result)
{
    UpdaterFetch *fetch = m_fetch;
    m_fetch = nullptr;
    if (fetch) {
        disconnect(fetch, nullptr, this, nullptr);
        fetch->deleteLater();
    }
    closeProgress();

    const QString manifestUrl = wwwupdate::manifestUrlFor(m_pending.updaterUrl);
    switch (result.status) {
    case FetchStatus::Ready:
        startUpdater(m_pending);
        return;
    case FetchStatus::NoKey:
        refuse(UpdateOutcome::NoKey, QString(), QString(), true);
        return;
    case FetchStatus::TooLarge:
        refuse(UpdateOutcome::TooLarge, manifestUrl, result.version, true);
        return;
    case FetchStatus::Unsigned:
    case FetchStatus::BadSignature:
        refuse(UpdateOutcome::BadSignature, manifestUrl, result.version, true);
        return;
    case FetchStatus::NotNewer:
        refuse(UpdateOutcome::NotNewer, manifestUrl, result.version, true);
        return;
    case FetchStatus::Mismatch:
        refuse(UpdateOutcome::Mismatch, m_pending.updaterUrl, result.version, true);
        return;
    case FetchStatus::DownloadFailed:
        break;
    }
    platform::MsgBox(&m_window, m_pending.updaterPath + QStringLiteral("\n\nDownload Failed! "),
                     platform::OkCritical, QString());
    report(UpdateOutcome::DownloadFailed);
}

UpdateActions::UpdateOutcome UpdateActions::refuse(UpdateOutcome outcome, const QString &address,
                                                   const QString &version, bool fetched)
{
    const QString nothing = fetched ? QStringLiteral("Es wurde nichts gespeichert und nichts gestartet.")
                                    : QStringLiteral("Es wurde nichts gestartet.");
    QString text;
    int style = platform::OkCritical;
    switch (outcome) {
    case UpdateOutcome::NoKey:
        text = QStringLiteral("Diese Ausgabe von Namora kann sich nicht selbst aktualisieren: Ihr wurde "
                              "kein Schlüssel zur Prüfung von Updates mitgegeben.");
        break;
    case UpdateOutcome::BadSignature:
        text = address +
               QStringLiteral("\n\nUpdate abgelehnt: Die Signatur der Update-Beschreibung fehlt "
                              "oder ist ungültig.\n") +
               nothing;
        break;
    case UpdateOutcome::TooLarge:
        text =
            address +
            QStringLiteral("\n\nUpdate abgelehnt: Die Update-Beschreibung ist zu groß (mehr als %1 Bytes); "
                           "so groß ist keine echte.\n")
                .arg(wwwupdate::MaxManifestBytes) +
            nothing;
        break;
    case UpdateOutcome::NotNewer:
        text = QStringLiteral("Kein Update: Der Server bietet Version %1 an, die nicht neuer ist als die "
                              "laufende Version %2.\n")
                   .arg(version, RunningVersion) +
               nothing;
        style = platform::OkInformation;
        break;
    default:
        text = address +
               QStringLiteral("\n\nUpdate abgelehnt: Das Update-Programm stimmt nicht mit seiner "
                              "signierten Beschreibung überein (Größe oder Prüfsumme).\n") +
               nothing;
        break;
    }
    platform::MsgBox(&m_window, text, style, QString());
    return report(outcome);
}

UpdateActions::UpdateOutcome UpdateActions::startUpdater(const Pending &p)
{
    // Typed names are the user's work: the question comes before the program ends.
    if (wwwupdate::isNormalFile(p.updaterPath) && m_unsaved.ask() == UnsavedNames::Answer::Cancelled)
        return report(UpdateOutcome::Cancelled);

    if (!wwwupdate::isNormalFile(p.updaterPath)) {
        platform::MsgBox(&m_window, p.updaterPath + QStringLiteral(" not found!\nUpdate Cancled!"),
                         platform::OkCritical, QStringLiteral("File not found!"));
        return report(UpdateOutcome::NotFound);
    }

    // Checked again right before the start: the question above may have waited
    // long, and what runs must be what the signature covers. The updater is
    // opened once; the check reads that descriptor and the start runs it, so
    // a file renamed over the path in between is never started.
    const int fd = platform::openForReading(p.updaterPath);
    const auto closeUpdater = qScopeGuard([fd] {
        if (fd >= 0)
            ::close(fd);
    });
    const wwwupdate::StoredCheck stored =
        fd < 0 ? wwwupdate::StoredCheck{}
               : wwwupdate::checkStoredUpdater(fd, wwwupdate::manifestPathFor(p.updaterPath),
                                               wwwupdate::updatePublicKey(), RunningVersion);
    switch (stored.status) {
    case wwwupdate::StoredStatus::Ready:
        break;
    case wwwupdate::StoredStatus::NoKey:
        return refuse(UpdateOutcome::NoKey, QString(), QString(), false);
    case wwwupdate::StoredStatus::NotNewer:
        return refuse(UpdateOutcome::NotNewer, QString(), stored.version, false);
    case wwwupdate::StoredStatus::ManifestBad:
        return refuse(UpdateOutcome::BadSignature, wwwupdate::manifestPathFor(p.updaterPath), QString(),
                      false);
    case wwwupdate::StoredStatus::UpdaterMissing:
        platform::MsgBox(&m_window, p.updaterPath + QStringLiteral(" not found!\nUpdate Cancled!"),
                         platform::OkCritical, QStringLiteral("File not found!"));
        return report(UpdateOutcome::NotFound);
    case wwwupdate::StoredStatus::UpdaterChanged:
        return refuse(UpdateOutcome::Mismatch, p.updaterPath, QString(), false);
    }

    if (afterCheck)
        afterCheck();
    if (!platform::startDetachedFile(fd, p.updaterPath,
                                     wwwupdate::updaterArguments(p.programUrl, p.programFile, p.extra))) {
        // Ending now would leave the user with neither the old program nor a new one.
        platform::MsgBox(&m_window, p.updaterPath + QStringLiteral(" could not be started!\nUpdate Cancled!"),
                         platform::OkCritical, QString());
        return report(UpdateOutcome::StartFailed);
    }

    report(UpdateOutcome::Started);
    if (endProgram)
        endProgram();
    return UpdateOutcome::Started;
}

UpdateActions::UpdateOutcome UpdateActions::report(UpdateOutcome outcome)
{
    emit updateFinished(outcome);
    return outcome;
}

void UpdateActions::closeProgress()
{
    if (!m_progress)
        return;
    // Hiding does not report a cancel; the dialog goes once control is back in
    // the event loop.
    disconnect(m_progress, nullptr, this, nullptr);
    m_progress->hide();
    m_progress->deleteLater();
    m_progress = nullptr;
    m_bar = nullptr;
}
