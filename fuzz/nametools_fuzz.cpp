// The name tools on any text: no crash, no undefined behaviour in the number
// arithmetic, and ReplaceNoCase ends (libFuzzer's -timeout catches a loop) with a
// result no longer than every possible match replaced.
#include "core/renaming/NameTools.h"

#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>

namespace {
QString text(FuzzedDataProvider &fdp, size_t max)
{
    const std::string s = fdp.ConsumeRandomLengthString(max);
    if (fdp.ConsumeBool())
        return QString::fromUtf8(s.data(), qsizetype(s.size()));
    return QString(reinterpret_cast<const QChar *>(s.data()), qsizetype(s.size() / 2));
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider fdp(data, size);
    const QString t = text(fdp, 256);
    const QString search = text(fdp, 16);
    const QString replacement = text(fdp, 16);
    const int lastSlot = fdp.ConsumeIntegralInRange(-1, 52);

    const QString replaced = names::ReplaceNoCase(t, search, replacement);
    if (search.isEmpty() && replaced != t)
        std::abort();
    if (!search.isEmpty()) {
        const qsizetype most = t.size() / search.size();
        if (replaced.size() >
            t.size() +
                most * (replacement.size() - search.size() > 0 ? replacement.size() - search.size() : 0))
            std::abort();
    }

    names::readDecimal(t);
    names::readInt16(t);
    names::startNumberOf(t);
    names::normaliseStartNumber(t);
    names::nextPageStartNumber(t, lastSlot);
    names::previousPageStartNumber(t, lastSlot);
    names::padNumber(fdp.ConsumeIntegral<qint64>(), fdp.ConsumeIntegralInRange(-5, 40));
    names::roundToInt16(fdp.ConsumeFloatingPoint<double>());

    QStringList page;
    QList<bool> filled;
    for (int i = 0; i < 4; ++i) {
        page << text(fdp, 12);
        filled << fdp.ConsumeBool();
    }
    names::prefixNames(page, filled, search);
    names::suffixNames(page, filled, replacement);
    names::numberNames(page, t.left(8));
    const names::Selection sel = names::nameSelectionOnFocus(t, search);
    if (sel.start < 0 || sel.length < 0 || sel.start + sel.length > t.size())
        std::abort();
    names::prefixSelectionOnFocus(t);
    names::toggledName(search, t);
    return 0;
}
