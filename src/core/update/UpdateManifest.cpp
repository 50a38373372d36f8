#include "core/update/UpdateManifest.h"

#include "UpdateBuildKey.h"
#include "core/platform/FileNames.h"
#include "core/platform/SystemError.h"

#include <QCryptographicHash>
#include <QList>
#include <QMutex>
#include <QMutexLocker>

#include <cerrno>
#include <limits>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

namespace wwwupdate {

const QString ManifestFileName = QStringLiteral("Update.manifest");

namespace {

const QByteArray Header = QByteArrayLiteral("namora-update 1");
const QByteArray SignaturePrefix = QByteArrayLiteral("signature ");

bool ensureSodium()
{
    // sodium_init is idempotent and thread-safe; below zero it has no random source.
    static const bool ready = sodium_init() >= 0;
    return ready;
}

struct KeyState {
    QMutex mutex;
    bool overridden = false;
    QByteArray key;
};

KeyState &keyState()
{
    static KeyState state;
    return state;
}

bool isDecimal(const QByteArray &s, int maxDigits)
{
    if (s.isEmpty() || s.size() > maxDigits)
        return false;
    for (const char c : s)
        if (c < '0' || c > '9')
            return false;
    return true;
}

bool isLowerHex(const QByteArray &s)
{
    for (const char c : s)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

// "updater <size> <sha256>" with the given name; a size of 1 up to maxSize bytes.
bool parseFacts(const QByteArray &line, const QByteArray &name, qint64 maxSize, FileFacts &facts)
{
    const QList<QByteArray> parts = line.split(' ');
    // One way to write each value, so that a signed manifest has one reading.
    if (parts.size() != 3 || parts[0] != name || !isDecimal(parts[1], 18) || parts[1].startsWith('0') ||
        parts[2].size() != 64 || !isLowerHex(parts[2]))
        return false;
    const qint64 size = parts[1].toLongLong();
    if (size < 1 || size > maxSize)
        return false;
    facts.size = size;
    facts.sha256 = QByteArray::fromHex(parts[2]);
    return facts.sha256.size() == 32;
}

QByteArray factsLine(const char *name, const FileFacts &facts)
{
    return QByteArray(name) + ' ' + QByteArray::number(facts.size) + ' ' + facts.sha256.toHex() + '\n';
}

} // namespace

bool isVersion(const QString &version)
{
    const QStringList parts = version.split(QLatin1Char('.'));
    if (parts.size() > 4)
        return false;
    for (const QString &part : parts)
        if (!isDecimal(part.toLatin1(), 9))
            return false;
    return true;
}

int compareVersions(const QString &a, const QString &b)
{
    const QStringList pa = a.split(QLatin1Char('.'));
    const QStringList pb = b.split(QLatin1Char('.'));
    for (qsizetype i = 0; i < qMax(pa.size(), pb.size()); ++i) {
        const qint64 x = i < pa.size() ? pa[i].toLongLong() : 0;
        const qint64 y = i < pb.size() ? pb[i].toLongLong() : 0;
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

ManifestCheck verifyManifest(const QByteArray &text, const QByteArray &publicKey,
                             const QString &runningVersion)
{
    ManifestCheck check;
    if (publicKey.size() != PublicKeyBytes) {
        check.status = ManifestStatus::NoKey;
        check.reason = QStringLiteral("no key to check updates with");
        return check;
    }
    if (text.size() > MaxManifestBytes) {
        check.status = ManifestStatus::Malformed;
        check.reason = QStringLiteral("the manifest is larger than %1 bytes").arg(MaxManifestBytes);
        return check;
    }
    // The last line carries the signature; everything before it is what was signed.
    QByteArray body = text;
    if (body.endsWith('\n'))
        body.chop(1);
    const qsizetype lineStart = body.lastIndexOf('\n') + 1;
    if (lineStart == 0 || !body.mid(lineStart).startsWith(SignaturePrefix)) {
        check.status = ManifestStatus::Unsigned;
        check.reason = QStringLiteral("the manifest carries no signature");
        return check;
    }
    const QByteArray signedPart = text.left(lineStart);
    const auto decoded = QByteArray::fromBase64Encoding(body.mid(lineStart + SignaturePrefix.size()),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!ensureSodium() || !decoded || decoded.decoded.size() != crypto_sign_BYTES ||
        crypto_sign_verify_detached(reinterpret_cast<const unsigned char *>(decoded.decoded.constData()),
                                    reinterpret_cast<const unsigned char *>(signedPart.constData()),
                                    static_cast<unsigned long long>(signedPart.size()),
                                    reinterpret_cast<const unsigned char *>(publicKey.constData())) != 0) {
        check.status = ManifestStatus::BadSignature;
        check.reason = QStringLiteral("the manifest's signature is not valid for this program's key");
        return check;
    }

    QList<QByteArray> lines = signedPart.split('\n');
    lines.removeLast(); // the empty piece after the last "\n"
    Manifest m;
    const bool wellFormed = lines.size() == 4 && lines[0] == Header && lines[1].startsWith("version ") &&
                            isVersion(QString::fromLatin1(lines[1].mid(8))) &&
                            parseFacts(lines[2], "updater", MaxUpdaterBytes, m.updater) &&
                            parseFacts(lines[3], "program", std::numeric_limits<qint64>::max(), m.program);
    if (!wellFormed) {
        check.status = ManifestStatus::Malformed;
        check.reason = QStringLiteral("the signed manifest is not in the expected format");
        return check;
    }
    m.version = QString::fromLatin1(lines[1].mid(8));
    check.manifest = m;
    if (!isVersion(runningVersion) || compareVersions(m.version, runningVersion) <= 0) {
        check.status = ManifestStatus::NotNewer;
        check.reason =
            QStringLiteral("version %1 is not newer than the running %2").arg(m.version, runningVersion);
        return check;
    }
    check.status = ManifestStatus::Valid;
    return check;
}

QByteArray signManifest(const Manifest &manifest, const QByteArray &secretSeed)
{
    const SigningKey key = signingKeyFromSeed(secretSeed);
    const auto validFacts = [](const FileFacts &f, qint64 max) {
        return f.size >= 1 && f.size <= max && f.sha256.size() == 32;
    };
    if (!key.isValid() || !isVersion(manifest.version) || !validFacts(manifest.updater, MaxUpdaterBytes) ||
        !validFacts(manifest.program, std::numeric_limits<qint64>::max()))
        return QByteArray();
    const QByteArray body = Header + '\n' + "version " + manifest.version.toLatin1() + '\n' +
                            factsLine("updater", manifest.updater) + factsLine("program", manifest.program);
    return signText(body, secretSeed);
}

QByteArray signText(const QByteArray &body, const QByteArray &secretSeed)
{
    if (secretSeed.size() != SecretSeedBytes || !ensureSodium() || (!body.isEmpty() && !body.endsWith('\n')))
        return QByteArray();
    QByteArray secret(crypto_sign_SECRETKEYBYTES, '\0');
    QByteArray publicKey(crypto_sign_PUBLICKEYBYTES, '\0');
    QByteArray signature(crypto_sign_BYTES, '\0');
    crypto_sign_seed_keypair(reinterpret_cast<unsigned char *>(publicKey.data()),
                             reinterpret_cast<unsigned char *>(secret.data()),
                             reinterpret_cast<const unsigned char *>(secretSeed.constData()));
    crypto_sign_detached(reinterpret_cast<unsigned char *>(signature.data()), nullptr,
                         reinterpret_cast<const unsigned char *>(body.constData()),
                         static_cast<unsigned long long>(body.size()),
                         reinterpret_cast<const unsigned char *>(secret.constData()));
    sodium_memzero(secret.data(), size_t(secret.size()));
    return body + SignaturePrefix + signature.toBase64() + '\n';
}

QByteArray keyFromHex(const QByteArray &text)
{
    const QByteArray lower = text.trimmed().toLower();
    if (lower.size() != 2 * PublicKeyBytes || !isLowerHex(lower))
        return QByteArray();
    return QByteArray::fromHex(lower);
}

QByteArray updatePublicKey()
{
    KeyState &state = keyState();
    QMutexLocker lock(&state.mutex);
    if (state.overridden)
        return state.key;
    // Checked when the build is configured: empty, or 64 hex digits.
    return keyFromHex(QByteArrayLiteral(NAMORA_UPDATE_PUBLIC_KEY_HEX));
}

void setUpdatePublicKey(const QByteArray &publicKey)
{
    KeyState &state = keyState();
    QMutexLocker lock(&state.mutex);
    state.overridden = true;
    state.key = publicKey;
}

void resetUpdatePublicKey()
{
    KeyState &state = keyState();
    QMutexLocker lock(&state.mutex);
    state.overridden = false;
    state.key.clear();
}

SigningKey makeSigningKey()
{
    if (!ensureSodium())
        return {};
    QByteArray seed(SecretSeedBytes, '\0');
    randombytes_buf(seed.data(), size_t(seed.size()));
    return signingKeyFromSeed(seed);
}

SigningKey signingKeyFromSeed(const QByteArray &seed)
{
    if (seed.size() != SecretSeedBytes || !ensureSodium())
        return {};
    QByteArray secret(crypto_sign_SECRETKEYBYTES, '\0');
    QByteArray publicKey(crypto_sign_PUBLICKEYBYTES, '\0');
    crypto_sign_seed_keypair(reinterpret_cast<unsigned char *>(publicKey.data()),
                             reinterpret_cast<unsigned char *>(secret.data()),
                             reinterpret_cast<const unsigned char *>(seed.constData()));
    sodium_memzero(secret.data(), size_t(secret.size()));
    return {seed, publicKey};
}

FileFacts factsOfDescriptor(int fd)
{
    FileFacts facts;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray buffer(1 << 16, '\0');
    qint64 total = 0;
    for (;;) {
        const ssize_t n = ::pread(fd, buffer.data(), size_t(buffer.size()), off_t(total));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return facts;
        if (n == 0)
            break;
        hash.addData(QByteArrayView(buffer.constData(), n));
        total += n;
    }
    facts.size = total;
    facts.sha256 = hash.result();
    return facts;
}

FileFacts factsOf(const QString &path)
{
    const int fd = platform::openForReading(path);
    if (fd < 0)
        return FileFacts{};
    const FileFacts facts = factsOfDescriptor(fd);
    ::close(fd);
    return facts;
}

FileCheck checkFile(const QString &path, const FileFacts &facts)
{
    const QByteArray encoded = platform::encodeName(path);
    struct stat st;
    if (encoded.isEmpty() || ::stat(encoded.constData(), &st) != 0) {
        const int error = encoded.isEmpty() ? ENOENT : errno;
        return {error == ENOENT ? FileCheckStatus::Missing : FileCheckStatus::Unreadable,
                platform::errorText(error)};
    }
    if (!S_ISREG(st.st_mode))
        return {FileCheckStatus::Unreadable, QStringLiteral("not a regular file")};
    // A file of another size is not read at all, so a huge one costs nothing.
    if (st.st_size != facts.size)
        return {FileCheckStatus::SizeDiffers,
                QStringLiteral("%1 bytes instead of %2").arg(qint64(st.st_size)).arg(facts.size)};
    const FileFacts actual = factsOf(path);
    if (actual.size < 0)
        return {FileCheckStatus::Unreadable, QStringLiteral("cannot be read")};
    if (actual.size != facts.size)
        return {FileCheckStatus::SizeDiffers,
                QStringLiteral("%1 bytes instead of %2").arg(actual.size).arg(facts.size)};
    if (actual.sha256 != facts.sha256)
        return {FileCheckStatus::HashDiffers, QStringLiteral("the SHA-256 differs")};
    return {FileCheckStatus::Matches, QString()};
}

namespace {
// The signed manifest stored beside the updater: Ready with its facts, or why not.
StoredCheck checkStoredManifest(const QString &manifestPath, const QByteArray &publicKey,
                                const QString &runningVersion, FileFacts &updater)
{
    StoredCheck result;
    if (publicKey.size() != PublicKeyBytes) {
        result.status = StoredStatus::NoKey;
        result.reason = QStringLiteral("no key to check updates with");
        return result;
    }
    int error = 0;
    const QByteArray text = platform::readSmallFile(manifestPath, MaxManifestBytes, error);
    if (error != 0) {
        result.status = StoredStatus::ManifestBad;
        result.reason = QStringLiteral("manifest: ") + platform::errorText(error);
        return result;
    }
    const ManifestCheck manifest = verifyManifest(text, publicKey, runningVersion);
    result.version = manifest.manifest.version;
    if (manifest.status == ManifestStatus::NotNewer) {
        result.status = StoredStatus::NotNewer;
        result.reason = manifest.reason;
        return result;
    }
    if (!manifest.ok()) {
        result.status = StoredStatus::ManifestBad;
        result.reason = manifest.reason;
        return result;
    }
    updater = manifest.manifest.updater;
    result.status = StoredStatus::Ready;
    return result;
}
} // namespace

StoredCheck checkStoredUpdater(const QString &updaterPath, const QString &manifestPath,
                               const QByteArray &publicKey, const QString &runningVersion)
{
    FileFacts expected;
    StoredCheck result = checkStoredManifest(manifestPath, publicKey, runningVersion, expected);
    if (!result.ok())
        return result;
    const FileCheck file = checkFile(updaterPath, expected);
    if (file.status == FileCheckStatus::Missing) {
        result.status = StoredStatus::UpdaterMissing;
        result.reason = file.reason;
    } else if (!file.ok()) {
        result.status = StoredStatus::UpdaterChanged;
        result.reason = file.reason;
    }
    return result;
}

StoredCheck checkStoredUpdater(int fd, const QString &manifestPath, const QByteArray &publicKey,
                               const QString &runningVersion)
{
    FileFacts expected;
    StoredCheck result = checkStoredManifest(manifestPath, publicKey, runningVersion, expected);
    if (!result.ok())
        return result;
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        result.status = StoredStatus::UpdaterMissing;
        result.reason = QStringLiteral("not a regular file");
        return result;
    }
    // A file of another size is not read at all, so a huge one costs nothing.
    const FileFacts actual =
        st.st_size == expected.size ? factsOfDescriptor(fd) : FileFacts{qint64(st.st_size), {}};
    if (actual.size != expected.size || actual.sha256 != expected.sha256) {
        result.status = StoredStatus::UpdaterChanged;
        result.reason = QStringLiteral("the updater is not the one its manifest describes");
    }
    return result;
}

} // namespace wwwupdate
