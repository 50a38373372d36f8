#include "support/UpdateScenario.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QTcpSocket>
#include <QtTest>

namespace testing {

TinyServer::TinyServer()
{
    m_server.listen(QHostAddress::LocalHost);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
        }
    });
}

void TinyServer::serve(QTcpSocket *socket)
{
    QByteArray &buffer = m_buffers[socket];
    buffer += socket->readAll();
    if (!buffer.contains("\r\n\r\n"))
        return;
    const QByteArray path = buffer.split(' ').value(1);
    buffer.clear();
    m_requested << path;
    const Route r = m_routes.value(path, Route{"404 Not Found", "no such file"});
    if (r.stall && r.body.isEmpty())
        return;
    const qint64 length = r.claimedLength >= 0 ? r.claimedLength : r.body.size();
    const QByteArray lengthLine = r.claimedLength == Unannounced
                                      ? QByteArray()
                                      : "Content-Length: " + QByteArray::number(length) + "\r\n";
    socket->write("HTTP/1.1 " + r.status + "\r\n" + lengthLine + "Connection: close\r\n" + r.extraHeaders +
                  "\r\n" + r.body);
    if (!r.stall)
        socket->disconnectFromHost();
}

FloodServer::FloodServer(qint64 size, bool announce)
    : m_size(size), m_announce(announce), m_chunk(256 * 1024, 'z')
{
    m_server.listen(QHostAddress::LocalHost);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                if (!socket->readAll().contains("\r\n\r\n") || m_socket)
                    return;
                m_socket = socket;
                QByteArray head = "HTTP/1.1 200 OK\r\nConnection: close\r\n";
                if (m_announce)
                    head += "Content-Length: " + QByteArray::number(m_size) + "\r\n";
                socket->write(head + "\r\n");
                pump();
            });
            connect(socket, &QTcpSocket::bytesWritten, this, [this] { pump(); });
        }
    });
}

void FloodServer::pump()
{
    if (!m_socket || m_socket->state() != QAbstractSocket::ConnectedState)
        return;
    while (m_sent < m_size && m_socket->bytesToWrite() < 1024 * 1024) {
        const qint64 n = qMin<qint64>(m_chunk.size(), m_size - m_sent);
        m_socket->write(m_chunk.constData(), n);
        m_sent += n;
    }
    if (m_sent == m_size)
        m_socket->disconnectFromHost();
}

const QByteArray UpdaterScript = "#!/bin/sh\n"
                                 "out=\"$(dirname \"$0\")/args.txt\"\n"
                                 ": > \"$out\"\n"
                                 "for a in \"$@\"; do printf '%s\\n' \"$a\" >> \"$out\"; done\n";

const QString Newer = QStringLiteral("99.0");
const QString Running = QStringLiteral(NAMORA_VERSION);
const QString Older = QStringLiteral("0.9");
const QString UnaskedServer = QStringLiteral("https://update.example.org");

QStringList filesIn(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(f.write(content), content.size());
}

QStringList storedPair()
{
    return {wwwupdate::UpdaterFileName, wwwupdate::ManifestFileName};
}

Publisher::Publisher(Trusted trusted) : key(wwwupdate::makeSigningKey()), m_trusted(trusted)
{
    if (m_trusted == Trusted::Yes)
        wwwupdate::setUpdatePublicKey(key.publicKey);
}

Publisher::~Publisher()
{
    if (m_trusted == Trusted::Yes)
        wwwupdate::resetUpdatePublicKey();
}

wwwupdate::FileFacts Publisher::facts(const QByteArray &content)
{
    return {content.size(), QCryptographicHash::hash(content, QCryptographicHash::Sha256)};
}

QByteArray Publisher::manifest(const QByteArray &updater, const QString &version) const
{
    wwwupdate::Manifest m;
    m.version = version;
    m.updater = facts(updater);
    m.program = facts("the new program");
    return wwwupdate::signManifest(m, key.seed);
}

void Publisher::serve(TinyServer &server, const QByteArray &updater, const QString &version) const
{
    server.route("/Update.manifest", {"200 OK", manifest(updater, version)});
    server.route("/Update.exe", {"200 OK", updater});
}

void Publisher::store(const QString &updaterPath, const QByteArray &updater, const QString &version) const
{
    writeFile(updaterPath, updater);
    writeFile(wwwupdate::manifestPathFor(updaterPath), manifest(updater, version));
}

UpdateScenario::UpdateScenario(Window window)
{
    publisher.serve(*server, UpdaterScript);
    QDir().mkpath(programDir);
    if (window == Window::Started)
        startWindow();
}

void UpdateScenario::startWindow(const QString &commandLine)
{
    fixture.start(commandLine);
    actions = fixture.form->findChild<UpdateActions *>();
    actions->endProgram = [this] { ++ended; };
    actions->setDownloadTimeout(5000);
}

wwwupdate::UpdateValues UpdateScenario::values(const QString &address) const
{
    return wwwupdate::updateValues(address, programDir, QStringLiteral("namora"));
}

void UpdateScenario::pictureOnPage(const QString &typed)
{
    writePictures(fixture.programDir.path(), {QStringLiteral("a.jpg")});
    fixture.form->model().reload();
    fixture.form->model().showPage(true);
    if (!typed.isEmpty())
        fixture.form->controls().Text1[0]->setPlainText(typed);
}

void UpdateScenario::onQuestion(std::function<int()> answer)
{
    boxes.answerBy([answer = std::move(answer)](const platform::MessageRequest &r) {
        return r.style == platform::YesNoCancelQuestion ? answer() : int(platform::AnswerOk);
    });
}

UpdateScenario::Outcome UpdateScenario::begin()
{
    return actions->OnlineUpdate(v.programUrl, v.programFile, v.updaterPath, v.updaterUrl, v.extra);
}

UpdateScenario::Outcome UpdateScenario::update()
{
    QSignalSpy done(actions, &UpdateActions::updateFinished);
    const Outcome first = begin();
    if (first != Outcome::Downloading)
        return first;
    if (!done.wait(15000))
        return Outcome::Busy;
    return done.first().first().value<Outcome>();
}

} // namespace testing
