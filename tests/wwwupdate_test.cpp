#include "app/Ini.h"
#include "app/Widgets.h"
#include "ext/ExternalActions.h"
#include "ext/WWWUpdate.h"
#include "pages/PageModel.h"
#include "platform/Process.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

using Outcome = ExternalActions::UpdateOutcome;
Q_DECLARE_METATYPE(wwwupdate::AddressCheck)
Q_DECLARE_METATYPE(wwwupdate::DownloadStatus)

namespace {

// A small HTTP/1.1 server on 127.0.0.1 that answers each path as told, by hand,
// so that tests can also misbehave in ways a real server library would not.
class TinyServer : public QObject {
public:
    struct Route {
        QByteArray status = "200 OK";
        QByteArray body;
        qint64 claimedLength = -1; // Content-Length sent; -1: the body's real size
        QByteArray extraHeaders;   // complete lines, each ending in \r\n
        bool stall = false;        // never finish: no answer at all, or the body and no more
    };

    TinyServer()
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
            }
        });
    }

    QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()); }
    void route(const QByteArray &path, const Route &r) { m_routes.insert(path, r); }
    const QList<QByteArray> &requested() const { return m_requested; }

private:
    void serve(QTcpSocket *socket)
    {
        QByteArray &buffer = m_buffers[socket];
        buffer += socket->readAll();
        if (!buffer.contains("\r\n\r\n"))
            return;
        const QByteArray path = buffer.split(' ').value(1);
        buffer.clear();
        m_requested << path;
        const Route r = m_routes.value(path, Route{"404 Not Found", "no such file", -1, {}, false});
        if (r.stall && r.body.isEmpty())
            return;
        const qint64 length = r.claimedLength >= 0 ? r.claimedLength : r.body.size();
        socket->write("HTTP/1.1 " + r.status + "\r\nContent-Length: " + QByteArray::number(length) +
                      "\r\nConnection: close\r\n" + r.extraHeaders + "\r\n" + r.body);
        if (!r.stall)
            socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QHash<QByteArray, Route> m_routes;
    QHash<QTcpSocket *, QByteArray> m_buffers;
    QList<QByteArray> m_requested;
};

// The updater the server hands out: writes its arguments, one a line, beside itself.
const QByteArray UpdaterScript = "#!/bin/sh\n"
                                 "out=\"$(dirname \"$0\")/args.txt\"\n"
                                 ": > \"$out\"\n"
                                 "for a in \"$@\"; do printf '%s\\n' \"$a\" >> \"$out\"; done\n";

struct Start {
    QString program;
    QStringList args;
};

// Records every program start instead of starting it.
class StartRecorder {
public:
    explicit StartRecorder(bool succeed = true)
    {
        platform::setStartHandler([this, succeed](const QString &p, const QStringList &a) {
            starts << Start{p, a};
            return succeed;
        });
    }
    ~StartRecorder() { platform::setStartHandler({}); }
    QList<Start> starts;
};

QStringList filesIn(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

} // namespace

class WWWUpdateTest : public QObject {
    Q_OBJECT
private slots:
    void joinPath_data();
    void joinPath();
    void onlyHttpsOrLoopbackHttpIsAllowed_data();
    void onlyHttpsOrLoopbackHttpIsAllowed();
    void updaterGetsOneArgumentPerMarker_data();
    void updaterGetsOneArgumentPerMarker();
    void serverAddressWithTrailingSlashGivesNoDoubleSlash();
    void downloadIntoDirectoryUsesTheAddressFileName();
    void downloadNamesWhyItFailed_data();
    void downloadNamesWhyItFailed();

    void missingUpdaterIsFetchedMadeExecutableAndStarted();
    void failedDownloadLeavesNoFileAndReports_data();
    void failedDownloadLeavesNoFileAndReports();
    void cancelledDownloadLeavesNoFile();
    void presentUpdaterIsStartedWithoutDownload();
    void insecureAddressIsRefusedBeforeAnything_data();
    void insecureAddressIsRefusedBeforeAnything();
    void unsavedNamesAnswerDecidesWhetherTheProgramEnds_data();
    void unsavedNamesAnswerDecidesWhetherTheProgramEnds();
    void typedNamesAreAskedAboutBeforeTheProgramEnds_data();
    void typedNamesAreAskedAboutBeforeTheProgramEnds();
    void vanishedUpdaterIsReportedNotFound();
    void updaterThatCannotStartKeepsTheProgramRunning();
    void clickOnLabelUsesTheConfiguredServer();
    void closingTheWindowDuringDownloadLeavesNoFile();

private:
    struct Run {
        testing::FormFixture fixture;
        testing::MessageBoxes boxes;
        ExternalActions *actions = nullptr;
        int ended = 0;
        QString programDir;

        Run()
        {
            fixture.start(QString());
            actions = fixture.form->findChild<ExternalActions *>();
            actions->endProgram = [this] { ++ended; };
            actions->setDownloadTimeout(5000);
            // A blank and a quote in the program's directory must not split or
            // break the updater's path.
            programDir = fixture.programDir.path() + QStringLiteral("/my 'prog' dir");
            QDir().mkpath(programDir);
        }
        wwwupdate::UpdateValues values(const QString &server) const
        {
            return wwwupdate::updateValues(server, programDir, QStringLiteral("namora"));
        }
        // Runs the update to its final outcome.
        Outcome update(const wwwupdate::UpdateValues &v)
        {
            QSignalSpy done(actions, &ExternalActions::updateFinished);
            const Outcome first =
                actions->OnlineUpdate(v.programUrl, v.programFile, v.updaterPath, v.updaterUrl, v.extra);
            if (first != Outcome::Downloading)
                return first;
            if (!done.wait(15000))
                return Outcome::Busy;
            return done.first().first().value<Outcome>();
        }
    };
};

void WWWUpdateTest::joinPath_data()
{
    QTest::addColumn<QString>("dir");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("joined");
    QTest::newRow("empty directory gives the name") << ""
                                                    << "Update"
                                                    << "Update";
    QTest::newRow("separator added") << "/opt/namora"
                                     << "Update"
                                     << "/opt/namora/Update";
    QTest::newRow("no doubled separator") << "/opt/namora/"
                                          << "Update"
                                          << "/opt/namora/Update";
    QTest::newRow("blanks kept") << "/my dir"
                                 << "a b"
                                 << "/my dir/a b";
}

void WWWUpdateTest::joinPath()
{
    QFETCH(QString, dir);
    QFETCH(QString, name);
    QTEST(wwwupdate::JoinPath(dir, name), "joined");
}

void WWWUpdateTest::onlyHttpsOrLoopbackHttpIsAllowed_data()
{
    using C = wwwupdate::AddressCheck;
    QTest::addColumn<QString>("address");
    QTest::addColumn<C>("check");
    QTest::newRow("https remote") << "https://update.example.org/Update.exe" << C::Allowed;
    QTest::newRow("https in capitals") << "HTTPS://update.example.org/Update.exe" << C::Allowed;
    QTest::newRow("http loopback v4") << "http://127.0.0.1:8080/Update.exe" << C::Allowed;
    QTest::newRow("http loopback range") << "http://127.9.9.9/Update.exe" << C::Allowed;
    QTest::newRow("http loopback v6") << "http://[::1]:8080/Update.exe" << C::Allowed;
    QTest::newRow("http localhost") << "http://localhost/Update.exe" << C::Allowed;
    QTest::newRow("http remote") << "http://update.example.org/Update.exe" << C::Insecure;
    QTest::newRow("http LAN address") << "http://192.168.1.10/Update.exe" << C::Insecure;
    QTest::newRow("loopback-looking name") << "http://127.0.0.1.evil.example/U" << C::Insecure;
    QTest::newRow("localhost-looking name") << "http://localhost.evil.example/U" << C::Insecure;
    QTest::newRow("user part hides the host") << "http://127.0.0.1@evil.example/U" << C::Insecure;
    QTest::newRow("ftp") << "ftp://update.example.org/Update.exe" << C::Insecure;
    QTest::newRow("no host") << "https:///Update.exe" << C::Invalid;
    QTest::newRow("local file") << "file:///tmp/Update.exe" << C::Invalid;
    QTest::newRow("empty") << "" << C::Invalid;
}

void WWWUpdateTest::onlyHttpsOrLoopbackHttpIsAllowed()
{
    QFETCH(QString, address);
    QTEST(wwwupdate::checkAddress(QUrl(address, QUrl::StrictMode)), "check");
}

void WWWUpdateTest::updaterGetsOneArgumentPerMarker_data()
{
    QTest::addColumn<QString>("programFile");
    QTest::addColumn<QString>("extra");
    QTest::addColumn<QStringList>("args");
    const QString url = QStringLiteral("https://u.example/Namora/Namora.exe");
    QTest::newRow("no extra") << "namora"
                              << ""
                              << QStringList{QStringLiteral("[URL]") + url, QStringLiteral("[PATH]namora")};
    QTest::newRow("blank extra is left out")
        << "namora"
        << "   " << QStringList{QStringLiteral("[URL]") + url, QStringLiteral("[PATH]namora")};
    QTest::newRow("extra kept unchanged")
        << "namora"
        << " -x "
        << QStringList{QStringLiteral("[URL]") + url, QStringLiteral("[PARAM1]  -x "),
                       QStringLiteral("[PATH]namora")};
    QTest::newRow("file name with blank stays whole")
        << "my namora"
        << "" << QStringList{QStringLiteral("[URL]") + url, QStringLiteral("[PATH]my namora")};
}

void WWWUpdateTest::updaterGetsOneArgumentPerMarker()
{
    QFETCH(QString, programFile);
    QFETCH(QString, extra);
    QTEST(wwwupdate::updaterArguments(QStringLiteral("https://u.example/Namora/Namora.exe"), programFile,
                                      extra),
          "args");
}

void WWWUpdateTest::serverAddressWithTrailingSlashGivesNoDoubleSlash()
{
    const auto v = wwwupdate::updateValues(QStringLiteral(" https://u.example/ "), QStringLiteral("/opt/n"),
                                           QStringLiteral("namora"));
    QCOMPARE(v.programUrl, QStringLiteral("https://u.example/Namora/Namora.exe"));
    QCOMPARE(v.updaterUrl, QStringLiteral("https://u.example/Update.exe"));
    QCOMPARE(v.updaterPath, QStringLiteral("/opt/n/") + wwwupdate::UpdaterFileName);
    QCOMPARE(v.programFile, QStringLiteral("namora"));
    QVERIFY(v.extra.isEmpty());
    const auto odd = wwwupdate::updateValues(QStringLiteral("https://u.example"), QStringLiteral("/opt/a\\b"),
                                             QStringLiteral("namora"));
    QCOMPARE(odd.updaterPath, QStringLiteral("/opt/a\\b/") + wwwupdate::UpdaterFileName);
}

void WWWUpdateTest::downloadIntoDirectoryUsesTheAddressFileName()
{
    TinyServer server;
    server.route("/files/tool.bin", {"200 OK", "payload", -1, {}, false});
    QTemporaryDir dir;
    wwwupdate::URLDownload download;
    QSignalSpy done(&download, &wwwupdate::URLDownload::finished);
    download.start(QUrl(server.base() + QStringLiteral("/files/tool.bin")),
                   QLatin1Char('"') + dir.path() + QLatin1Char('"'));
    QVERIFY(done.wait(10000));
    const auto result = done.first().first().value<wwwupdate::DownloadResult>();
    QVERIFY2(result.ok(), qPrintable(result.reason));
    QCOMPARE(result.path, dir.path() + QStringLiteral("/tool.bin"));
    QCOMPARE(filesIn(dir.path()), QStringList{QStringLiteral("tool.bin")});
}

void WWWUpdateTest::downloadNamesWhyItFailed_data()
{
    using S = wwwupdate::DownloadStatus;
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<qint64>("claimed");
    QTest::addColumn<QByteArray>("headers");
    QTest::addColumn<bool>("stall");
    QTest::addColumn<S>("expected");
    QTest::newRow("404") << QByteArray("404 Not Found") << QByteArray("x") << -1ll << QByteArray() << false
                         << S::HttpError;
    QTest::newRow("stall") << QByteArray("200 OK") << QByteArray() << -1ll << QByteArray() << true
                           << S::TimedOut;
    QTest::newRow("empty") << QByteArray("200 OK") << QByteArray() << -1ll << QByteArray() << false
                           << S::Incomplete;
    QTest::newRow("redirect to remote http")
        << QByteArray("302 Found") << QByteArray() << -1ll
        << QByteArray("Location: http://update.example.org/U\r\n") << false << S::Refused;
    QTest::newRow("cut short") << QByteArray("200 OK") << QByteArray("abc") << 5000ll << QByteArray() << false
                               << S::Incomplete;
    QTest::newRow("redirect on this computer") << QByteArray("302 Found") << QByteArray() << -1ll
                                               << QByteArray("Location: /real\r\n") << false << S::Done;
}

void WWWUpdateTest::downloadNamesWhyItFailed()
{
    QFETCH(QByteArray, status);
    QFETCH(QByteArray, body);
    QFETCH(qint64, claimed);
    QFETCH(QByteArray, headers);
    QFETCH(bool, stall);
    QFETCH(wwwupdate::DownloadStatus, expected);
    TinyServer server;
    server.route("/U", {status, body, claimed, headers, stall});
    server.route("/real", {"200 OK", "real", -1, {}, false});
    QTemporaryDir dir;
    wwwupdate::URLDownload download;
    download.setTimeout(300);
    QSignalSpy done(&download, &wwwupdate::URLDownload::finished);
    download.start(QUrl(server.base() + QStringLiteral("/U")), dir.filePath(QStringLiteral("U")));
    QVERIFY(done.wait(10000));
    const auto result = done.first().first().value<wwwupdate::DownloadResult>();
    QVERIFY2(result.status == expected, qPrintable(result.reason));
    QCOMPARE(filesIn(dir.path()).size(), expected == wwwupdate::DownloadStatus::Done ? 1 : 0);
}

void WWWUpdateTest::missingUpdaterIsFetchedMadeExecutableAndStarted()
{
    TinyServer server;
    // Large enough to arrive in several pieces.
    const QByteArray body = UpdaterScript + "#" + QByteArray(300000, 'x') + "\n";
    server.route("/Update.exe", {"200 OK", body, -1, {}, false});
    Run run;
    StartRecorder recorder;
    const auto v = run.values(server.base());

    QCOMPARE(run.update(v), Outcome::Started);
    QCOMPARE(run.ended, 1);
    QVERIFY(run.boxes.shown().isEmpty());
    QCOMPARE(filesIn(run.programDir), QStringList{wwwupdate::UpdaterFileName});
    QFile file(v.updaterPath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), body);
    QVERIFY(QFileInfo(v.updaterPath).isExecutable());
    QVERIFY(!run.fixture.form->findChild<QProgressDialog *>(QStringLiteral("UpdateProgress")) ||
            !run.fixture.form->findChild<QProgressDialog *>(QStringLiteral("UpdateProgress"))->isVisible());

    QCOMPARE(recorder.starts.size(), 1);
    QCOMPARE(recorder.starts[0].program, v.updaterPath);
    const QStringList expected{QStringLiteral("[URL]") + server.base() + QStringLiteral("/Namora/Namora.exe"),
                               QStringLiteral("[PATH]namora")};
    QCOMPARE(recorder.starts[0].args, expected);

    // The fetched file really runs and receives exactly these arguments.
    QCOMPARE(QProcess::execute(v.updaterPath, expected), 0);
    QFile out(run.programDir + QStringLiteral("/args.txt"));
    QVERIFY(out.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(out.readAll()), expected.join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

void WWWUpdateTest::failedDownloadLeavesNoFileAndReports_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("404") << "404";
    QTest::newRow("server error") << "500";
    QTest::newRow("connection refused") << "refused";
    QTest::newRow("server stalls") << "stall";
    QTest::newRow("transfer cut short") << "short";
    QTest::newRow("empty file") << "empty";
    QTest::newRow("redirect to plain http elsewhere") << "redirect";
    QTest::newRow("program directory gone") << "nodir";
}

void WWWUpdateTest::failedDownloadLeavesNoFileAndReports()
{
    QFETCH(QString, kind);
    auto server = std::make_unique<TinyServer>();
    QString base = server->base();
    if (kind == QLatin1String("500"))
        server->route("/Update.exe", {"500 Internal Server Error", UpdaterScript, -1, {}, false});
    else if (kind == QLatin1String("stall"))
        server->route("/Update.exe", {"200 OK", {}, -1, {}, true});
    else if (kind == QLatin1String("short"))
        server->route("/Update.exe", {"200 OK", UpdaterScript, UpdaterScript.size() + 5000, {}, false});
    else if (kind == QLatin1String("empty"))
        server->route("/Update.exe", {"200 OK", {}, -1, {}, false});
    else if (kind == QLatin1String("redirect"))
        server->route("/Update.exe",
                      {"302 Found", {}, -1, "Location: http://update.example.org/Update.exe\r\n", false});
    else if (kind == QLatin1String("nodir"))
        server->route("/Update.exe", {"200 OK", UpdaterScript, -1, {}, false});
    else if (kind == QLatin1String("refused"))
        server.reset(); // nobody listens on that port any more

    Run run;
    StartRecorder recorder;
    run.actions->setDownloadTimeout(300);
    const auto v = run.values(base);
    if (kind == QLatin1String("nodir"))
        QVERIFY(QDir(run.programDir).removeRecursively());

    QCOMPARE(run.update(v), Outcome::DownloadFailed);

    QCOMPARE(filesIn(run.programDir), QStringList());
    QVERIFY(recorder.starts.isEmpty());
    QCOMPARE(run.ended, 0);
    QCOMPARE(run.boxes.shown().size(), 1);
    QCOMPARE(run.boxes.shown()[0].prompt, v.updaterPath + QStringLiteral("\n\nDownload Failed! "));
    QCOMPARE(run.boxes.shown()[0].style, int(platform::OkCritical));
    QVERIFY(run.boxes.shown()[0].title.isEmpty());
    // The next click tries again rather than finding a broken updater.
    QVERIFY(!run.actions->isUpdating());
}

void WWWUpdateTest::cancelledDownloadLeavesNoFile()
{
    TinyServer server;
    // A quarter of the file arrives, then the server keeps the line open.
    server.route("/Update.exe", {"200 OK", QByteArray(1000, '#'), 4000, {}, true});
    Run run;
    StartRecorder recorder;
    const auto v = run.values(server.base());
    QSignalSpy done(run.actions, &ExternalActions::updateFinished);

    QCOMPARE(run.actions->OnlineUpdate(v.programUrl, v.programFile, v.updaterPath, v.updaterUrl, v.extra),
             Outcome::Downloading);
    // The click has returned while the download runs; the dialog offers cancel.
    auto *dialog = run.fixture.form->findChild<QProgressDialog *>(QStringLiteral("UpdateProgress"));
    QVERIFY(dialog);
    QTRY_VERIFY(dialog->isVisible());
    QTRY_COMPARE(server.requested().size(), 1);
    auto *bar = dialog->findChild<QProgressBar *>();
    QVERIFY(bar);
    QTRY_COMPARE(bar->value(), 250);
    QCOMPARE(bar->maximum(), 1000);
    QCOMPARE(run.actions->OnlineUpdate(v.programUrl, v.programFile, v.updaterPath, v.updaterUrl, v.extra),
             Outcome::Busy);
    auto *cancel = dialog->findChild<QPushButton *>();
    QVERIFY(cancel);
    QTest::mouseClick(cancel, Qt::LeftButton);

    QVERIFY(done.count() == 1 || done.wait(5000));
    QCOMPARE(done.first().first().value<Outcome>(), Outcome::DownloadFailed);
    QCOMPARE(filesIn(run.programDir), QStringList());
    QVERIFY(recorder.starts.isEmpty());
    QCOMPARE(run.ended, 0);
    QCOMPARE(run.boxes.shown().size(), 1);
    QCOMPARE(run.boxes.shown()[0].prompt, v.updaterPath + QStringLiteral("\n\nDownload Failed! "));
}

void WWWUpdateTest::presentUpdaterIsStartedWithoutDownload()
{
    TinyServer server;
    server.route("/Update.exe", {"200 OK", "newer", -1, {}, false});
    Run run;
    StartRecorder recorder;
    const auto v = run.values(server.base());
    QFile old(v.updaterPath);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("old updater");
    old.close();

    QCOMPARE(run.update(v), Outcome::Started);
    QVERIFY(server.requested().isEmpty());
    QCOMPARE(recorder.starts.size(), 1);
    QCOMPARE(recorder.starts[0].program, v.updaterPath);
    QCOMPARE(run.ended, 1);
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("old updater"));
}

void WWWUpdateTest::insecureAddressIsRefusedBeforeAnything_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<bool>("updaterPresent");
    QTest::newRow("plain http, updater missing") << "http://update.example.org" << false;
    // Even a present updater would fetch the program over plain http.
    QTest::newRow("plain http, updater present") << "http://update.example.org" << true;
    QTest::newRow("ftp") << "ftp://update.example.org" << false;
    QTest::newRow("not an address") << "update server" << false;
}

void WWWUpdateTest::insecureAddressIsRefusedBeforeAnything()
{
    QFETCH(QString, server);
    QFETCH(bool, updaterPresent);
    Run run;
    StartRecorder recorder;
    const auto v = run.values(server);
    if (updaterPresent) {
        QFile f(v.updaterPath);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(UpdaterScript);
    }

    QCOMPARE(run.update(v), Outcome::Refused);
    QVERIFY(recorder.starts.isEmpty());
    QCOMPARE(run.ended, 0);
    QVERIFY(!run.actions->isUpdating());
    QCOMPARE(filesIn(run.programDir).size(), updaterPresent ? 1 : 0);
    QCOMPARE(run.boxes.shown().size(), 1);
    QVERIFY(run.boxes.shown()[0].prompt.contains(QLatin1String("https")));
    QCOMPARE(run.boxes.shown()[0].style, int(platform::OkCritical));
}

void WWWUpdateTest::unsavedNamesAnswerDecidesWhetherTheProgramEnds_data()
{
    QTest::addColumn<int>("answer"); // 0: no name typed, so nothing to ask
    QTest::addColumn<bool>("downloaded");
    QTest::addColumn<Outcome>("outcome");
    QTest::newRow("cancel keeps the program") << int(platform::AnswerCancel) << false << Outcome::Cancelled;
    QTest::newRow("cancel after download") << int(platform::AnswerCancel) << true << Outcome::Cancelled;
    QTest::newRow("saved names go on") << int(platform::AnswerYes) << false << Outcome::Started;
    QTest::newRow("discarded names go on") << int(platform::AnswerNo) << true << Outcome::Started;
    QTest::newRow("nothing pending goes on") << 0 << false << Outcome::Started;
}

void WWWUpdateTest::unsavedNamesAnswerDecidesWhetherTheProgramEnds()
{
    QFETCH(int, answer);
    QFETCH(bool, downloaded);
    QFETCH(Outcome, outcome);
    TinyServer server;
    server.route("/Update.exe", {"200 OK", UpdaterScript, -1, {}, false});
    Run run;
    StartRecorder recorder;
    const auto v = run.values(server.base());
    if (!downloaded) {
        QFile f(v.updaterPath);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(UpdaterScript);
    }
    // A picture on the page, with a typed name unless nothing is to be asked.
    testing::writePictures(run.fixture.programDir.path(), {QStringLiteral("a.jpg")});
    Form1 &form = *run.fixture.form;
    form.model().reload();
    form.model().showPage(true);
    if (answer != 0)
        form.controls().Text1[0]->setPlainText(QStringLiteral("Urlaub"));
    int asked = 0;
    platform::setMessageHandler([&](const platform::MessageRequest &r) {
        if (r.style != platform::YesNoCancelQuestion)
            return int(platform::AnswerOk);
        ++asked;
        // Nothing may have been started before the user has answered.
        [&] { QVERIFY(recorder.starts.isEmpty()); }();
        return answer;
    });

    QCOMPARE(run.update(v), outcome);
    QCOMPARE(asked, answer != 0 ? 1 : 0);
    const bool started = outcome == Outcome::Started;
    QCOMPARE(recorder.starts.size(), started ? 1 : 0);
    QCOMPARE(run.ended, started ? 1 : 0);
    QCOMPARE(QFile::exists(run.fixture.programDir.filePath(QStringLiteral("Urlaub.jpg"))),
             answer == platform::AnswerYes);
}

void WWWUpdateTest::typedNamesAreAskedAboutBeforeTheProgramEnds_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("started");
    QTest::addColumn<QString>("fileAfter");
    QTest::newRow("cancel") << int(platform::AnswerCancel) << false << "a.jpg";
    QTest::newRow("no") << int(platform::AnswerNo) << true << "a.jpg";
    QTest::newRow("yes saves first") << int(platform::AnswerYes) << true << "Urlaub.jpg";
}

void WWWUpdateTest::typedNamesAreAskedAboutBeforeTheProgramEnds()
{
    QFETCH(int, answer);
    QFETCH(bool, started);
    QFETCH(QString, fileAfter);
    testing::FormFixture fixture;
    testing::writePictures(fixture.pictureDir.path(), {QStringLiteral("a.jpg")});
    testing::MessageBoxes boxes;
    StartRecorder recorder;
    Form1 &form = fixture.start();
    auto *actions = form.findChild<ExternalActions *>();
    int ended = 0;
    actions->endProgram = [&] { ++ended; };
    form.controls().Text1[0]->setPlainText(QStringLiteral("Urlaub"));
    const auto v = wwwupdate::updateValues(QStringLiteral("https://update.example.org"),
                                           fixture.programDir.path(), QStringLiteral("namora"));
    QFile f(v.updaterPath);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(UpdaterScript);
    f.close();
    boxes.answer(answer);

    actions->OnlineUpdate(v.programUrl, v.programFile, v.updaterPath, v.updaterUrl, v.extra);
    QVERIFY(!boxes.shown().isEmpty());
    QCOMPARE(boxes.shown()[0].style, int(platform::YesNoCancelQuestion));
    QCOMPARE(recorder.starts.size(), started ? 1 : 0);
    QCOMPARE(ended, started ? 1 : 0);
    QVERIFY(QFile::exists(fixture.pictureDir.filePath(fileAfter)));
}

void WWWUpdateTest::vanishedUpdaterIsReportedNotFound()
{
    Run run;
    StartRecorder recorder;
    const auto v = run.values(QStringLiteral("https://update.example.org"));
    QFile f(v.updaterPath);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(UpdaterScript);
    f.close();
    // The updater goes away while the user answers the question.
    testing::writePictures(run.fixture.programDir.path(), {QStringLiteral("a.jpg")});
    run.fixture.form->model().reload();
    run.fixture.form->model().showPage(true);
    run.fixture.form->controls().Text1[0]->setPlainText(QStringLiteral("getippt"));
    QList<platform::MessageRequest> shown;
    platform::setMessageHandler([&](const platform::MessageRequest &r) {
        shown << r;
        if (r.style != platform::YesNoCancelQuestion)
            return int(platform::AnswerOk);
        QFile::remove(v.updaterPath);
        return int(platform::AnswerNo);
    });

    QCOMPARE(run.update(v), Outcome::NotFound);
    QVERIFY(recorder.starts.isEmpty());
    QCOMPARE(run.ended, 0);
    QCOMPARE(shown.size(), 2);
    QCOMPARE(shown[1].prompt, v.updaterPath + QStringLiteral(" not found!\nUpdate Cancled!"));
    QCOMPARE(shown[1].title, QStringLiteral("File not found!"));
    QCOMPARE(shown[1].style, int(platform::OkCritical));
}

void WWWUpdateTest::updaterThatCannotStartKeepsTheProgramRunning()
{
    Run run;
    StartRecorder recorder(false);
    const auto v = run.values(QStringLiteral("https://update.example.org"));
    QFile f(v.updaterPath);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(UpdaterScript);
    f.close();

    QCOMPARE(run.update(v), Outcome::StartFailed);
    QCOMPARE(recorder.starts.size(), 1);
    QCOMPARE(run.ended, 0);
    QCOMPARE(run.boxes.shown().size(), 1);
    QVERIFY(run.boxes.shown()[0].prompt.startsWith(v.updaterPath));
}

void WWWUpdateTest::clickOnLabelUsesTheConfiguredServer()
{
    TinyServer server;
    server.route("/Update.exe", {"200 OK", UpdaterScript, -1, {}, false});
    testing::FormFixture fixture;
    fixture.writeSettings(QStringLiteral("[Einstellungen]\r\nUpdateServer=") + server.base() +
                          QStringLiteral("/\r\n"));
    testing::MessageBoxes boxes;
    StartRecorder recorder;
    fixture.start(QString());
    auto *actions = fixture.form->findChild<ExternalActions *>();
    int ended = 0;
    actions->endProgram = [&] { ++ended; };
    if (ini::IniRead(QStringLiteral("Einstellungen"), QStringLiteral("UpdateServer"), fixture.iniPath(),
                     QString())
            .isEmpty())
        QSKIP("the settings reader does not read this file yet");

    QTest::mouseClick(fixture.form->controls().Label1, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(ended, 1, 10000);
    const QString updater = fixture.programDir.path() + QLatin1Char('/') + wwwupdate::UpdaterFileName;
    QVERIFY(QFileInfo(updater).isExecutable());
    QCOMPARE(recorder.starts.size(), 1);
    QCOMPARE(recorder.starts[0].program, updater);
    QCOMPARE(recorder.starts[0].args,
             QStringList(
                 {QStringLiteral("[URL]") + server.base() + QStringLiteral("/Namora/Namora.exe"),
                  QStringLiteral("[PATH]") + QFileInfo(QCoreApplication::applicationFilePath()).fileName()}));
    QVERIFY(boxes.shown().isEmpty());
}

void WWWUpdateTest::closingTheWindowDuringDownloadLeavesNoFile()
{
    TinyServer server;
    server.route("/Update.exe", {"200 OK", {}, -1, {}, true});
    Run run;
    StartRecorder recorder;
    const auto v = run.values(server.base());
    QCOMPARE(run.actions->OnlineUpdate(v.programUrl, v.programFile, v.updaterPath, v.updaterUrl, v.extra),
             Outcome::Downloading);
    QTRY_COMPARE(server.requested().size(), 1);

    run.fixture.form->close();
    QVERIFY(!run.actions->isUpdating());
    QCOMPARE(filesIn(run.programDir), QStringList());
    QVERIFY(run.boxes.shown().isEmpty());
    QVERIFY(recorder.starts.isEmpty());
    QCOMPARE(run.ended, 0);
}

QTEST_MAIN(WWWUpdateTest)
#include "wwwupdate_test.moc"
