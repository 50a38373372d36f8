#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QPair>
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
    // Further text values: in IFD0 (as DateTime, 0x0132) and in the EXIF IFD
    // (as DateTimeDigitized 0x9004, SubSecTimeOriginal 0x9291, ...), by tag.
    QList<QPair<quint32, QString>> ifd0Text;
    QList<QPair<quint32, QString>> exifText;
    bool exif = true; // false: no EXIF block at all (and so no thumbnail)
    QString xmp;      // an XMP packet, in an APP1 block of its own after the EXIF block; empty for none
    QSize thumbnailSize = QSize(160, 120); // embedded JPEG thumbnail; empty for none
    int quality = 90;
    int noise = 0; // amplitude of per-pixel grain, 0 for none; grain makes files as large as a camera's
    bool progressive = false; // the main picture in progressive scans, as web tools re-encode photos
};

// Encodes image as a JPEG the way cameras write them: an EXIF APP1 block first
// (Orientation, DateTimeOriginal, and a thumbnail of the image in IFD1), then
// the picture. Empty on failure.
QByteArray cameraJpeg(const QImage &image, const CameraOptions &options = {});

// A photo-like picture of the given size written as a camera-like JPEG.
bool writeCameraPhoto(const QString &path, QSize size, int seed, const CameraOptions &options = {});

// jpeg with the size in its (first) frame header replaced by claimed, as a crafted
// file lies about its picture. Empty when jpeg has no frame header.
QByteArray withClaimedSize(const QByteArray &jpeg, QSize claimed);

// jpeg with the sampling factors of one component of its frame header replaced.
// Empty when jpeg has no frame header or no such component.
QByteArray withSampling(const QByteArray &jpeg, int component, int h, int v);

// A decompression bomb: a 16 x 16 picture (colour sampled 4:2:0, or grey) whose
// frame header claims `claimed`, padded with zeros after its end marker to
// paddedSize bytes, so that the file is as large as an honest picture of some
// pixels per byte would be.
QByteArray decompressionBomb(QSize claimed, qint64 paddedSize, bool progressive = true, bool grey = false);

// The names of the demo set: varied camera and hand-given names, count of them.
QStringList demoNames(int count);

// Writes count demo pictures of camera sizes into dir (in parallel). Returns the
// file names written.
QStringList makeDemoSet(const QString &dir, int count);

} // namespace testpics
