#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// The drives the directory chooser offers and the small rules around it.
namespace dirs {

// A mounted volume as the system reports it.
struct Volume {
    QString rootPath;       // mount point, "/"-separated ("C:/" on Windows)
    QString fileSystemType; // "ext4", "proc", ...
    QString name;           // label, may be empty
    bool ready = true;      // mounted and readable
};

// A drive the chooser lists.
struct Drive {
    QString rootPath; // without trailing separator except for a root ("/", "C:/")
    QString caption;  // what the list shows
};

// Every mounted volume the system reports, unfiltered.
QList<Volume> mountedVolumes();

// Whether a volume is the system's own rather than a place for pictures: kernel
// and memory file systems, and mounts under the system's run-time directories.
bool isPseudoVolume(const Volume &v);

// The file system roots first, then the other volumes that can hold pictures, by
// mount point; each mount point once.
QList<Drive> driveList(const QStringList &roots, const QList<Volume> &volumes);

// The drive holding path: the one with the longest mount point that contains it
// (by whole path components); -1 when none does.
int driveFor(const QList<Drive> &drives, const QString &path);

// The panel's height for the window's outer height; none when it would be
// negative (the panel then keeps its height).
std::optional<double> panelHeight(double windowHeight);
constexpr double PanelTop = 50;
constexpr double PanelHeightAllowance = 740;

// The directory itself when it exists, otherwise its nearest existing parent;
// empty when not even a root exists.
QString nearestExistingDirectory(const QString &path);

// The picture directory made of the path the chooser returns: the path with a
// trailing "/". Blanks around it are only removed when the path as given is not
// a directory, since names may begin or end with blanks.
QString pictureDirFrom(const QString &chosenPath);

// What a drop from a file manager opens: a directory, or the directory of
// pictures dropped from it, at the first of them.
struct DropTarget {
    QString directory;
    QString picture; // file name within directory; empty for a dropped directory
};
// localPaths: one entry per dropped item, empty for an item that is not a local
// file. Taken are a single directory, or pictures that all lie in one directory;
// anything else (a remote item, another kind of file, a mixture) is refused.
std::optional<DropTarget> dropTarget(const QStringList &localPaths);

} // namespace dirs
