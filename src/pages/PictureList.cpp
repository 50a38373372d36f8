#include "pages/PictureList.h"

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

// The natural order as a byte string that plain memcmp orders, built once per
// name, so the sort itself compares bytes (measured: per-comparison work on
// UTF-16 keys cost more than the directory read).
// - ASCII letters fold to lower case, other characters by QChar::toCaseFolded;
//   each UTF-16 code unit is written in the UTF-8 form of its value, which keeps
//   code-unit order.
// - A run of ASCII digits becomes '0' (so it sorts against other characters as
//   any digit does), the count of its significant digits, then those digits: runs
//   compare by numeric value, of any length. Leading zeros are dropped, so IMG_01
//   and IMG_1 get equal keys and are told apart by their names.
void appendKey(std::string &key, const QString &name)
{
    const char16_t *p = reinterpret_cast<const char16_t *>(name.constData());
    const qsizetype n = name.size();
    qsizetype i = 0;
    while (i < n) {
        char16_t u = p[i];
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
        if (!QChar::isSurrogate(u))
            u = char16_t(QChar::toCaseFolded(char32_t(u)));
        if (u < 0x80) {
            key += char(u);
        } else if (u < 0x800) {
            key += char(0xC0 | (u >> 6));
            key += char(0x80 | (u & 0x3F));
        } else {
            key += char(0xE0 | (u >> 12));
            key += char(0x80 | ((u >> 6) & 0x3F));
            key += char(0x80 | (u & 0x3F));
        }
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
    if (len < 4)
        return false;
    const char *s = name + len - 4;
    return s[0] == '.' && (s[1] | 0x20) == 'j' && (s[2] | 0x20) == 'p' && (s[3] | 0x20) == 'g';
}

bool isLowSurrogateEscape(char16_t c)
{
    return c >= 0xDC80 && c <= 0xDCFF;
}

} // namespace

QString decodeFileName(const QByteArray &name)
{
    const auto *p = reinterpret_cast<const unsigned char *>(name.constData());
    const qsizetype n = name.size();
    qsizetype i = 0;
    while (i < n && p[i] < 0x80)
        ++i;
    if (i == n)
        return QString::fromLatin1(name);

    QString out = QString::fromLatin1(name.constData(), i);
    out.reserve(n);
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            out += QChar(char16_t(c));
            ++i;
            continue;
        }
        int len = 0;
        char32_t cp = 0;
        char32_t least = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2, cp = c & 0x1F, least = 0x80;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3, cp = c & 0x0F, least = 0x800;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4, cp = c & 0x07, least = 0x10000;
        }
        bool valid = len > 0 && i + len <= n;
        for (int k = 1; valid && k < len; ++k) {
            const unsigned char cc = p[i + k];
            if ((cc & 0xC0) != 0x80)
                valid = false;
            else
                cp = (cp << 6) | (cc & 0x3F);
        }
        // Overlong forms, surrogates and values beyond U+10FFFF are not UTF-8.
        if (valid && (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)))
            valid = false;
        if (!valid) {
            out += QChar(char16_t(0xDC00 + c));
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            out += QChar(QChar::highSurrogate(cp));
            out += QChar(QChar::lowSurrogate(cp));
        } else {
            out += QChar(char16_t(cp));
        }
        i += len;
    }
    return out;
}

QByteArray encodeFileName(const QString &name)
{
    QByteArray out;
    out.reserve(name.size());
    const qsizetype n = name.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = name.at(i).unicode();
        char32_t cp = c;
        if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(name.at(i + 1).unicode())) {
            cp = QChar::surrogateToUcs4(c, name.at(i + 1).unicode());
            ++i;
        } else if (isLowSurrogateEscape(c)) {
            out += char(c - 0xDC00);
            continue;
        } else if (QChar::isSurrogate(c)) {
            cp = 0xFFFD; // a lone surrogate that no decoded name holds
        }
        if (cp < 0x80) {
            out += char(cp);
        } else if (cp < 0x800) {
            out += char(0xC0 | (cp >> 6));
            out += char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += char(0xE0 | (cp >> 12));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        } else {
            out += char(0xF0 | (cp >> 18));
            out += char(0x80 | ((cp >> 12) & 0x3F));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

bool needsRawEncoding(const QString &name)
{
    const qsizetype n = name.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = name.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(name.at(i + 1).unicode()))
            ++i;
        else if (isLowSurrogateEscape(c))
            return true;
    }
    return false;
}

PictureListing listPictures(const QString &dir)
{
    PictureListing r;
    const QByteArray path = encodeFileName(dir);
    DIR *d = opendir(path.constData());
    if (!d) {
        r.reason = qt_error_string(errno);
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
        if (!endsWithJpg(name, len))
            continue;
        bool regular = e->d_type == DT_REG;
        if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) {
            // Links count as what they point to; some file systems give no type.
            struct stat st;
            regular = fstatat(fd, name, &st, 0) == 0 && S_ISREG(st.st_mode);
        }
        if (!regular)
            continue;
        names << decodeFileName(QByteArray::fromRawData(name, qsizetype(len)));
    }
    const int readError = errno;
    closedir(d);
    if (readError != 0) {
        // A directory removed or failing while it is read: a part of a listing
        // would show pictures as missing that are not.
        r.reason = qt_error_string(readError);
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
