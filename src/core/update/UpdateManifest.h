#pragma once

#include <QByteArray>
#include <QString>

// The signed description of a release: which version it is, and the size and
// SHA-256 of the updater and of the program file. The program runs an updater
// only when the publisher's key has signed its size and hash, and only for a
// version newer than the running one.
//
// The manifest is plain text, lines ending in "\n", in this order:
//
//   namora-update 1
//   version 1.4
//   updater <size> <sha256, 64 lowercase hex digits>
//   program <size> <sha256>
//   signature <Ed25519 signature of every byte above this line, base64>
//
// Nothing but the signature is read before the signature has been checked.
namespace wwwupdate {

// The manifest's name on the server (beside the updater) and in the program's
// directory (beside the stored updater).
extern const QString ManifestFileName; // "Update.manifest"

// Limits: a manifest is a few lines; an updater is a small program.
constexpr qint64 MaxManifestBytes = 4096;
constexpr qint64 MaxUpdaterBytes = 64ll * 1024 * 1024;

// Raw key lengths (Ed25519).
constexpr int PublicKeyBytes = 32;
constexpr int SecretSeedBytes = 32;

struct FileFacts {
    qint64 size = -1;
    QByteArray sha256; // 32 raw bytes
};

struct Manifest {
    QString version;
    FileFacts updater;
    FileFacts program;
};

enum class ManifestStatus {
    Valid,        // signed by our key, well formed, newer than the running version
    NoKey,        // this build carries no key to check with
    Unsigned,     // no signature line (or no manifest at all)
    BadSignature, // a signature that our key did not make, or content changed since
    Malformed,    // signed, but not in the format above (or too large)
    NotNewer,     // signed and well formed, but not newer than the running version
};

struct ManifestCheck {
    ManifestStatus status = ManifestStatus::Unsigned;
    Manifest manifest; // filled when the signature holds (also for NotNewer)
    QString reason;    // for people and logs
    bool ok() const { return status == ManifestStatus::Valid; }
};

// Checks text against publicKey (32 raw bytes; empty: no key) and the running
// version.
ManifestCheck verifyManifest(const QByteArray &text, const QByteArray &publicKey,
                             const QString &runningVersion);

// The signed text of manifest (secretSeed: 32 raw bytes). Empty when the manifest
// cannot be written in the format (bad version, size or hash) or the seed is wrong.
QByteArray signManifest(const Manifest &manifest, const QByteArray &secretSeed);

// body (lines ending in "\n") followed by its signature line: what signManifest
// does after writing the lines. Empty for a bad seed or a body without a final
// line end.
QByteArray signText(const QByteArray &body, const QByteArray &secretSeed);

// Compares dotted version numbers by their numbers ("1.10" > "1.9", "1.3" ==
// "1.3.0"): negative, zero or positive. Only for versions isVersion accepts.
int compareVersions(const QString &a, const QString &b);

// One to four dot-separated numbers of at most nine digits each.
bool isVersion(const QString &version);

// The key the program checks releases with: the one given at build time, or the
// one a test installed. Empty when the build has none.
QByteArray updatePublicKey();
// Replaces the key (tests; an empty key imitates a build without one).
void setUpdatePublicKey(const QByteArray &publicKey);
// Restores the key given at build time.
void resetUpdatePublicKey();

// A signing key: the secret seed and the public key that belongs to it.
struct SigningKey {
    QByteArray seed;      // secret, 32 raw bytes
    QByteArray publicKey; // 32 raw bytes
    bool isValid() const { return seed.size() == SecretSeedBytes && publicKey.size() == PublicKeyBytes; }
};
SigningKey makeSigningKey();
// The key for a stored seed; invalid when the seed is not 32 bytes.
SigningKey signingKeyFromSeed(const QByteArray &seed);

// 64 hex digits to 32 raw bytes; empty when text is not exactly that.
QByteArray keyFromHex(const QByteArray &text);

enum class FileCheckStatus {
    Matches,     // size and SHA-256 are the ones expected
    Missing,     // no such file
    Unreadable,  // cannot be opened or read, or is not a regular file
    SizeDiffers, // another size
    HashDiffers, // the same size, other content
};

struct FileCheck {
    FileCheckStatus status = FileCheckStatus::Missing;
    QString reason;
    bool ok() const { return status == FileCheckStatus::Matches; }
};

// Reads the file at path (through the file-name codec) and compares it with facts.
FileCheck checkFile(const QString &path, const FileFacts &facts);

// The size and SHA-256 of the file at path; size -1 when it cannot be read.
FileFacts factsOf(const QString &path);
// The same for an open file, read from its start (the descriptor's offset is
// left alone).
FileFacts factsOfDescriptor(int fd);

enum class StoredStatus {
    Ready,          // the stored updater is the one a valid manifest describes
    NoKey,          // this build carries no key
    UpdaterMissing, // no updater stored
    ManifestBad,    // no stored manifest, or it fails verifyManifest
    NotNewer,       // the stored release is not newer than the running program
    UpdaterChanged, // the stored updater is not the one its manifest describes
};

struct StoredCheck {
    StoredStatus status = StoredStatus::UpdaterMissing;
    QString reason;
    QString version; // the stored release's version, when its manifest is signed
    bool ok() const { return status == StoredStatus::Ready; }
};

// Whether the updater at updaterPath may be started: its manifest at manifestPath
// is signed by publicKey, newer than runningVersion, and describes exactly this
// file. Checked before every start, not only after a download.
StoredCheck checkStoredUpdater(const QString &updaterPath, const QString &manifestPath,
                               const QByteArray &publicKey, const QString &runningVersion);
// The same for the updater open as fd: what is checked is exactly the file that
// a start through the same descriptor runs, whatever is renamed over its path
// in between.
StoredCheck checkStoredUpdater(int fd, const QString &manifestPath, const QByteArray &publicKey,
                               const QString &runningVersion);

} // namespace wwwupdate
