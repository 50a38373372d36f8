#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// A picture's companions: the files shot or written with it that photo managers
// pair with it by name alone (its RAW file, its sidecars, a voice memo). They
// share its base name and keep their own extension, so a renaming that leaves
// them behind breaks the pairing.
namespace pages {

// Whether the last extension of a file name (any letter case) is one a
// companion has: sidecars (.xmp, .pp3, .dop, .aae), RAW files, .thm and .wav.
// name: the bytes of the name on disk, without a terminating zero.
bool hasCompanionExtension(const char *name, size_t length);
bool hasCompanionExtension(const QString &fileName);

// For each picture (file names of one directory), the files among candidates
// that belong to it: "IMG_1.CR2" and "IMG_1.xmp" to "IMG_1.jpg" (the same base
// name, exactly), "IMG_1.jpg.xmp" to "IMG_1.jpg" (the picture's whole name). A
// candidate two pictures could claim ("IMG_1.xmp" beside "IMG_1.jpg" and
// "IMG_1.jpeg") belongs to neither: which one it goes with is not ours to guess.
// Runs in time linear in the number of names.
QList<QStringList> companionsOf(const QStringList &pictures, const QStringList &candidates);

// The name companion takes when its picture is renamed from picture to
// newPicture: the new base name with the companion's own ending (".CR2",
// ".jpg.xmp").
QString companionName(const QString &companion, const QString &picture, const QString &newPicture);

} // namespace pages
