#pragma once

#include "core/pictures/DecodeBudget.h"
#include "core/pictures/Exif.h"
#include "core/pictures/ThumbnailCache.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <atomic>

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
    TooLarge,    // decoding would take more memory than a picture may, or the header
                 // claims a size the file cannot plausibly hold
    Damaged,     // the JPEG data could not be decoded, or ends before the picture does
    Cancelled,   // the caller's cancellation flag was set before or while decoding
    Changed,     // the path names another file than the one the caller expected
};

struct Result {
    Status status = Status::Damaged;
    QImage image;
    bool ok() const { return status == Status::Ok; }
};

// Headers claiming more than this many pixels per byte of file, or a side longer
// than MaxSide, are refused before anything is decoded. Huffman-coded data cannot
// hold more than a few hundred pixels per byte, so such a file ends long before
// its picture does; refusing it spares the decoder's time. It is no guard against
// memory: padding makes any file large enough. decodeBytes is that guard.
constexpr qint64 MaxPixelsPerByte = 2000;
constexpr int MaxSide = 30000;
bool plausibleSize(QSize frame, qint64 fileSize);

// A decode that would take more memory than this is refused before it starts.
// A progressive 50-megapixel picture (8688 x 5792) needs 148 MiB with its colour
// sampled 4:2:0 (measured), about 196 MiB at 4:2:2 and 293 MiB at 4:4:4; a
// sequential one 5 MiB. A header claiming 30000 x 30000 progressive needs
// 2.6 GiB or more.
constexpr qint64 MaxDecodeBytes = 320ll * 1024 * 1024;

// A picture file up to this size is read whole and decoded from memory (the
// largest camera files are about a third of it); a larger one is decoded from
// the file. Either way the decode runs within the budget, the file's bytes
// held in memory included.
constexpr qint64 MaxFileBytesInMemory = 96ll * 1024 * 1024;

// More comment, APP1 and APP2 blocks than this are refused: the decoder keeps
// each in a list it walks to its end for every new one, so tens of thousands of
// empty blocks (a few hundred KB) cost it seconds. Cameras write a handful.
constexpr int MaxKeptMarkers = 1000;

// Pictures of more scans than this are refused: the decoder goes over every
// block of the picture for each scan, so a thousand repeated scans of 11 bytes
// over a 9000 x 9000 frame cost it 9 to 41 s. Encoders write about 10.
constexpr int MaxScans = 100;

// The memory the decoder will take for a picture with these headers when asked
// for target (the stored-orientation size): the output at the DCT scale the JPEG
// reader picks for target, its row buffers, every coefficient of the picture when
// the decoder has to keep them (progressive, or a first scan holding only some
// components), and the metadata blocks it keeps. Rounded up to whole blocks and
// MCUs by the sampling factors, as the decoder allocates. -1 when the headers
// give no usable frame.
qint64 decodeBytes(const exif::JpegInfo &info, QSize target);

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

// Loads the JPEG reader, which the first decode would do otherwise: done on a
// thread of its own while the window is built, it is no longer in the way of
// the first thumbnails. Safe from any thread, at any time.
void loadDecoder();

// First stage: the camera's embedded thumbnail, when it matches the main picture.
// Uses only the bytes already read with the head.
Result fromEmbedded(const exif::FileHead &head, QSize box);

// What a decode shares with others running at the same time.
struct DecodeControl {
    // Memory shared by the decodes running at once; none: only the per-decode
    // bound applies.
    DecodeBudget *budget = nullptr;
    // Once set, a decode waiting for memory gives up, and a running one stops at
    // its next read; both report Cancelled.
    const std::atomic_bool *cancelled = nullptr;
    // The file the caller means: when the path names another one now (renamed
    // meanwhile), nothing is decoded and the result is Changed.
    const FileKey *expected = nullptr;
    // A decode on a worker pauses at each read while the user types or clicks
    // (platform::standAsideForTheUser); on the GUI thread it never should.
    bool standAside = false;
};

// Second stage: the picture itself, decoded at the smallest DCT scale that covers
// the box. head must have been read from the same file just before.
Result fromMain(const QString &path, const exif::FileHead &head, QSize box,
                const DecodeControl &control = {});

// The second stage in one call: the head is read from the same open file as the
// picture is decoded from, so the memory check and the decode see the same bytes.
Result decodeFile(const QString &path, QSize box, const DecodeControl &control = {});

} // namespace thumbs
