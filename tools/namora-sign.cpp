// namora-sign: the publisher's tool for online updates. Makes a signing key pair
// and signs a release, i.e. writes the manifest that names the version and the
// size and SHA-256 of the updater and of the program file. The secret key never
// leaves the publisher's machine: it is neither built into nor shipped with the
// program, which carries only the public key (NAMORA_UPDATE_PUBLIC_KEY).
#include "core/platform/FileNames.h"
#include "core/platform/SystemError.h"
#include "core/update/UpdateManifest.h"
#include "core/update/WWWUpdate.h"

#include <QByteArray>
#include <QString>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray SecretKeyHeader = QByteArrayLiteral("namora-update-secret-key ");

int usage()
{
    std::fputs("usage:\n"
               "  namora-sign keygen SECRET_KEY_FILE\n"
               "      makes a key pair: the secret key goes into SECRET_KEY_FILE (mode 0600,\n"
               "      never overwritten); the public key is printed for NAMORA_UPDATE_PUBLIC_KEY\n"
               "  namora-sign sign SECRET_KEY_FILE VERSION UPDATER PROGRAM [MANIFEST]\n"
               "      writes the signed manifest for the updater and program files of release\n"
               "      VERSION to MANIFEST (default: Update.manifest beside UPDATER)\n"
               "  namora-sign verify PUBLIC_KEY MANIFEST UPDATER [PROGRAM]\n"
               "      checks a manifest against the public key (64 hex digits) and the files\n",
               stderr);
    return 2;
}

int fail(const QString &text)
{
    std::fprintf(stderr, "namora-sign: %s\n", text.toLocal8Bit().constData());
    return 1;
}

QString argument(const char *arg)
{
    return platform::decodeName(QByteArray(arg));
}

// The path as given, made absolute against the working directory.
QString absolutePath(const QString &path)
{
    if (path.startsWith(QLatin1Char('/')))
        return path;
    return platform::currentDirectory() + path;
}

QByteArray readAll(const QString &path, qint64 limit, int &error)
{
    QByteArray data = platform::readSmallFile(path, limit, error);
    if (error == 0 && data.size() > limit)
        error = EFBIG;
    return data;
}

int keygen(const QString &secretPath)
{
    const wwwupdate::SigningKey key = wwwupdate::makeSigningKey();
    if (!key.isValid())
        return fail(QStringLiteral("no random source for a key"));
    const QByteArray path = platform::encodeName(absolutePath(secretPath));
    // O_EXCL: an existing key is never replaced, or every release signed with it
    // would be lost for the programs that carry its public half.
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return fail(secretPath + QStringLiteral(": ") + platform::errorText(errno));
    const QByteArray text = SecretKeyHeader + key.seed.toHex() + '\n';
    const bool written = ::fchmod(fd, 0600) == 0 &&
                         ::write(fd, text.constData(), size_t(text.size())) == text.size() &&
                         ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    if (!written) {
        ::unlink(path.constData());
        return fail(secretPath + QStringLiteral(": ") + platform::errorText(error));
    }
    std::printf("public key: %s\n", key.publicKey.toHex().constData());
    std::printf("build with: cmake -DNAMORA_UPDATE_PUBLIC_KEY=%s ...\n", key.publicKey.toHex().constData());
    std::printf("keep %s secret and off the update server\n", secretPath.toLocal8Bit().constData());
    return 0;
}

wwwupdate::SigningKey readSecretKey(const QString &path, QString &problem)
{
    int error = 0;
    const QByteArray text = readAll(absolutePath(path), 4096, error).trimmed();
    if (error != 0) {
        problem = path + QStringLiteral(": ") + platform::errorText(error);
        return {};
    }
    if (!text.startsWith(SecretKeyHeader)) {
        problem = path + QStringLiteral(": not a secret key made by namora-sign keygen");
        return {};
    }
    const QByteArray seed = wwwupdate::keyFromHex(text.mid(SecretKeyHeader.size()));
    const wwwupdate::SigningKey key = wwwupdate::signingKeyFromSeed(seed);
    if (!key.isValid())
        problem = path + QStringLiteral(": the key is damaged");
    return key;
}

int sign(const QString &secretPath, const QString &version, const QString &updater, const QString &program,
         QString manifestPath)
{
    QString problem;
    const wwwupdate::SigningKey key = readSecretKey(secretPath, problem);
    if (!key.isValid())
        return fail(problem);
    if (!wwwupdate::isVersion(version))
        return fail(version + QStringLiteral(": a version is one to four numbers with dots, such as 1.4"));
    wwwupdate::Manifest manifest;
    manifest.version = version;
    manifest.updater = wwwupdate::factsOf(absolutePath(updater));
    manifest.program = wwwupdate::factsOf(absolutePath(program));
    if (manifest.updater.size < 1)
        return fail(updater + QStringLiteral(": cannot be read, or is empty"));
    if (manifest.updater.size > wwwupdate::MaxUpdaterBytes)
        return fail(
            updater +
            QStringLiteral(": larger than the %1 bytes an updater may have").arg(wwwupdate::MaxUpdaterBytes));
    if (manifest.program.size < 1)
        return fail(program + QStringLiteral(": cannot be read, or is empty"));
    const QByteArray text = wwwupdate::signManifest(manifest, key.seed);
    if (text.isEmpty())
        return fail(QStringLiteral("the manifest could not be signed"));
    if (manifestPath.isEmpty())
        manifestPath = platform::directoryOf(absolutePath(updater)) + wwwupdate::ManifestFileName;
    // The manifest is public: readable by all, like the files it describes.
    const wwwupdate::WriteResult written =
        wwwupdate::writeFileAtomically(absolutePath(manifestPath), text, 0644);
    if (!written.ok())
        return fail(manifestPath + QStringLiteral(": ") + written.reason);
    std::printf("signed release %s with public key %s into %s\n", version.toLatin1().constData(),
                key.publicKey.toHex().constData(), platform::encodeName(manifestPath).constData());
    return 0;
}

int verify(const QString &publicHex, const QString &manifestPath, const QString &updater,
           const QString &program)
{
    const QByteArray key = wwwupdate::keyFromHex(publicHex.toLatin1());
    if (key.isEmpty())
        return fail(QStringLiteral("the public key must be 64 hex digits"));
    int error = 0;
    const QByteArray text = readAll(absolutePath(manifestPath), wwwupdate::MaxManifestBytes, error);
    if (error != 0)
        return fail(manifestPath + QStringLiteral(": ") + platform::errorText(error));
    // Any release is newer than version 0: this checks the signature and the files.
    const wwwupdate::ManifestCheck check = wwwupdate::verifyManifest(text, key, QStringLiteral("0"));
    if (!check.ok())
        return fail(manifestPath + QStringLiteral(": ") + check.reason);
    const wwwupdate::FileCheck u = wwwupdate::checkFile(absolutePath(updater), check.manifest.updater);
    if (!u.ok())
        return fail(updater + QStringLiteral(": ") + u.reason);
    if (!program.isEmpty()) {
        const wwwupdate::FileCheck p = wwwupdate::checkFile(absolutePath(program), check.manifest.program);
        if (!p.ok())
            return fail(program + QStringLiteral(": ") + p.reason);
    }
    std::printf("valid: release %s\n", check.manifest.version.toLatin1().constData());
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2)
        return usage();
    const QByteArray command(argv[1]);
    if (command == "keygen" && argc == 3)
        return keygen(argument(argv[2]));
    if (command == "sign" && (argc == 6 || argc == 7))
        return sign(argument(argv[2]), argument(argv[3]), argument(argv[4]), argument(argv[5]),
                    argc == 7 ? argument(argv[6]) : QString());
    if (command == "verify" && (argc == 5 || argc == 6))
        return verify(argument(argv[2]), argument(argv[3]), argument(argv[4]),
                      argc == 6 ? argument(argv[5]) : QString());
    return usage();
}
