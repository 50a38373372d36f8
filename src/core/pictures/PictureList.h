#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace pages {

struct PictureListing {
    QStringList names; // file names without directory, in natural order
    // Other visible files with a companion's extension (see Companions.h), in
    // no particular order: read in the same pass, never looked up one by one.
    QStringList companions;
    bool ok = false; // false when the directory could not be listed
    QString reason;  // the system's reason when !ok
};

// The pictures of dir: regular, non-hidden files whose name ends in ".jpg" or
// ".jpeg" in any letter case, in the order of naturalLess.
// A symbolic link counts as what it points to: a link to a regular .jpg file is
// listed (as the link's name), a dangling link or a link to a directory is not.
// Names are decoded with platform::decodeName, so every listed name maps back to
// its file through platform::encodeName, also when it is not valid UTF-8.
PictureListing listPictures(const QString &dir);

// The list order, as German users alphabetise names (DIN 5007, variant 1):
// letter case is ignored, Ä counts as A, Ö as O, Ü as U, ß and ẞ as "ss", and
// accents are dropped (é is e), whether a name is stored composed or decomposed.
// Runs of ASCII digits compare by their numeric value (any length), so IMG_2
// comes before IMG_10. Names equal in that order (IMG_01 and IMG_1, a.jpg and
// A.JPG, Straße and Strasse) fall back to code-unit order, so the order is total,
// also for names holding bytes that are not UTF-8.
bool naturalLess(const QString &a, const QString &b);

// The extension a listed picture has on disk, with its dot and in its own
// letter case (".jpg", ".JPG", ".jpeg", ...); empty for a name that has none of
// them.
QString pictureExtension(const QString &fileName);

} // namespace pages
