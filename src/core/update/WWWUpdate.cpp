#include "core/update/WWWUpdate.h"

#include "core/platform/FileNames.h"
#include "core/platform/SystemError.h"

#include <QCryptographicHash>
#include <QDir>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace wwwupdate {

const QString DefaultServer = QStringLiteral("https://update.namora.example");
const QString ProgramServerPath = QStringLiteral("/Namora/Namora.exe");
const QString UpdaterServerPath = QStringLiteral("/Update.exe");
const QString ManifestServerPath = QStringLiteral("/Update.manifest");
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

QString manifestUrlFor(const QString &updaterUrl)
{
    return updaterUrl.left(updaterUrl.lastIndexOf(QLatin1Char('/')) + 1) + ManifestFileName;
}

QString manifestPathFor(const QString &updaterPath)
{
    return platform::directoryOf(updaterPath) + ManifestFileName;
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

AddressCheck checkRedirect(const QUrl &origin, const QUrl &target)
{
    if (!target.isValid() || target.host().isEmpty())
        return AddressCheck::Invalid;
    const QString scheme = target.scheme().toLower();
    if (scheme == QLatin1String("https"))
        return AddressCheck::Allowed;
    // The one plain-http server trusted is the one the address itself names.
    const bool sameServer =
        scheme == QLatin1String("http") && origin.scheme().toLower() == QLatin1String("http") &&
        checkAddress(origin) == AddressCheck::Allowed &&
        target.host().compare(origin.host(), Qt::CaseInsensitive) == 0 && target.port(80) == origin.port(80);
    return sameServer ? AddressCheck::Allowed : AddressCheck::Insecure;
}

QString JoinPath(const QString &directory, const QString &name)
{
#ifdef Q_OS_WIN
    // Windows also ends a directory with its own separator, and the updater's
    // path is given with it.
    if (!directory.isEmpty() && !directory.endsWith(QLatin1Char('/')))
        return directory.endsWith(QDir::separator()) ? directory + name
                                                     : directory + QDir::separator() + name;
#endif
    return platform::joinPath(directory, name);
}

bool PathExists(const QString &path)
{
    return platform::pathExists(path, platform::Links::Followed);
}

bool isNormalFile(const QString &path)
{
    const QByteArray p = platform::encodeName(path);
    struct stat st;
    return !p.isEmpty() && ::stat(p.constData(), &st) == 0 && S_ISREG(st.st_mode) &&
           !platform::fileNameOf(path).startsWith(QLatin1Char('.'));
}

QString downloadTarget(const QUrl &address, const QString &destination)
{
    QString target = destination;
    if (target.size() >= 2 && target.startsWith(QLatin1Char('"')) && target.endsWith(QLatin1Char('"')))
        target = target.mid(1, target.size() - 2);
    if (platform::isDirectory(target))
        return JoinPath(target, address.fileName());
    return target;
}

// A file that comes into being all at once: written under a temporary name beside
// its target (owner-only while it is written), and renamed onto the target only by
// commit(). Dropped without commit, the temporary file goes.
class PendingFile {
public:
    ~PendingFile() { discard(); }

    int create(const QString &target)
    {
        m_target = platform::encodeName(target);
        const QString name = platform::fileNameOf(target);
        const QByteArray temp =
            platform::encodeName(platform::directoryOf(target) + QLatin1Char('.') + name) + ".part-XXXXXX";
        if (m_target.isEmpty() || name.isEmpty())
            return ENOENT;
        m_temp = temp;
        m_fd = ::mkostemp(m_temp.data(), O_CLOEXEC);
        if (m_fd < 0) {
            const int error = errno;
            m_temp.clear();
            return error;
        }
        if (::fchmod(m_fd, 0600) != 0) {
            const int error = errno;
            discard();
            return error;
        }
        return 0;
    }

    int write(const char *data, qint64 size)
    {
        while (size > 0) {
            const ssize_t n = ::write(m_fd, data, size_t(size));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return errno;
            data += n;
            size -= n;
        }
        return 0;
    }

    // Sets mode exactly (fchmod does not consult the umask), syncs and renames.
    int commit(int mode)
    {
        int error = 0;
        if (::fchmod(m_fd, mode_t(mode)) != 0 || ::fsync(m_fd) != 0)
            error = errno;
        if (error == 0 && ::close(m_fd) != 0)
            error = errno;
        m_fd = -1;
        if (error == 0 && ::rename(m_temp.constData(), m_target.constData()) != 0)
            error = errno;
        if (error != 0) {
            discard();
            return error;
        }
        m_temp.clear();
        return 0;
    }

    void discard()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        if (!m_temp.isEmpty())
            ::unlink(m_temp.constData());
        m_temp.clear();
    }

private:
    int m_fd = -1;
    QByteArray m_temp;
    QByteArray m_target;
};

WriteResult writeFileAtomically(const QString &path, const QByteArray &data, int mode)
{
    PendingFile file;
    int error = file.create(path);
    if (error == 0)
        error = file.write(data.constData(), data.size());
    if (error == 0)
        error = file.commit(mode);
    return {error, error == 0 ? QString() : platform::errorText(error)};
}

URLDownload::URLDownload(QObject *parent)
    : QObject(parent), m_manager(new QNetworkAccessManager(this)), m_idle(new QTimer(this)),
      m_deadline(new QTimer(this))
{
    m_idle->setSingleShot(true);
    connect(m_idle, &QTimer::timeout, this, [this] {
        if (m_reply)
            fail(DownloadStatus::TimedOut, QStringLiteral("no data for %1 ms").arg(m_timeoutMs));
    });
    m_deadline->setSingleShot(true);
    connect(m_deadline, &QTimer::timeout, this, [this] {
        if (m_reply)
            fail(DownloadStatus::TimedOut, QStringLiteral("not complete after %1 ms").arg(m_deadlineMs));
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
    m_toMemory = false;
    m_target = downloadTarget(address, destination);
    begin(address);
}

void URLDownload::fetch(const QUrl &address)
{
    if (m_running)
        return;
    m_toMemory = true;
    m_target.clear();
    begin(address);
}

qint64 URLDownload::limit() const
{
    return m_expected.size >= 0 ? qMin(m_expected.size, m_limit) : m_limit;
}

qint64 URLDownload::total() const
{
    if (m_expected.size >= 0)
        return m_expected.size;
    bool known = false;
    const qint64 announced =
        m_reply ? m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known) : 0;
    return known ? announced : -1;
}

void URLDownload::begin(const QUrl &address)
{
    m_running = true;
    m_refusal.reset();
    m_written = 0;
    m_httpStatus = 0;
    m_data.clear();
    m_origin = address;
    m_visited = {address};
    m_hash = std::make_unique<QCryptographicHash>(QCryptographicHash::Sha256);

    DownloadResult early;
    bool refused = true;
    const QString name = platform::fileNameOf(m_target);
    if (checkAddress(address) != AddressCheck::Allowed) {
        early.status = DownloadStatus::Refused;
        early.reason = QStringLiteral("only https addresses are fetched");
    } else if (!m_toMemory && (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))) {
        early.status = DownloadStatus::Refused;
        early.reason = QStringLiteral("the address names no file");
    } else if (!m_toMemory) {
        m_file = std::make_unique<PendingFile>();
        if (const int error = m_file->create(m_target)) {
            early.status = DownloadStatus::WriteError;
            early.reason = platform::errorText(error);
            m_file.reset();
        } else {
            refused = false;
        }
    } else {
        refused = false;
    }
    if (refused) {
        // finished() always comes from the event loop, never from inside start().
        QMetaObject::invokeMethod(
            this, [this, early] { finish(early); }, Qt::QueuedConnection);
        return;
    }

    m_deadline->start(m_deadlineMs);
    request(address);
}

void URLDownload::request(const QUrl &url)
{
    QNetworkRequest request(url);
    // Redirects are followed here, not by the network code: each one is checked
    // and counted by our rules (the network code's own following also reported
    // a chain of redirects as a final answer "100").
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    m_httpStatus = 0;
    m_reply = m_manager->get(request);
    // The network code stops reading from the server while this much waits for
    // us, so a server that sends faster than the disk writes costs no memory.
    m_reply->setReadBufferSize(ReadBufferBytes);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &URLDownload::onMetaData);
    connect(m_reply, &QNetworkReply::readyRead, this, &URLDownload::onReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &URLDownload::onFinished);
    m_idle->start(m_timeoutMs);
}

bool URLDownload::isRedirect(int code)
{
    return code == 301 || code == 302 || code == 303 || code == 307 || code == 308;
}

void URLDownload::cancel()
{
    if (m_reply)
        fail(DownloadStatus::Cancelled, QStringLiteral("cancelled"));
}

void URLDownload::onMetaData()
{
    if (!m_reply || m_refusal)
        return;
    m_httpStatus = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    bool known = false;
    const qint64 announced = m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
    const bool redirect = isRedirect(m_httpStatus);
    // An error page is not read at all, and a body announced beyond the limit is
    // refused before any of it is read.
    if (m_httpStatus >= 400)
        m_refusal = {DownloadStatus::HttpError, QStringLiteral("the server answered %1").arg(m_httpStatus)};
    else if (known && !redirect && announced > limit())
        m_refusal = {DownloadStatus::TooLarge,
                     QStringLiteral("the server announced %1 bytes, at most %2 are taken")
                         .arg(announced)
                         .arg(limit())};
    else
        return;
    // Aborting the reply from inside its own signal confuses the network code:
    // the refusal is carried out from the event loop, and nothing is read until then.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_reply && m_refusal)
                fail(m_refusal->status, m_refusal->reason);
        },
        Qt::QueuedConnection);
}

void URLDownload::onReadyRead()
{
    if (!m_reply || m_refusal)
        return;
    m_idle->start(m_timeoutMs);
    // The body of a redirect is not the file.
    if (isRedirect(m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt())) {
        m_reply->readAll();
        return;
    }
    if (!take(m_reply->readAll()))
        return;
    // Counted here rather than taken from downloadProgress(), which the network
    // code throttles and may hold back until the end.
    emit progress(m_written, total());
}

bool URLDownload::take(const QByteArray &data)
{
    if (data.isEmpty())
        return true;
    if (m_written + data.size() > limit()) {
        fail(DownloadStatus::TooLarge, QStringLiteral("more than %1 bytes").arg(limit()));
        return false;
    }
    if (m_toMemory) {
        m_data += data;
    } else if (const int error = m_file->write(data.constData(), data.size())) {
        fail(DownloadStatus::WriteError, platform::errorText(error));
        return false;
    }
    m_hash->addData(data);
    m_written += data.size();
    return true;
}

void URLDownload::follow(const QUrl &next)
{
    if (m_visited.contains(next) || m_visited.size() > MaxRedirects) {
        fail(DownloadStatus::RedirectLoop,
             QStringLiteral("the redirects lead in a circle or do not end: ") + next.toString());
        return;
    }
    m_visited << next;
    if (checkRedirect(m_origin, next) != AddressCheck::Allowed) {
        fail(DownloadStatus::Refused,
             QStringLiteral("redirected to an address that is not https: ") + next.toString());
        return;
    }
    request(next);
}

void URLDownload::onFinished()
{
    if (!m_reply)
        return;
    QNetworkReply *reply = m_reply;
    if (m_refusal) {
        fail(m_refusal->status, m_refusal->reason);
        return;
    }
    const int code = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    m_httpStatus = code;
    const QUrl location = reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
    if (isRedirect(code) && location.isValid() && !location.isEmpty()) {
        m_reply = nullptr;
        disconnect(reply, nullptr, this, nullptr);
        reply->deleteLater();
        follow(reply->url().resolved(location));
        return;
    }
    // The last bytes may come with finished() and no readyRead() before it.
    if (!take(reply->readAll()))
        return;
    m_reply = nullptr;
    m_idle->stop();
    m_deadline->stop();
    disconnect(reply, nullptr, this, nullptr);
    reply->deleteLater();
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
    if (m_expected.size >= 0 && (m_written != m_expected.size || m_hash->result() != m_expected.sha256)) {
        fail(DownloadStatus::Mismatch,
             m_written != m_expected.size
                 ? QStringLiteral("%1 bytes instead of %2").arg(m_written).arg(m_expected.size)
                 : QStringLiteral("the SHA-256 differs"));
        return;
    }

    DownloadResult done;
    done.status = DownloadStatus::Done;
    done.httpStatus = code;
    if (m_toMemory) {
        done.data = m_data;
        m_data.clear();
    } else {
        if (const int error = m_file->commit(m_mode)) {
            fail(DownloadStatus::WriteError, platform::errorText(error));
            return;
        }
        m_file.reset();
        done.path = m_target;
    }
    finish(done);
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
    m_deadline->stop();
    // The uncommitted file removes its temporary.
    m_file.reset();
    m_data.clear();
    DownloadResult result;
    result.status = status;
    result.httpStatus = m_httpStatus;
    result.reason = reason;
    finish(result);
}

void URLDownload::finish(DownloadResult result)
{
    m_running = false;
    emit finished(result);
}

} // namespace wwwupdate
