#pragma once

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
PictureListing listPictures(const QString &dir);

// Natural, case-insensitive order of two names; ties broken so the order is total.
bool naturalLess(const QString &a, const QString &b);

} // namespace pages
