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
// Names are decoded with platform::decodeName, so every listed name maps back to
// its file through platform::encodeName, also when it is not valid UTF-8.
PictureListing listPictures(const QString &dir);

// Natural, case-insensitive order of two names; ties broken so the order is total.
// Runs of ASCII digits compare by their numeric value (any length); names equal in
// that order (IMG_01 and IMG_1, a.jpg and A.JPG) fall back to code-unit order.
bool naturalLess(const QString &a, const QString &b);

} // namespace pages
