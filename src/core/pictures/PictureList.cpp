#include "core/pictures/PictureList.h"

#include "core/pictures/Companions.h"
#include "core/platform/FileNames.h"
#include "core/platform/SystemError.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

namespace pages {
namespace {

bool isDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

// The letters a character counts as in the list order, the way German users
// and their file managers alphabetise names (DIN 5007, variant 1): case folded,
// canonical decomposition with its accents dropped (Ä is A, é is e, also when
// a name arrives decomposed), ß and ẞ are "ss". A lone surrogate (a byte that
// is not UTF-8) has no decomposition and is written as its code unit.
void appendBase(std::string &key, char32_t c)
{
    if (c < 0x80) {
        key += char((c >= U'A' && c <= U'Z') ? c + 32 : c);
        return;
    }
    // Hangul syllables decompose into jamo in the order the syllables already
    // have; keeping them whole saves a decomposition per character.
    if (c >= 0xAC00 && c <= 0xD7A3) {
        platform::appendUtf8(key, c);
        return;
    }
    c = QChar::toCaseFolded(c);
    if (QChar::decompositionTag(c) == QChar::Canonical) {
        const QString parts = QChar::decomposition(c);
        for (qsizetype i = 0; i < parts.size(); ++i) {
            char32_t part = parts.at(i).unicode();
            if (parts.at(i).isHighSurrogate() && i + 1 < parts.size() && parts.at(i + 1).isLowSurrogate()) {
                part = QChar::surrogateToUcs4(parts.at(i), parts.at(i + 1));
                ++i;
            }
            appendBase(key, part);
        }
        return;
    }
    if (QChar::category(c) == QChar::Mark_NonSpacing)
        return;
    if (c == 0xDF) {
        key += "ss";
        return;
    }
    platform::appendUtf8(key, c);
}

// appendBase for the alphabets up to U+1FFF (Latin, Greek, Cyrillic and their
// extensions, where nearly every non-ASCII letter of a file name lies), worked
// out once: the decomposition costs an allocation per call.
struct Folded {
    unsigned char length = 0xFF; // 0xFF: not tabled, ask appendBase
    char bytes[7] = {};
};
constexpr char32_t TabledEnd = 0x2000;

const Folded *foldTable()
{
    static const std::vector<Folded> table = [] {
        std::vector<Folded> t(TabledEnd);
        std::string bytes;
        for (char32_t c = 0x80; c < TabledEnd; ++c) {
            bytes.clear();
            appendBase(bytes, c);
            if (bytes.size() <= sizeof t[c].bytes) {
                t[c].length = static_cast<unsigned char>(bytes.size());
                std::memcpy(t[c].bytes, bytes.data(), bytes.size());
            }
        }
        return t;
    }();
    return table.data();
}

// The list order as a byte string that plain memcmp orders, built once per
// name, so the sort itself compares bytes (measured: per-comparison work on
// UTF-16 keys cost more than the directory read).
// - Letters become their base letters (appendBase), written as UTF-8.
// - A run of ASCII digits becomes '0' (so it sorts against other characters as
//   any digit does), the count of its significant digits, then those digits: runs
//   compare by numeric value, of any length. Leading zeros are dropped, so IMG_01
//   and IMG_1 get equal keys and are told apart by their names.
// Any function of the name gives a total order once the name itself breaks ties.
void appendKey(std::string &key, const QString &name)
{
    const char16_t *p = reinterpret_cast<const char16_t *>(name.constData());
    const qsizetype n = name.size();
    const Folded *table = nullptr;
    qsizetype i = 0;
    while (i < n) {
        const char16_t u = p[i];
        if (isDigit(u)) {
            qsizetype first = i;
            while (first < n && p[first] == u'0')
                ++first;
            qsizetype end = first;
            while (end < n && isDigit(p[end]))
                ++end;
            const qsizetype digits = end - first;
            key += '0';
            if (digits < 0xFF) {
                key += char(digits);
            } else {
                key += char(0xFF);
                for (int shift = 56; shift >= 0; shift -= 8)
                    key += char(quint64(digits) >> shift);
            }
            for (qsizetype k = first; k < end; ++k)
                key += char(p[k]);
            i = end;
            continue;
        }
        ++i;
        if (u < 0x80) {
            key += char((u >= u'A' && u <= u'Z') ? u + 32 : u);
            continue;
        }
        if (u < TabledEnd) {
            if (!table)
                table = foldTable();
            const Folded &f = table[u];
            if (f.length != 0xFF) {
                key.append(f.bytes, f.length);
                continue;
            }
        }
        char32_t c = u;
        if (QChar::isHighSurrogate(u) && i < n && QChar::isLowSurrogate(p[i]))
            c = QChar::surrogateToUcs4(u, p[i++]);
        appendBase(key, c);
    }
}

// One entry of the sort: the first eight key bytes inline (big-endian, zero
// padded), which settle most comparisons without touching the key buffer, then
// where the whole key lies and which name it is.
struct Item {
    quint64 head;
    quint32 offset;
    quint32 length;
    quint32 index;
};

quint64 headOf(const char *key, size_t length)
{
    quint64 h = 0;
    for (size_t k = 0; k < 8; ++k)
        h = (h << 8) | (k < length ? quint64(static_cast<unsigned char>(key[k])) : 0);
    return h;
}

int compareKeys(const char *a, size_t na, const char *b, size_t nb)
{
    const int c = std::memcmp(a, b, std::min(na, nb));
    if (c != 0)
        return c;
    return na < nb ? -1 : (na > nb ? 1 : 0);
}

} // namespace

bool naturalLess(const QString &a, const QString &b)
{
    std::string ka;
    std::string kb;
    appendKey(ka, a);
    appendKey(kb, b);
    const int c = compareKeys(ka.data(), ka.size(), kb.data(), kb.size());
    if (c != 0)
        return c < 0;
    return a < b;
}

namespace {

bool endsWithJpg(const char *name, size_t len)
{
    if (len >= 4) {
        const char *s = name + len - 4;
        if (s[0] == '.' && (s[1] | 0x20) == 'j' && (s[2] | 0x20) == 'p' && (s[3] | 0x20) == 'g')
            return true;
    }
    if (len >= 5) {
        const char *s = name + len - 5;
        return s[0] == '.' && (s[1] | 0x20) == 'j' && (s[2] | 0x20) == 'p' && (s[3] | 0x20) == 'e' &&
               (s[4] | 0x20) == 'g';
    }
    return false;
}

} // namespace

QString pictureExtension(const QString &fileName)
{
    for (const QLatin1String ext : {QLatin1String(".jpg"), QLatin1String(".jpeg")})
        if (fileName.endsWith(ext, Qt::CaseInsensitive))
            return fileName.right(ext.size());
    return QString();
}

PictureListing listPictures(const QString &dir)
{
    PictureListing r;
    const QByteArray path = platform::encodeName(dir);
    DIR *d = opendir(path.constData());
    if (!d) {
        r.reason = platform::errorText(errno);
        return r;
    }
    const int fd = dirfd(d);
    QStringList names;
    for (;;) {
        errno = 0;
        const dirent *e = readdir(d);
        if (!e)
            break;
        const char *name = e->d_name;
        if (name[0] == '.')
            continue; // hidden, and "." and ".."
        const size_t len = std::strlen(name);
        const bool picture = endsWithJpg(name, len);
        if (!picture && !hasCompanionExtension(name, len))
            continue;
        bool regular = e->d_type == DT_REG;
        if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) {
            // Links count as what they point to; some file systems give no type.
            struct stat st;
            regular = fstatat(fd, name, &st, 0) == 0 && S_ISREG(st.st_mode);
        }
        if (!regular)
            continue;
        (picture ? names : r.companions)
            << platform::decodeName(QByteArray::fromRawData(name, qsizetype(len)));
    }
    const int readError = errno;
    closedir(d);
    if (readError != 0) {
        // A directory removed or failing while it is read: a part of a listing
        // would show pictures as missing that are not.
        r.companions.clear();
        r.reason = platform::errorText(readError);
        return r;
    }

    // Keys are built once per name into one buffer, never per comparison.
    std::string keys;
    std::vector<Item> items;
    items.reserve(size_t(names.size()));
    for (qsizetype i = 0; i < names.size(); ++i) {
        const size_t at = keys.size();
        appendKey(keys, names.at(i));
        items.push_back(Item{0, quint32(at), quint32(keys.size() - at), quint32(i)});
    }
    const char *base = keys.data();
    for (Item &item : items)
        item.head = headOf(base + item.offset, item.length);
    std::sort(items.begin(), items.end(), [&names, base](const Item &a, const Item &b) {
        if (a.head != b.head)
            return a.head < b.head;
        const int c = compareKeys(base + a.offset, a.length, base + b.offset, b.length);
        if (c != 0)
            return c < 0;
        return names.at(a.index) < names.at(b.index);
    });
    r.names.reserve(names.size());
    for (const Item &item : items)
        r.names << std::move(names[item.index]);
    r.ok = true;
    return r;
}

} // namespace pages
