#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>

// What the head of a JPEG file tells without decoding it: the frame size from
// the SOF header, the EXIF orientation, where the camera's embedded thumbnail
// lies and when the picture was taken. One module for all EXIF reading, so the
// thumbnails, the orientation and later the capture date share one parser.
namespace exif {

// How much of a file is read to find all of the above. The EXIF block lives in
// APP1, which cannot exceed 64 KiB, and cameras put it first.
constexpr qint64 HeadSize = 128 * 1024;

enum class HeadStatus {
    Jpeg,    // starts with the JPEG start-of-image marker
    NotJpeg, // empty, too short, or some other format (e.g. PNG named .jpg)
};

struct JpegInfo {
    HeadStatus status = HeadStatus::NotJpeg;
    // Frame size from the SOF header, as stored (before orientation). Invalid when
    // no SOF header was found in the head.
    QSize frameSize;
    bool progressive = false;
    // EXIF orientation 1..8 (1 = upright); 1 when absent or out of range.
    int orientation = 1;
    // Embedded JPEG thumbnail (IFD1) as a file offset and length; length 0 when
    // there is none.
    qint64 thumbnailOffset = 0;
    qint64 thumbnailLength = 0;
    // DateTimeOriginal as stored ("YYYY:MM:DD HH:MM:SS"), empty when absent.
    QString dateTimeOriginal;

    bool hasThumbnail() const { return thumbnailLength > 0; }
    // Orientations 5..8 turn the picture by 90 degrees: width and height swap.
    bool swapsSides() const { return orientation >= 5 && orientation <= 8; }
};

// Parses the first bytes of a file (at most HeadSize are looked at). Never reads
// outside head; damaged or hostile blocks are skipped, never followed in loops.
JpegInfo parseHead(const QByteArray &head);

struct FileHead {
    bool readable = false; // false when the file could not be opened
    qint64 fileSize = 0;
    QByteArray head; // the first HeadSize bytes (fewer for a small file)
    JpegInfo info;
};

// Reads the first HeadSize bytes of path once and parses them.
FileHead readHead(const QString &path);

} // namespace exif
