#include "core/update/UpdateManifest.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run sign(const QStringList &args, const QString &workDir)
{
    QProcess p;
    p.setWorkingDirectory(workDir);
    p.start(QStringLiteral(NAMORA_SIGN_BINARY), args);
    Run r;
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished(5000);
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

QByteArray contentOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(content), content.size());
}

// The public key keygen printed, as raw bytes.
QByteArray printedKey(const QByteArray &out)
{
    for (const QByteArray &line : out.split('\n'))
        if (line.startsWith("public key: "))
            return wwwupdate::keyFromHex(line.mid(12));
    return QByteArray();
}

} // namespace

class NamoraSignTest : public QObject {
    Q_OBJECT
private slots:
    void signedReleaseVerifiesWithThePrintedKeyOnly();
    void keygenNeverReplacesASecretKey();
    void releaseThatCannotBeValidIsNotSigned_data();
    void releaseThatCannotBeValidIsNotSigned();
};

void NamoraSignTest::signedReleaseVerifiesWithThePrintedKeyOnly()
{
    QTemporaryDir dir;
    writeFile(dir.filePath(QStringLiteral("Update")), "#!/bin/sh\necho updating\n");
    writeFile(dir.filePath(QStringLiteral("Namora")), "the new program");

    // The secret key is private to its owner whatever the umask.
    const mode_t old = ::umask(0);
    const Run keygen = sign({QStringLiteral("keygen"), QStringLiteral("release.key")}, dir.path());
    ::umask(old);
    QCOMPARE(keygen.exitCode, 0);
    struct stat st;
    QCOMPARE(::stat(QFile::encodeName(dir.filePath(QStringLiteral("release.key"))).constData(), &st), 0);
    QCOMPARE(int(st.st_mode & 07777), 0600);
    const QByteArray key = printedKey(keygen.out);
    QCOMPARE(key.size(), wwwupdate::PublicKeyBytes);

    const Run signing = sign({QStringLiteral("sign"), QStringLiteral("release.key"), QStringLiteral("2.0"),
                              QStringLiteral("Update"), QStringLiteral("Namora")},
                             dir.path());
    QVERIFY2(signing.exitCode == 0, signing.err.constData());
    const QByteArray manifest = contentOf(dir.filePath(wwwupdate::ManifestFileName));

    // What the program itself will check.
    const wwwupdate::ManifestCheck check =
        wwwupdate::verifyManifest(manifest, key, QStringLiteral(NAMORA_VERSION));
    QVERIFY2(check.ok(), qPrintable(check.reason));
    QCOMPARE(check.manifest.version, QStringLiteral("2.0"));
    QVERIFY(wwwupdate::checkFile(dir.filePath(QStringLiteral("Update")), check.manifest.updater).ok());
    QVERIFY(wwwupdate::checkFile(dir.filePath(QStringLiteral("Namora")), check.manifest.program).ok());
    const wwwupdate::SigningKey stranger = wwwupdate::makeSigningKey();
    QCOMPARE(wwwupdate::verifyManifest(manifest, stranger.publicKey, QStringLiteral(NAMORA_VERSION)).status,
             wwwupdate::ManifestStatus::BadSignature);

    const QString hex = QString::fromLatin1(key.toHex());
    QCOMPARE(sign({QStringLiteral("verify"), hex, wwwupdate::ManifestFileName, QStringLiteral("Update"),
                   QStringLiteral("Namora")},
                  dir.path())
                 .exitCode,
             0);
    QCOMPARE(sign({QStringLiteral("verify"), QString::fromLatin1(stranger.publicKey.toHex()),
                   wwwupdate::ManifestFileName, QStringLiteral("Update")},
                  dir.path())
                 .exitCode,
             1);
    writeFile(dir.filePath(QStringLiteral("Update")), "#!/bin/sh\necho swapped!\n");
    QCOMPARE(sign({QStringLiteral("verify"), hex, wwwupdate::ManifestFileName, QStringLiteral("Update")},
                  dir.path())
                 .exitCode,
             1);
}

void NamoraSignTest::keygenNeverReplacesASecretKey()
{
    QTemporaryDir dir;
    QCOMPARE(sign({QStringLiteral("keygen"), QStringLiteral("release.key")}, dir.path()).exitCode, 0);
    const QByteArray first = contentOf(dir.filePath(QStringLiteral("release.key")));
    QVERIFY(!first.isEmpty());
    const Run again = sign({QStringLiteral("keygen"), QStringLiteral("release.key")}, dir.path());
    QCOMPARE(again.exitCode, 1);
    QVERIFY(printedKey(again.out).isEmpty());
    QCOMPARE(contentOf(dir.filePath(QStringLiteral("release.key"))), first);
}

void NamoraSignTest::releaseThatCannotBeValidIsNotSigned_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("updater");
    QTest::addColumn<QString>("program");
    QTest::addColumn<QByteArray>("secretKey"); // empty: the one keygen made
    QTest::newRow("version with letters") << "2.0-beta"
                                          << "Update"
                                          << "Namora" << QByteArray();
    QTest::newRow("empty updater") << "2.0"
                                   << "Empty"
                                   << "Namora" << QByteArray();
    QTest::newRow("missing program file") << "2.0"
                                          << "Update"
                                          << "Missing" << QByteArray();
    QTest::newRow("damaged secret key") << "2.0"
                                        << "Update"
                                        << "Namora" << QByteArray("namora-update-secret-key 12ab\n");
    QTest::newRow("not a secret key") << "2.0"
                                      << "Update"
                                      << "Namora" << QByteArray("hello\n");
}

void NamoraSignTest::releaseThatCannotBeValidIsNotSigned()
{
    QFETCH(QString, version);
    QFETCH(QString, updater);
    QFETCH(QString, program);
    QFETCH(QByteArray, secretKey);
    QTemporaryDir dir;
    writeFile(dir.filePath(QStringLiteral("Update")), "#!/bin/sh\n");
    writeFile(dir.filePath(QStringLiteral("Empty")), QByteArray());
    writeFile(dir.filePath(QStringLiteral("Namora")), "program");
    QCOMPARE(sign({QStringLiteral("keygen"), QStringLiteral("release.key")}, dir.path()).exitCode, 0);
    if (!secretKey.isEmpty())
        writeFile(dir.filePath(QStringLiteral("release.key")), secretKey);

    const Run r =
        sign({QStringLiteral("sign"), QStringLiteral("release.key"), version, updater, program}, dir.path());
    QCOMPARE(r.exitCode, 1);
    QVERIFY(!r.err.isEmpty());
    QVERIFY(!QFile::exists(dir.filePath(wwwupdate::ManifestFileName)));
}

QTEST_GUILESS_MAIN(NamoraSignTest)
#include "namorasign_test.moc"
