#include "pages/PictureList.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
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

// Digit runs compare by value: leading zeros skipped, then the longer run is the
// bigger number, then digit by digit. Everything else by code unit of the already
// case-folded keys. Zero for keys that differ only in leading zeros.
int naturalCompare(const QString &ka, const QString &kb)
{
    const char16_t *a = reinterpret_cast<const char16_t *>(ka.constData());
    const char16_t *b = reinterpret_cast<const char16_t *>(kb.constData());
    const qsizetype na = ka.size();
    const qsizetype nb = kb.size();
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < na && j < nb) {
        const char16_t ca = a[i];
        const char16_t cb = b[j];
        if (isDigit(ca) && isDigit(cb)) {
            while (i < na && a[i] == u'0')
                ++i;
            while (j < nb && b[j] == u'0')
                ++j;
            qsizetype ei = i;
            qsizetype ej = j;
            while (ei < na && isDigit(a[ei]))
                ++ei;
            while (ej < nb && isDigit(b[ej]))
                ++ej;
            if (ei - i != ej - j)
                return ei - i < ej - j ? -1 : 1;
            for (; i < ei; ++i, ++j) {
                if (a[i] != b[j])
                    return a[i] < b[j] ? -1 : 1;
            }
            continue;
        }
        if (ca != cb)
            return ca < cb ? -1 : 1;
        ++i;
        ++j;
    }
    if (i == na && j == nb)
        return 0;
    return i == na ? -1 : 1;
}

struct Item {
    QString name;
    QString key; // case-folded name, computed once per name rather than per comparison
};

bool itemLess(const Item &a, const Item &b)
{
    const int c = naturalCompare(a.key, b.key);
    if (c != 0)
        return c < 0;
    return a.name < b.name;
}

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

bool naturalLess(const QString &a, const QString &b)
{
    return itemLess(Item{a, a.toCaseFolded()}, Item{b, b.toCaseFolded()});
}

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
    std::vector<Item> items;
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
        const QString decoded = decodeFileName(QByteArray::fromRawData(name, qsizetype(len)));
        items.push_back(Item{decoded, decoded.toCaseFolded()});
    }
    const int readError = errno;
    closedir(d);
    if (readError != 0) {
        // A directory removed or failing while it is read: a part of a listing
        // would show pictures as missing that are not.
        r.reason = qt_error_string(readError);
        return r;
    }
    std::sort(items.begin(), items.end(), itemLess);
    r.names.reserve(qsizetype(items.size()));
    for (Item &item : items)
        r.names << std::move(item.name);
    r.ok = true;
    return r;
}

} // namespace pages
