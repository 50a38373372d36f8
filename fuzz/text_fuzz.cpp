// The path and text helpers, the file-name codec and the natural order on any
// input: no crash, and the promises they make hold.
#include "core/pictures/PictureList.h"
#include "core/platform/FileNames.h"
#include "core/platform/text.h"

#include <QByteArray>
#include <QString>
#include <QStringDecoder>

#include <cstdlib>

namespace {
void check(bool ok)
{
    if (!ok)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString s(reinterpret_cast<const QChar *>(data), qsizetype(size / 2));

    // CleanName never leaves a character that may not stand in a name, changes
    // nothing else, and cleaning twice changes nothing more.
    const QString clean = text::CleanName(s);
    for (const char c : {':', '\\', '/', '"', '\r', '\n'})
        check(!clean.contains(QLatin1Char(c)));
    check(clean.size() <= s.size());
    check(text::CleanName(clean) == clean);

    // GetFileName is a tail of the path without the separator in use.
    const QString name = text::GetFileName(s);
    check(s.endsWith(name));
    check(!name.contains(QLatin1Char('\\')));
    if (!s.contains(QLatin1Char('\\')))
        check(!name.contains(QLatin1Char('/')));

    // AddSeparator adds at most one character and is idempotent.
    const QString withSep = text::AddSeparator(s);
    check(withSep.size() == s.size() || withSep.size() == s.size() + 1);
    check(text::AddSeparator(withSep) == withSep);

    // QuoteIfSpaces: the argument unchanged, or trimmed, or trimmed and quoted.
    const QString quoted = text::QuoteIfSpaces(s);
    check(quoted.size() <= s.size() + 2);

    // Every byte string decodes to a name that encodes back to the same bytes, and
    // valid UTF-8 decodes as UTF-8.
    const QString decoded = platform::decodeName(bytes);
    check(platform::encodeName(decoded) == bytes);
    // (a leading byte-order mark is a character of the name, not to be dropped)
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QString reference = utf8(bytes);
    const bool validUtf8 = !utf8.hasError();
    check(platform::needsRawEncoding(decoded) == !validUtf8);
    if (validUtf8)
        check(decoded == reference);

    // The natural order is irreflexive and asymmetric.
    const QString a = s.left(s.size() / 2);
    const QString b = s.mid(s.size() / 2);
    check(!pages::naturalLess(a, a));
    if (a != b)
        check(pages::naturalLess(a, b) != pages::naturalLess(b, a));
    return 0;
}
