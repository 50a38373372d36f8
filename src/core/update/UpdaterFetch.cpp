#include "core/update/UpdaterFetch.h"

#include "core/platform/FileNames.h"

namespace wwwupdate {

UpdaterFetch::UpdaterFetch(QObject *parent) : QObject(parent) {}

UpdaterFetch::~UpdaterFetch()
{
    // Deleting the download removes its temporary file without a report.
    if (m_download)
        disconnect(m_download, nullptr, this, nullptr);
}

URLDownload *UpdaterFetch::newDownload()
{
    if (m_download) {
        disconnect(m_download, nullptr, this, nullptr);
        m_download->deleteLater();
    }
    m_download = new URLDownload(this);
    m_download->setTimeout(m_timeoutMs);
    m_download->setDeadline(m_deadlineMs);
    return m_download;
}

void UpdaterFetch::start(const QUrl &updaterUrl, const QString &updaterPath, const QByteArray &publicKey,
                         const QString &runningVersion)
{
    m_updaterUrl = updaterUrl;
    m_updaterPath = updaterPath;
    m_publicKey = publicKey;
    m_runningVersion = runningVersion;
    m_manifestText.clear();
    m_version.clear();
    if (publicKey.size() != PublicKeyBytes) {
        QMetaObject::invokeMethod(
            this, [this] { finish(FetchStatus::NoKey, QStringLiteral("no key to check updates with")); },
            Qt::QueuedConnection);
        return;
    }
    URLDownload *download = newDownload();
    download->setLimit(MaxManifestBytes);
    connect(download, &URLDownload::finished, this, &UpdaterFetch::manifestArrived);
    download->fetch(QUrl(manifestUrlFor(updaterUrl.toString(QUrl::FullyEncoded)), QUrl::StrictMode));
}

void UpdaterFetch::cancel()
{
    if (m_download && m_download->isRunning())
        m_download->cancel();
}

void UpdaterFetch::manifestArrived(const DownloadResult &result)
{
    if (!result.ok()) {
        // A server without a manifest offers nothing signed; any other failure is
        // the network's or the server's.
        if (result.status == DownloadStatus::HttpError &&
            (result.httpStatus == 404 || result.httpStatus == 410))
            finish(FetchStatus::Unsigned, QStringLiteral("the server offers no manifest"), result.status);
        else if (result.status == DownloadStatus::TooLarge)
            finish(FetchStatus::TooLarge, QStringLiteral("the manifest is too large: ") + result.reason,
                   result.status);
        else
            finish(FetchStatus::DownloadFailed, QStringLiteral("manifest: ") + result.reason, result.status);
        return;
    }
    const ManifestCheck check = verifyManifest(result.data, m_publicKey, m_runningVersion);
    m_version = check.manifest.version;
    switch (check.status) {
    case ManifestStatus::Valid:
        break;
    case ManifestStatus::NoKey:
        finish(FetchStatus::NoKey, check.reason);
        return;
    case ManifestStatus::Unsigned:
        finish(FetchStatus::Unsigned, check.reason);
        return;
    case ManifestStatus::BadSignature:
    case ManifestStatus::Malformed:
        finish(FetchStatus::BadSignature, check.reason);
        return;
    case ManifestStatus::NotNewer:
        finish(FetchStatus::NotNewer, check.reason);
        return;
    }
    m_manifestText = result.data;

    URLDownload *download = newDownload();
    download->setExpected(check.manifest.updater);
    download->setFileMode(0700);
    connect(download, &URLDownload::progress, this, &UpdaterFetch::progress);
    connect(download, &URLDownload::finished, this, &UpdaterFetch::updaterArrived);
    download->start(m_updaterUrl, m_updaterPath);
}

void UpdaterFetch::updaterArrived(const DownloadResult &result)
{
    if (!result.ok()) {
        if (result.status == DownloadStatus::Mismatch || result.status == DownloadStatus::TooLarge)
            finish(FetchStatus::Mismatch, result.reason, result.status);
        else
            finish(FetchStatus::DownloadFailed, result.reason, result.status);
        return;
    }
    // The updater is only ever started together with its manifest: without the
    // manifest it would never pass the check before a start, so it goes too.
    const WriteResult written = writeFileAtomically(manifestPathFor(m_updaterPath), m_manifestText, 0600);
    if (!written.ok()) {
        platform::removeFile(result.path);
        finish(FetchStatus::DownloadFailed, QStringLiteral("manifest: ") + written.reason,
               DownloadStatus::WriteError);
        return;
    }
    finish(FetchStatus::Ready, QString());
}

void UpdaterFetch::finish(FetchStatus status, const QString &reason, DownloadStatus download)
{
    if (m_download) {
        disconnect(m_download, nullptr, this, nullptr);
        m_download->deleteLater();
        m_download = nullptr;
    }
    FetchResult result;
    result.status = status;
    result.download = download;
    result.version = m_version;
    result.reason = reason;
    emit finished(result);
}

} // namespace wwwupdate
