#pragma once

#include "core/update/UpdateManifest.h"
#include "core/update/WWWUpdate.h"

#include <QObject>
#include <QString>
#include <QUrl>

namespace wwwupdate {

enum class FetchStatus {
    Ready,          // a verified updater and its signed manifest are in place
    NoKey,          // this build carries no key to check updates with
    DownloadFailed, // the manifest or the updater could not be fetched or stored
    Unsigned,       // the server offers no signed manifest
    BadSignature,   // the manifest's signature does not hold, or its content is not valid
    TooLarge,       // the manifest is larger than any manifest the publisher writes
    NotNewer,       // the signed release is not newer than the running program
    Mismatch,       // the updater is not the one the manifest describes (size or SHA-256)
};

struct FetchResult {
    FetchStatus status = FetchStatus::DownloadFailed;
    DownloadStatus download = DownloadStatus::Done; // the failing download's status
    QString version;                                // the offered version, once signed
    QString reason;                                 // for people and logs
    bool ok() const { return status == FetchStatus::Ready; }
};

// Fetches a release: first the signed manifest into memory, then the updater it
// describes, bounded by the signed size and checked against the signed SHA-256
// before it replaces anything. Only a verified pair is stored (updater 0700,
// manifest 0600, whatever the umask); any refusal or failure leaves the
// program's directory as it was. finished() follows exactly once, from the event
// loop.
class UpdaterFetch : public QObject {
    Q_OBJECT
public:
    explicit UpdaterFetch(QObject *parent = nullptr);
    ~UpdaterFetch() override;

    void setTimeout(int ms) { m_timeoutMs = ms; }
    void setDeadline(int ms) { m_deadlineMs = ms; }

    // The manifest is fetched from beside updaterUrl and stored beside updaterPath.
    void start(const QUrl &updaterUrl, const QString &updaterPath, const QByteArray &publicKey,
               const QString &runningVersion);
    void cancel();

signals:
    // Of the updater's download; total is -1 while not known.
    void progress(qint64 received, qint64 total);
    void finished(const wwwupdate::FetchResult &result);

private:
    void manifestArrived(const DownloadResult &result);
    void updaterArrived(const DownloadResult &result);
    URLDownload *newDownload();
    void finish(FetchStatus status, const QString &reason, DownloadStatus download = DownloadStatus::Done);

    int m_timeoutMs = URLDownload::DefaultTimeoutMs;
    int m_deadlineMs = URLDownload::DefaultDeadlineMs;
    QUrl m_updaterUrl;
    QString m_updaterPath;
    QByteArray m_publicKey;
    QString m_runningVersion;
    QByteArray m_manifestText;
    QString m_version;
    URLDownload *m_download = nullptr;
};

} // namespace wwwupdate

Q_DECLARE_METATYPE(wwwupdate::FetchResult)
