#pragma once

#include "core/update/UpdateManifest.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <memory>
#include <optional>

class QCryptographicHash;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// The pieces of the online update that need no window: the values sent to the
// updater, the address rules, and the download of the updater itself.
namespace wwwupdate {

// The address of the update server when the settings name none. It lies under a
// reserved name that never resolves: an invented real domain could be registered
// by anyone, who would then serve us code to run. Whoever ships the program sets
// the real server here.
extern const QString DefaultServer; // "https://update.namora.example"

// Where the new program file and the updater lie on the server.
extern const QString ProgramServerPath; // "/Namora/Namora.exe"
extern const QString UpdaterServerPath; // "/Update.exe"
// The signed manifest lies beside the updater, on the server ("/Update.manifest")
// and in the program's directory alike.
extern const QString ManifestServerPath; // "/Update.manifest"

// The updater's file name in the program's directory. Executables on Linux carry
// no extension, so the updater is "Update" there and "Update.exe" on Windows.
extern const QString UpdaterFileName;

// The five values the update is started with.
struct UpdateValues {
    QString programUrl;  // the new program file on the server
    QString programFile; // the running program's file name, without directory
    QString updaterPath; // the updater in the program's directory
    QString updaterUrl;  // the updater on the server
    QString extra;       // extra argument for the updater; empty
};

// Builds the values for a server address (trailing slashes dropped, so that
// "https://host/" does not give "https://host//Update.exe"), the program's
// directory and the program's file name.
UpdateValues updateValues(const QString &server, const QString &programDir, const QString &programFile);

// The manifest's address beside the updater's address, and its path beside the
// stored updater: the last path segment replaced by ManifestFileName.
QString manifestUrlFor(const QString &updaterUrl);
QString manifestPathFor(const QString &updaterPath);

// The updater's arguments. Each marker and its value form one argument, as they
// stood without a blank between them on the old command line; an argument list
// keeps a value with blanks in one piece without any quoting:
// "[URL]<address>", only for a non-blank extra "[PARAM1] <extra>", "[PATH]<file>".
QStringList updaterArguments(const QString &programUrl, const QString &programFile, const QString &extra);

enum class AddressCheck {
    Allowed,  // https, or http to this computer (a loopback address)
    Insecure, // plain http to another computer, or another scheme
    Invalid,  // not an address with a host
};

// Code is only ever fetched over https; plain http is allowed only when the
// server is this computer itself, where nobody on a network can tamper with it.
AddressCheck checkAddress(const QUrl &url);

// Directory and file name joined with one separator; an empty directory gives the
// name alone.
QString JoinPath(const QString &directory, const QString &name);

// True when anything (file or directory) exists at path.
bool PathExists(const QString &path);

// True when path names a regular file that is not hidden (directories, devices and
// dot files do not count).
bool isNormalFile(const QString &path);

// Whether a download that started at origin may follow a redirect to target.
// Code is only ever fetched over https; plain http only from the server the
// address itself names (same host and port, on this computer): a redirect never
// leads to plain http, not even on this computer, where any local user could be
// the one listening.
AddressCheck checkRedirect(const QUrl &origin, const QUrl &target);

enum class DownloadStatus {
    Done,         // the file is complete and in place
    Refused,      // the address (or a redirect) is not allowed
    NetworkError, // no connection, TLS failure, connection lost
    HttpError,    // the server answered with a status outside 2xx
    Incomplete,   // fewer bytes than the server announced, or none at all
    TimedOut,     // no data arrived for the timeout, or the deadline passed
    Cancelled,    // cancel() was called
    WriteError,   // the file could not be written or moved into place
    TooLarge,     // more bytes than the limit (announced or sent)
    RedirectLoop, // redirects lead in a circle, or too many of them
    Mismatch,     // the bytes are not the expected ones (size or SHA-256)
};

struct DownloadResult {
    DownloadStatus status = DownloadStatus::NetworkError;
    QString path;       // the file written; empty unless Done (and for fetch())
    QByteArray data;    // the body, for fetch() only
    int httpStatus = 0; // the server's last answer, 0 when there was none
    QString reason;     // what went wrong, for people
    bool ok() const { return status == DownloadStatus::Done; }
};

struct WriteResult {
    int error = 0;  // errno of the failing call; 0 when written
    QString reason; // the system's reason
    bool ok() const { return error == 0; }
};

// Writes data to path with exactly mode (whatever the umask): a temporary file
// beside it, synced, then renamed over path, so path is either the old file or
// the whole new one. Through the file-name codec.
WriteResult writeFileAtomically(const QString &path, const QByteArray &data, int mode);

class PendingFile;

// Downloads one file, bounded in size and time. The data goes to a temporary file
// beside the target, which replaces the target only when the transfer is complete,
// the server answered success and the bytes are the expected ones; any failure or
// cancel removes it, so a half-written or unexpected file is never left behind.
// Runs on the event loop: start() and fetch() return at once and finished()
// follows exactly once.
class URLDownload : public QObject {
    Q_OBJECT
public:
    static constexpr int DefaultTimeoutMs = 30000;
    static constexpr int DefaultDeadlineMs = 10 * 60 * 1000;
    static constexpr qint64 DefaultLimit = 64ll * 1024 * 1024;
    // What the network code may hold for us before we read it.
    static constexpr qint64 ReadBufferBytes = 1024 * 1024;
    static constexpr int MaxRedirects = 10;

    explicit URLDownload(QObject *parent = nullptr);
    ~URLDownload() override;

    // Without data for this long the download fails.
    void setTimeout(int ms) { m_timeoutMs = ms; }
    // The whole download fails when it has not finished after this long.
    void setDeadline(int ms) { m_deadlineMs = ms; }
    // At most this many bytes are accepted; a longer body fails.
    void setLimit(qint64 bytes) { m_limit = bytes; }
    // The body must have exactly this size and SHA-256; the size is also the limit.
    void setExpected(const FileFacts &facts) { m_expected = facts; }
    // The finished file's permissions, whatever the umask (default 0600).
    void setFileMode(int mode) { m_mode = mode; }

    // Downloads address to destination. A destination in double quotes loses them;
    // an existing directory as destination receives the file under the address's
    // last path segment; an existing file at the target is replaced.
    void start(const QUrl &address, const QString &destination);
    // Downloads address into memory (DownloadResult::data).
    void fetch(const QUrl &address);
    void cancel();
    bool isRunning() const { return m_running; }

signals:
    // total is -1 while the size is not known.
    void progress(qint64 received, qint64 total);
    void finished(const wwwupdate::DownloadResult &result);

private:
    void begin(const QUrl &address);
    qint64 limit() const;
    qint64 total() const;
    void onMetaData();
    void onReadyRead();
    bool take(const QByteArray &data);
    void request(const QUrl &url);
    void follow(const QUrl &next);
    static bool isRedirect(int code);
    void onFinished();
    void fail(DownloadStatus status, const QString &reason);
    void finish(DownloadResult result);

    int m_timeoutMs = DefaultTimeoutMs;
    int m_deadlineMs = DefaultDeadlineMs;
    qint64 m_limit = DefaultLimit;
    FileFacts m_expected;
    int m_mode = 0600;
    bool m_running = false;
    bool m_toMemory = false;
    struct Refusal {
        DownloadStatus status;
        QString reason;
    };
    std::optional<Refusal> m_refusal; // decided from the headers, carried out from the event loop
    QUrl m_origin;
    QList<QUrl> m_visited;
    int m_httpStatus = 0;
    QString m_target;
    QByteArray m_data;
    qint64 m_written = 0;
    std::unique_ptr<QCryptographicHash> m_hash;
    QNetworkAccessManager *m_manager = nullptr;
    QNetworkReply *m_reply = nullptr;
    QTimer *m_idle = nullptr;
    QTimer *m_deadline = nullptr;
    std::unique_ptr<PendingFile> m_file;
};

// The target URLDownload writes to for destination and address.
QString downloadTarget(const QUrl &address, const QString &destination);

} // namespace wwwupdate

Q_DECLARE_METATYPE(wwwupdate::DownloadResult)
