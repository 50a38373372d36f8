#include "core/pictures/Companions.h"

#include "core/pictures/PictureList.h"

#include <QHash>

namespace pages {

namespace {

// In lower case, without the dot.
constexpr const char *CompanionExtensions[] = {
    "xmp", "pp3", "dop", "aae",                                           // sidecars
    "cr2", "cr3", "crw", "nef", "nrw", "arw", "srf", "sr2", "raf", "orf", // RAW files
    "rw2", "pef", "dng", "srw", "x3f", "3fr", "iiq", "rwl",               //
    "thm", "wav",                                                         // preview, voice memo
};

QString baseOf(const QString &picture)
{
    return picture.left(picture.size() - pictureExtension(picture).size());
}

} // namespace

bool hasCompanionExtension(const char *name, size_t length)
{
    if (length < 4 || name[length - 4] != '.')
        return false;
    char ext[4] = {};
    for (size_t i = 0; i < 3; ++i) {
        const char c = name[length - 3 + i];
        ext[i] = c >= 'A' && c <= 'Z' ? char(c | 0x20) : c;
    }
    for (const char *known : CompanionExtensions)
        if (known[0] == ext[0] && known[1] == ext[1] && known[2] == ext[2])
            return true;
    return false;
}

bool hasCompanionExtension(const QString &fileName)
{
    if (fileName.size() < 4)
        return false;
    char tail[4];
    for (int i = 0; i < 4; ++i) {
        const QChar c = fileName.at(fileName.size() - 4 + i);
        if (c.unicode() > 0x7f)
            return false;
        tail[i] = char(c.unicode());
    }
    return hasCompanionExtension(tail, 4);
}

QList<QStringList> companionsOf(const QStringList &pictures, const QStringList &candidates)
{
    QList<QStringList> out(pictures.size());
    if (candidates.isEmpty())
        return out;
    // Candidates are few beside the pictures: they are hashed by their stem
    // (the name without its last extension) and each picture looks itself up,
    // by its whole name and by its base name.
    QHash<QString, QList<int>> byStem;
    byStem.reserve(candidates.size());
    for (int c = 0; c < candidates.size(); ++c)
        byStem[candidates.at(c).left(candidates.at(c).lastIndexOf(QLatin1Char('.')))] << c;
    constexpr int Ambiguous = -2;
    QList<int> byName(candidates.size(), -1);
    QList<int> byBase(candidates.size(), -1);
    for (int i = 0; i < pictures.size(); ++i) {
        if (const auto it = byStem.constFind(pictures.at(i)); it != byStem.cend())
            for (const int c : it.value())
                byName[c] = i;
        if (const auto it = byStem.constFind(baseOf(pictures.at(i))); it != byStem.cend())
            for (const int c : it.value())
                byBase[c] = byBase.at(c) == -1 ? i : Ambiguous;
    }
    for (int c = 0; c < candidates.size(); ++c) {
        const int owner = byName.at(c) >= 0 ? byName.at(c) : byBase.at(c);
        if (owner >= 0)
            out[owner] << candidates.at(c);
    }
    return out;
}

QString companionName(const QString &companion, const QString &picture, const QString &newPicture)
{
    return baseOf(newPicture) + companion.mid(baseOf(picture).size());
}

} // namespace pages
