#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace pages {

struct PictureListing {
    QStringList names; // file names without directory, in natural order
    bool ok = false;   // false when the directory could not be listed
    QString reason;    // the system's reason when !ok
};

// The pictures of dir: regular, non-hidden files whose name ends in ".jpg" in any
// letter case, in natural, case-insensitive name order (IMG_2 before IMG_10).
// A symbolic link counts as what it points to: a link to a regular .jpg file is
// listed (as the link's name), a dangling link or a link to a directory is not.
// Names are decoded with decodeFileName, so every listed name maps back to its file
// through encodeFileName, also when it is not valid UTF-8.
PictureListing listPictures(const QString &dir);

// Natural, case-insensitive order of two names; ties broken so the order is total.
// Runs of ASCII digits compare by their numeric value (any length); names equal in
// that order (IMG_01 and IMG_1, a.jpg and A.JPG) fall back to code-unit order.
bool naturalLess(const QString &a, const QString &b);

// File names as the file system stores them (bytes) and as the program shows
// them. Valid UTF-8 decodes as UTF-8; each byte that is not part of valid UTF-8
// becomes the lone surrogate U+DC80 + (byte - 0x80), which encodeFileName turns
// back into that byte, so decoding and encoding again gives the same bytes for
// every name. QFile::decodeName cannot be used for this: it turns such bytes
// into U+FFFD, and opening the result would reach another file, or none.
QString decodeFileName(const QByteArray &name);
QByteArray encodeFileName(const QString &name);

// True when name holds a character that stands for a byte that is not valid
// UTF-8: Qt's own file functions (QFile, QDir, QImageReader) cannot reach such a
// file; only encodeFileName with POSIX calls can.
bool needsRawEncoding(const QString &name);

} // namespace pages
