#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

// Photo-like JPEG pictures made by our own code, for the demo, the tests and the
// benchmarks.
namespace testpics {

// A photo-like picture (sky, hills, sun, some shapes) of the given size; seed
// varies the scene. True when the file was written.
bool writePhoto(const QString &path, QSize size, int seed, int quality = 85);

// How a camera-like JPEG is written.
struct CameraOptions {
    int orientation = 1; // EXIF orientation 1..8; pixels are stored as given
    QString dateTimeOriginal = QStringLiteral("2023:07:12 10:15:00");
    QSize thumbnailSize = QSize(160, 120); // embedded JPEG thumbnail; empty for none
    int quality = 90;
    int noise = 0; // amplitude of per-pixel grain, 0 for none; grain makes files as large as a camera's
};

// Encodes image as a JPEG the way cameras write them: an EXIF APP1 block first
// (Orientation, DateTimeOriginal, and a thumbnail of the image in IFD1), then
// the picture. Empty on failure.
QByteArray cameraJpeg(const QImage &image, const CameraOptions &options = {});

// A photo-like picture of the given size written as a camera-like JPEG.
bool writeCameraPhoto(const QString &path, QSize size, int seed, const CameraOptions &options = {});

// The names of the demo set: varied camera and hand-given names, count of them.
QStringList demoNames(int count);

// Writes count demo pictures of camera sizes into dir (in parallel). Returns the
// file names written.
QStringList makeDemoSet(const QString &dir, int count);

} // namespace testpics
