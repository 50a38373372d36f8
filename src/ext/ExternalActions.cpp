#include "ext/ExternalActions.h"

#include "app/Controls.h"
#include "app/Settings.h"
#include "app/Widgets.h"
#include "ext/Viewer.h"
#include "ext/WWWUpdate.h"
#include "pages/PageModel.h"
#include "pages/UnsavedNames.h"
#include "platform/Dialogs.h"
#include "platform/Process.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProgressBar>
#include <QProgressDialog>
#include <QUrl>

using wwwupdate::DownloadResult;
using wwwupdate::URLDownload;

ExternalActions::ExternalActions(QWidget &window, Controls &controls, PageModel &model, Settings &settings,
                                 UnsavedNames &unsaved, const QString &programDir, QObject *parent)
    : QObject(parent), m_window(window), m_c(controls), m_model(model), m_settings(settings),
      m_unsaved(unsaved), m_programDir(programDir), m_timeoutMs(URLDownload::DefaultTimeoutMs)
{
    endProgram = [] { QCoreApplication::exit(0); };

    for (int i = 0; i < PageModel::SlotCount; ++i)
        connect(m_c.Picture1[i], &PictureBox::clicked, this, [this, i] { Picture1_Click(i); });
    connect(m_c.Label1, &ClickLabel::clicked, this, &ExternalActions::Label1_Click);
}

void ExternalActions::windowClosing()
{
    if (!m_download)
        return;
    disconnect(m_download, nullptr, this, nullptr);
    delete m_download;
    m_download = nullptr;
    closeProgress();
}

ExternalActions::~ExternalActions()
{
    // The window's controls and state may be gone already: a download still
    // running only removes its temporary file and reports to nobody.
    if (m_download)
        disconnect(m_download, nullptr, this, nullptr);
}

void ExternalActions::Picture1_Click(int Index)
{
    if (Index < 0 || Index > m_model.lastSlot())
        return;
    const viewer::Command command = viewer::viewerCommand(m_model.filePath(Index));
    if (command.program.isEmpty())
        return;
    // Whether the viewer starts is not our concern: no message either way.
    platform::startDetached(command.program, command.arguments);
}

void ExternalActions::Label1_Click()
{
    const QString server = m_settings.updateServer();
    QString programDir = m_programDir;
    if (programDir.isEmpty())
        programDir = QCoreApplication::applicationDirPath();
    const wwwupdate::UpdateValues v = wwwupdate::updateValues(
        server, programDir, QFileInfo(QCoreApplication::applicationFilePath()).fileName());
    OnlineUpdate(v.programUrl, v.programFile, v.updaterPath, v.updaterUrl, v.extra);
}

ExternalActions::UpdateOutcome ExternalActions::OnlineUpdate(const QString &programUrl,
                                                             const QString &programFile,
                                                             const QString &updaterPath,
                                                             const QString &updaterUrl, const QString &extra)
{
    // A second click while the updater is fetched changes nothing.
    if (m_download)
        return UpdateOutcome::Busy;

    // The updater runs what it is pointed at, so both addresses must be safe
    // before anything is fetched or started.
    for (const QString &address : {updaterUrl, programUrl}) {
        if (wwwupdate::checkAddress(QUrl(address, QUrl::StrictMode)) != wwwupdate::AddressCheck::Allowed) {
            platform::MsgBox(
                &m_window, address + QStringLiteral("\n\nUpdate refused: only https addresses are allowed!"),
                platform::OkCritical, QString());
            return report(UpdateOutcome::Refused);
        }
    }

    m_pending = {programUrl, programFile, updaterPath, updaterUrl, extra};
    // An updater that is present is used as it is, even when it is out of date.
    if (wwwupdate::isNormalFile(updaterPath))
        return startUpdater(m_pending);

    m_download = new URLDownload(this);
    m_download->setTimeout(m_timeoutMs);
    connect(m_download, &URLDownload::finished, this, &ExternalActions::downloadFinished);

    // The download runs on the event loop, so the window keeps painting; the
    // dialog is window-modal so that the page cannot change underneath it. Our
    // own bar is driven directly, because the dialog's setValue() runs a nested
    // event loop while modal.
    auto *dialog = new QProgressDialog(&m_window);
    dialog->setObjectName(QStringLiteral("UpdateProgress"));
    dialog->setWindowTitle(QStringLiteral("Online Update"));
    dialog->setLabelText(QStringLiteral("Downloading ") + updaterUrl);
    dialog->setCancelButtonText(QStringLiteral("Cancel"));
    auto *bar = new QProgressBar(dialog);
    bar->setRange(0, 0);
    dialog->setBar(bar);
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    dialog->setWindowModality(Qt::WindowModal);
    connect(dialog, &QProgressDialog::canceled, this, [this] {
        if (m_download)
            m_download->cancel();
    });
    connect(dialog, &QDialog::rejected, this, [this] {
        if (m_download)
            m_download->cancel();
    });
    connect(m_download, &URLDownload::progress, this, [this](qint64 received, qint64 total) {
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

    m_download->start(QUrl(updaterUrl, QUrl::StrictMode), updaterPath);
    return UpdateOutcome::Downloading;
}

void ExternalActions::downloadFinished(const DownloadResult &result)
{
    URLDownload *download = m_download;
    m_download = nullptr;
    if (download) {
        disconnect(download, nullptr, this, nullptr);
        download->deleteLater();
    }
    closeProgress();

    if (!result.ok()) {
        platform::MsgBox(&m_window, m_pending.updaterPath + QStringLiteral("\n\nDownload Failed! "),
                         platform::OkCritical, QString());
        report(UpdateOutcome::DownloadFailed);
        return;
    }
    startUpdater(m_pending);
}

ExternalActions::UpdateOutcome ExternalActions::startUpdater(const Pending &p)
{
    // Typed names are the user's work: the question comes before the program ends.
    if (wwwupdate::isNormalFile(p.updaterPath) && m_unsaved.ask() == UnsavedNames::Answer::Cancelled)
        return report(UpdateOutcome::Cancelled);

    if (!wwwupdate::isNormalFile(p.updaterPath)) {
        platform::MsgBox(&m_window, p.updaterPath + QStringLiteral(" not found!\nUpdate Cancled!"),
                         platform::OkCritical, QStringLiteral("File not found!"));
        return report(UpdateOutcome::NotFound);
    }

    if (!platform::startDetached(p.updaterPath,
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

ExternalActions::UpdateOutcome ExternalActions::report(UpdateOutcome outcome)
{
    emit updateFinished(outcome);
    return outcome;
}

void ExternalActions::closeProgress()
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
