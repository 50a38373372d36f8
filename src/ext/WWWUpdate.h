#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class QSaveFile;
class QTimer;

// The pieces of the online update that need no window: the values sent to the
// updater, the address rules, and the download of the updater itself.
namespace wwwupdate {

// The setting that names the update server, and the address used without it.
// The default lies under a reserved name that never resolves: an invented real
// domain could be registered by anyone, who would then serve us code to run.
// Whoever ships the program sets the real server here.
extern const QString ServerKey;     // "UpdateServer" in "Einstellungen"
extern const QString DefaultServer; // "https://update.namora.example"

// Where the new program file and the updater lie on the server.
extern const QString ProgramServerPath; // "/Namora/Namora.exe"
extern const QString UpdaterServerPath; // "/Update.exe"

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

enum class DownloadStatus {
    Done,         // the file is complete and in place
    Refused,      // the address (or a redirect) is not allowed
    NetworkError, // no connection, TLS failure, connection lost
    HttpError,    // the server answered with a status outside 2xx
    Incomplete,   // fewer bytes than the server announced, or none at all
    TimedOut,     // no data arrived for the timeout
    Cancelled,    // cancel() was called
    WriteError,   // the file could not be written, moved into place or made executable
};

struct DownloadResult {
    DownloadStatus status = DownloadStatus::NetworkError;
    QString path;   // the file written; empty unless Done
    QString reason; // what went wrong, for people
    bool ok() const { return status == DownloadStatus::Done; }
};

// Downloads one file. The data goes to a temporary file beside the target, which
// replaces the target only when the transfer is complete and the server answered
// success; any failure or cancel removes it, so a half-written file is never left
// behind. The finished file is made executable. Runs on the event loop: start()
// returns at once and finished() follows exactly once.
class URLDownload : public QObject {
    Q_OBJECT
public:
    static constexpr int DefaultTimeoutMs = 30000;

    explicit URLDownload(QObject *parent = nullptr);
    ~URLDownload() override;

    // Without data for this long the download fails.
    void setTimeout(int ms) { m_timeoutMs = ms; }

    // Downloads address to destination. A destination in double quotes loses them;
    // an existing directory as destination receives the file under the address's
    // last path segment; an existing file at the target is replaced.
    void start(const QUrl &address, const QString &destination);
    void cancel();
    bool isRunning() const { return m_running; }

signals:
    // total is -1 while the size is not known.
    void progress(qint64 received, qint64 total);
    void finished(const wwwupdate::DownloadResult &result);

private:
    void onReadyRead();
    void onRedirected(const QUrl &url);
    void onFinished();
    void fail(DownloadStatus status, const QString &reason);
    void finish(const DownloadResult &result);

    int m_timeoutMs = DefaultTimeoutMs;
    bool m_running = false;
    QString m_target;
    qint64 m_written = 0;
    QNetworkAccessManager *m_manager = nullptr;
    QNetworkReply *m_reply = nullptr;
    QTimer *m_idle = nullptr;
    std::unique_ptr<QSaveFile> m_file;
};

// The target URLDownload writes to for destination and address.
QString downloadTarget(const QUrl &address, const QString &destination);

} // namespace wwwupdate

Q_DECLARE_METATYPE(wwwupdate::DownloadResult)
