#pragma once

#include "pages/Exif.h"

#include <QImage>
#include <QSize>
#include <QString>

// Makes box-sized thumbnails of JPEG files, safe to call from any thread (it only
// makes QImages). A thumbnail fills the whole box: width and height are scaled
// independently and the aspect ratio is not kept. The EXIF orientation is applied,
// so the result stands as the camera meant it.
namespace thumbs {

enum class Status {
    Ok,          // image holds the box-sized thumbnail
    NoThumbnail, // first stage only: no embedded thumbnail that can stand for the picture
    Unreadable,  // the file could not be opened
    NotJpeg,     // empty, too short, or not a JPEG file (e.g. a PNG named .jpg)
    TooLarge,    // the header claims a size the file cannot plausibly hold
    Damaged,     // the JPEG data could not be decoded, or ends before the picture does
};

struct Result {
    Status status = Status::Damaged;
    QImage image;
    bool ok() const { return status == Status::Ok; }
};

// Headers claiming more than this many pixels per byte of file, or a side longer
// than MaxSide, are refused before anything is decoded: a real photo holds a few
// pixels per byte, a decompression bomb thousands.
constexpr qint64 MaxPixelsPerByte = 2000;
constexpr int MaxSide = 30000;
bool plausibleSize(QSize frame, qint64 fileSize);

// An embedded thumbnail stands for the picture only when its aspect ratio matches
// the main picture's within this fraction.
constexpr double AspectTolerance = 0.02;
bool aspectMatches(QSize thumbnail, QSize frame);

// The size to scale a stored (not yet oriented) picture to, so that after the
// orientation is applied it has the size of box.
QSize storedTarget(QSize box, int orientation);

// The smallest JPEG DCT scale (1/8, 1/4, 1/2, else 1) whose output still covers
// target; returns the denominator.
int dctDenominator(QSize frame, QSize target);

// Turns a picture stored with the given EXIF orientation (1..8) upright.
QImage orient(const QImage &stored, int orientation);

// First stage: the camera's embedded thumbnail, when it matches the main picture.
// Uses only the bytes already read with the head.
Result fromEmbedded(const exif::FileHead &head, QSize box);

// Second stage: the picture itself, decoded at the smallest DCT scale that covers
// the box.
Result fromMain(const QString &path, const exif::FileHead &head, QSize box);

// Both stages in one call, for callers that need only the best picture: the
// main picture.
Result decodeFile(const QString &path, QSize box);

} // namespace thumbs
