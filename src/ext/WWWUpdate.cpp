#include "ext/WWWUpdate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QTimer>

namespace wwwupdate {

const QString ServerKey = QStringLiteral("UpdateServer");
const QString DefaultServer = QStringLiteral("https://update.namora.example");
const QString ProgramServerPath = QStringLiteral("/Namora/Namora.exe");
const QString UpdaterServerPath = QStringLiteral("/Update.exe");
#ifdef Q_OS_WIN
const QString UpdaterFileName = QStringLiteral("Update.exe");
#else
const QString UpdaterFileName = QStringLiteral("Update");
#endif

UpdateValues updateValues(const QString &server, const QString &programDir, const QString &programFile)
{
    QString base = server.trimmed();
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    UpdateValues v;
    v.programUrl = base + ProgramServerPath;
    v.programFile = programFile;
    // Joined with the platform's separator: a directory whose name holds a
    // backslash must not get one as its separator on Linux.
    v.updaterPath = JoinPath(programDir, UpdaterFileName);
    v.updaterUrl = base + UpdaterServerPath;
    return v;
}

QStringList updaterArguments(const QString &programUrl, const QString &programFile, const QString &extra)
{
    QStringList args{QStringLiteral("[URL]") + programUrl};
    if (!extra.trimmed().isEmpty())
        args << QStringLiteral("[PARAM1] ") + extra;
    args << QStringLiteral("[PATH]") + programFile;
    return args;
}

namespace {
bool isLoopbackHost(const QString &host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}
} // namespace

AddressCheck checkAddress(const QUrl &url)
{
    if (!url.isValid() || url.host().isEmpty())
        return AddressCheck::Invalid;
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https"))
        return AddressCheck::Allowed;
    if (scheme == QLatin1String("http") && isLoopbackHost(url.host()))
        return AddressCheck::Allowed;
    return AddressCheck::Insecure;
}

QString JoinPath(const QString &directory, const QString &name)
{
    if (directory.isEmpty())
        return name;
    if (directory.endsWith(QLatin1Char('/')) || directory.endsWith(QDir::separator()))
        return directory + name;
    return directory + QDir::separator() + name;
}

bool PathExists(const QString &path)
{
    return !path.isEmpty() && QFileInfo::exists(path);
}

bool isNormalFile(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    return info.isFile() && !info.isHidden();
}

QString downloadTarget(const QUrl &address, const QString &destination)
{
    QString target = destination;
    if (target.size() >= 2 && target.startsWith(QLatin1Char('"')) && target.endsWith(QLatin1Char('"')))
        target = target.mid(1, target.size() - 2);
    if (PathExists(target) && QFileInfo(target).isDir())
        return JoinPath(target, address.fileName());
    return target;
}

URLDownload::URLDownload(QObject *parent)
    : QObject(parent), m_manager(new QNetworkAccessManager(this)), m_idle(new QTimer(this))
{
    m_idle->setSingleShot(true);
    connect(m_idle, &QTimer::timeout, this, [this] {
        if (m_reply)
            fail(DownloadStatus::TimedOut, QStringLiteral("no data for %1 ms").arg(m_timeoutMs));
    });
}

URLDownload::~URLDownload()
{
    // Nobody listens any more: drop the reply without reporting, and let the
    // uncommitted file remove its temporary.
    if (m_reply) {
        disconnect(m_reply, nullptr, this, nullptr);
        m_reply->abort();
        m_reply->deleteLater();
    }
}

void URLDownload::start(const QUrl &address, const QString &destination)
{
    if (m_running)
        return;
    m_running = true;
    m_written = 0;
    m_target = downloadTarget(address, destination);

    DownloadResult early;
    if (checkAddress(address) != AddressCheck::Allowed) {
        early = {DownloadStatus::Refused, QString(), QStringLiteral("only https addresses are fetched")};
    } else {
        m_file = std::make_unique<QSaveFile>(m_target);
        if (!m_file->open(QIODevice::WriteOnly)) {
            early = {DownloadStatus::WriteError, QString(), m_file->errorString()};
            m_file.reset();
        }
    }
    if (!m_file) {
        // finished() always comes from the event loop, never from inside start().
        QMetaObject::invokeMethod(
            this, [this, early] { finish(early); }, Qt::QueuedConnection);
        return;
    }

    QNetworkRequest request(address);
    // Every redirect is checked against the same rules as the first address.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    m_reply = m_manager->get(request);
    connect(m_reply, &QNetworkReply::readyRead, this, &URLDownload::onReadyRead);
    connect(m_reply, &QNetworkReply::redirected, this, &URLDownload::onRedirected);
    connect(m_reply, &QNetworkReply::finished, this, &URLDownload::onFinished);
    m_idle->start(m_timeoutMs);
}

void URLDownload::cancel()
{
    if (m_reply)
        fail(DownloadStatus::Cancelled, QStringLiteral("cancelled"));
}

void URLDownload::onReadyRead()
{
    if (!m_reply)
        return;
    m_idle->start(m_timeoutMs);
    const QByteArray data = m_reply->readAll();
    if (m_file->write(data) != data.size()) {
        fail(DownloadStatus::WriteError, m_file->errorString());
        return;
    }
    m_written += data.size();
    // Counted here rather than taken from downloadProgress(), which the network
    // code throttles and may hold back until the end.
    bool known = false;
    const qint64 total = m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
    emit progress(m_written, known ? total : -1);
}

void URLDownload::onRedirected(const QUrl &url)
{
    if (!m_reply)
        return;
    const QUrl next = m_reply->url().resolved(url);
    if (checkAddress(next) != AddressCheck::Allowed) {
        fail(DownloadStatus::Refused,
             QStringLiteral("redirected to an address that is not https: ") + next.toString());
        return;
    }
    emit m_reply->redirectAllowed();
}

void URLDownload::onFinished()
{
    if (!m_reply)
        return;
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    m_idle->stop();
    disconnect(reply, nullptr, this, nullptr);
    reply->deleteLater();

    const int code = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (code != 0 && (code < 200 || code > 299)) {
        fail(DownloadStatus::HttpError, QStringLiteral("the server answered %1").arg(code));
        return;
    }
    bool known = false;
    const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
    if (reply->error() != QNetworkReply::NoError) {
        // A connection that closes before the announced size is a cut-short file.
        if (reply->error() == QNetworkReply::RemoteHostClosedError && known && m_written < announced)
            fail(DownloadStatus::Incomplete,
                 QStringLiteral("%1 of %2 bytes arrived").arg(m_written).arg(announced));
        else
            fail(DownloadStatus::NetworkError, reply->errorString());
        return;
    }
    if (code == 0) {
        fail(DownloadStatus::NetworkError, QStringLiteral("no answer from the server"));
        return;
    }
    const QByteArray rest = reply->readAll();
    if (m_file->write(rest) != rest.size()) {
        fail(DownloadStatus::WriteError, m_file->errorString());
        return;
    }
    m_written += rest.size();

    if (known && announced != m_written) {
        fail(DownloadStatus::Incomplete,
             QStringLiteral("%1 of %2 bytes arrived").arg(m_written).arg(announced));
        return;
    }
    // An empty updater cannot be the right one.
    if (m_written == 0) {
        fail(DownloadStatus::Incomplete, QStringLiteral("the server sent an empty file"));
        return;
    }

    if (!m_file->commit()) {
        fail(DownloadStatus::WriteError, m_file->errorString());
        return;
    }
    m_file.reset();

#ifndef Q_OS_WIN
    // Executable for whoever may read it.
    QFileDevice::Permissions perms =
        QFile::permissions(m_target) | QFileDevice::ExeOwner | QFileDevice::ExeUser;
    if (perms & QFileDevice::ReadGroup)
        perms |= QFileDevice::ExeGroup;
    if (perms & QFileDevice::ReadOther)
        perms |= QFileDevice::ExeOther;
    if (!QFile::setPermissions(m_target, perms)) {
        // A file that cannot run would be started by every later click: remove it.
        QFile::remove(m_target);
        fail(DownloadStatus::WriteError, QStringLiteral("could not make the file executable"));
        return;
    }
#endif
    finish({DownloadStatus::Done, m_target, QString()});
}

void URLDownload::fail(DownloadStatus status, const QString &reason)
{
    if (m_reply) {
        // Aborting reports finished() at once; ours is this report, so that one is
        // not listened to.
        QNetworkReply *reply = m_reply;
        m_reply = nullptr;
        disconnect(reply, nullptr, this, nullptr);
        reply->abort();
        reply->deleteLater();
    }
    m_idle->stop();
    // The uncommitted file removes its temporary.
    m_file.reset();
    finish({status, QString(), reason});
}

void URLDownload::finish(const DownloadResult &result)
{
    m_running = false;
    emit finished(result);
}

} // namespace wwwupdate
