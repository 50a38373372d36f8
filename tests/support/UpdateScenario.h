#pragma once

#include "core/update/UpdateManifest.h"
#include "core/update/WWWUpdate.h"
#include "support/TestSupport.h"
#include "ui/external/UpdateActions.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <memory>

class QTcpSocket;

// The online update against servers on this computer: the servers, a publisher
// with its own key, and the window with its update controller ready to run.
namespace testing {

// A small HTTP/1.1 server on 127.0.0.1 that answers each path as told, by hand,
// so that tests can also misbehave in ways a real server library would not.
class TinyServer : public QObject {
public:
    struct Route {
        Route(QByteArray status = "200 OK", QByteArray body = {}, qint64 claimedLength = -1,
              QByteArray extraHeaders = {}, bool stall = false)
            : status(std::move(status)), body(std::move(body)), claimedLength(claimedLength),
              extraHeaders(std::move(extraHeaders)), stall(stall)
        {
        }
        QByteArray status;
        QByteArray body;
        qint64 claimedLength;    // Content-Length sent; -1: the body's real size; Unannounced: none
        QByteArray extraHeaders; // complete lines, each ending in \r\n
        bool stall;              // never finish: no answer at all, or the body and no more
    };

    // No Content-Length: the body ends where the server closes the connection.
    static constexpr qint64 Unannounced = -2;

    TinyServer();
    QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()); }
    void route(const QByteArray &path, const Route &r) { m_routes.insert(path, r); }
    const QList<QByteArray> &requested() const { return m_requested; }

private:
    void serve(QTcpSocket *socket);

    QTcpServer m_server;
    QHash<QByteArray, Route> m_routes;
    QHash<QTcpSocket *, QByteArray> m_buffers;
    QList<QByteArray> m_requested;
};

// A server that answers every request with a body of the given size, produced as
// it is sent and never held: at most about a megabyte waits in its socket.
class FloodServer : public QObject {
public:
    FloodServer(qint64 size, bool announce);
    QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()); }
    qint64 sent() const { return m_sent; }

private:
    void pump();

    QTcpServer m_server;
    qint64 m_size;
    bool m_announce;
    QByteArray m_chunk;
    QTcpSocket *m_socket = nullptr;
    qint64 m_sent = 0;
};

// The updater the server hands out: writes its arguments, one a line, beside itself.
extern const QByteArray UpdaterScript;

// A version above any this program will reach, the running one, and an older one.
extern const QString Newer;
extern const QString Running;
extern const QString Older;

// The names of the files in dir, hidden ones included.
QStringList filesIn(const QString &dir);

// Writes content to path, replacing what was there.
void writeFile(const QString &path, const QByteArray &content);

// The stored pair after a successful fetch, in the order filesIn gives.
QStringList storedPair();

// A publisher with its own key pair; while it lives the program checks updates
// with its public key.
class Publisher {
public:
    // Someone else's key pair is made with Trusted::No: the program does not know it.
    enum class Trusted { Yes, No };
    explicit Publisher(Trusted trusted = Trusted::Yes);
    ~Publisher();
    Publisher(const Publisher &) = delete;
    Publisher &operator=(const Publisher &) = delete;

    static wwwupdate::FileFacts facts(const QByteArray &content);
    QByteArray manifest(const QByteArray &updater, const QString &version = Newer) const;
    // The server offers updater as the release version.
    void serve(TinyServer &server, const QByteArray &updater, const QString &version = Newer) const;
    // The program's directory holds updater with its manifest.
    void store(const QString &updaterPath, const QByteArray &updater, const QString &version = Newer) const;

    wwwupdate::SigningKey key;

private:
    Trusted m_trusted;
};

// An update ready to run: the publisher's key is the one the program trusts, a
// server offers the publisher's signed UpdaterScript, the window runs on its own
// program's directory, and every program start and message box is recorded
// instead of happening.
struct UpdateScenario {
    using Outcome = UpdateActions::UpdateOutcome;
    enum class Window { Started, NotYet };

    explicit UpdateScenario(Window window = Window::Started);

    // Starts the window of a scenario made with Window::NotYet.
    void startWindow(const QString &commandLine = QString());
    // Nobody listens at base any more.
    void stopServer() { server.reset(); }
    // The update's values for a server address, with programDir.
    wwwupdate::UpdateValues values(const QString &address) const;
    // A picture on the shown page (in the directory the window shows), with a
    // typed name unless typed is empty.
    void pictureOnPage(const QString &typed);
    // The unsaved-names question is answered by answer(); any other box gets OK.
    void onQuestion(std::function<int()> answer);
    // Starts the update with v: its first outcome.
    Outcome begin();
    // Runs the update with v to its final outcome.
    Outcome update();

    Publisher publisher;
    std::unique_ptr<TinyServer> server = std::make_unique<TinyServer>();
    const QString base = server->base(); // kept after stopServer()
    FormFixture fixture;
    MessageBoxes boxes;
    StartRecorder recorder;
    UpdateActions *actions = nullptr;
    int ended = 0; // how often the update ended the program
    // Where the updater goes: a blank and quotes must not split or break its path.
    QString programDir = fixture.programDir.path() + QStringLiteral("/my 'prog' dir");
    wwwupdate::UpdateValues v = values(base);
};

// An https address for updates that start the stored updater and ask no server.
extern const QString UnaskedServer;

} // namespace testing
