// The update manifest's reader on arbitrary text: no crash; text that this
// harness did not sign is never taken for a signed manifest; text it signed is
// either refused or read exactly as the writer would have written it.
#include "core/update/UpdateManifest.h"

#include <QByteArray>

#include <cstdio>
#include <cstdlib>

namespace {
[[noreturn]] void fail(const char *why)
{
    std::fprintf(stderr, "manifest_fuzz: %s\n", why);
    std::abort();
}

const wwwupdate::SigningKey &key()
{
    static const wwwupdate::SigningKey k = wwwupdate::signingKeyFromSeed(QByteArray(32, '\x2a'));
    return k;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString running = QStringLiteral("1.3");

    // As it comes: only a signature made with the key could make it pass.
    const wwwupdate::ManifestCheck raw = wwwupdate::verifyManifest(input, key().publicKey, running);
    if (raw.status != wwwupdate::ManifestStatus::Unsigned &&
        raw.status != wwwupdate::ManifestStatus::BadSignature &&
        raw.status != wwwupdate::ManifestStatus::Malformed)
        fail("text nobody signed passed the signature check");
    if (raw.status == wwwupdate::ManifestStatus::Malformed && input.size() <= wwwupdate::MaxManifestBytes)
        fail("unsigned text reached the reader of signed lines");

    // Signed by the harness: the reader must agree with the writer.
    QByteArray body = input;
    if (!body.endsWith('\n'))
        body += '\n';
    const QByteArray signedText = wwwupdate::signText(body, key().seed);
    if (signedText.isEmpty())
        fail("signText refused a body with a final line end");
    const wwwupdate::ManifestCheck check = wwwupdate::verifyManifest(signedText, key().publicKey, running);
    if (check.status == wwwupdate::ManifestStatus::Unsigned ||
        check.status == wwwupdate::ManifestStatus::NoKey)
        fail("a signed text was not recognised as signed");
    if (check.status == wwwupdate::ManifestStatus::BadSignature)
        fail("the harness's own signature did not hold");
    if (check.status == wwwupdate::ManifestStatus::Valid ||
        check.status == wwwupdate::ManifestStatus::NotNewer) {
        if (wwwupdate::signManifest(check.manifest, key().seed) != signedText)
            fail("a manifest was read other than the writer writes it");
        if ((check.status == wwwupdate::ManifestStatus::Valid) !=
            (wwwupdate::compareVersions(check.manifest.version, running) > 0))
            fail("newer and not newer confused");
    }
    return 0;
}
