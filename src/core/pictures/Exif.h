#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QSize>
#include <QString>
#include <array>

class QFile;

// What the head of a JPEG file tells without decoding it: the frame size from
// the SOF header, the EXIF orientation, where the camera's embedded thumbnail
// lies and when the picture was taken. One module for all EXIF reading, so the
// thumbnails, the orientation and later the capture date share one parser.
namespace exif {

// How much of a file is read to find all of the above. The EXIF block lives in
// APP1, which cannot exceed 64 KiB, and cameras put it first.
constexpr qint64 HeadSize = 128 * 1024;

// The decoder refuses frames of more components than this.
constexpr int MaxComponents = 10;

enum class HeadStatus {
    Jpeg,    // starts with the JPEG start-of-image marker
    NotJpeg, // empty, too short, or some other format (e.g. PNG named .jpg)
};

// How the walk through the markers in front of the picture data ended. The walk
// follows the decoder's own reading (garbage between markers skipped, lengths
// taken as the decoder takes them), so that both find the same frame header:
// what the memory check reads is what the decoder will allocate for.
enum class Headers {
    Complete,   // the frame header and the first scan's header were found
    Incomplete, // the bytes ended first
    Refused,    // a structure the decoder stops at: a second or unsupported frame
                // header, a scan before the frame, an unknown marker, the end of
                // the image, a frame the decoder cannot take
};

struct Sampling {
    int h = 1;
    int v = 1;
};

// The date values of the head besides DateTimeOriginal, each as stored (text,
// trimmed; empty when absent). Nothing here is checked: CaptureDate decides
// which of them holds a usable date.
struct DateTags {
    QString dateTimeDigitized;   // EXIF IFD 0x9004
    QString dateTime;            // IFD0 0x0132: when the file was last changed
    QString subSecOriginal;      // 0x9291, digits of the second's fraction
    QString subSecDigitized;     // 0x9292
    QString subSec;              // 0x9290, for DateTime
    QString offsetOriginal;      // 0x9011, "+02:00"
    QString offsetDigitized;     // 0x9012
    QString offset;              // 0x9010, for DateTime
    QString xmpDateCreated;      // XMP photoshop:DateCreated
    QString xmpDateTimeOriginal; // XMP exif:DateTimeOriginal
    QString xmpCreateDate;       // XMP xmp:CreateDate
};

struct JpegInfo {
    HeadStatus status = HeadStatus::NotJpeg;
    // Frame size from the SOF header, as stored (before orientation). Invalid when
    // no SOF header was found in the head.
    QSize frameSize;
    bool progressive = false;
    Headers headers = Headers::Incomplete;
    // The frame's components and their sampling factors (1..4).
    int components = 0;
    std::array<Sampling, MaxComponents> sampling{};
    // Components in the first scan; 0 when it was not reached. A first scan that
    // holds fewer components than the frame makes the decoder keep every
    // coefficient of the picture, as a progressive frame does.
    int firstScanComponents = 0;
    // The comment, APP1 and APP2 blocks in front of the first scan: the decoder
    // keeps each of them in memory, in a list it walks for every new one.
    int keptMarkers = 0;
    qint64 keptMarkerBytes = 0;
    // Scans seen: 1 when the walk stopped at the first, all of them up to the
    // end of the image for walkFile, where keptMarkers and keptMarkerBytes also
    // count the blocks between the scans, which the decoder keeps as well.
    int scans = 0;
    // EXIF orientation 1..8 (1 = upright); 1 when absent or out of range.
    int orientation = 1;
    // Embedded JPEG thumbnail (IFD1) as a file offset and length; length 0 when
    // there is none.
    qint64 thumbnailOffset = 0;
    qint64 thumbnailLength = 0;
    // DateTimeOriginal as stored ("YYYY:MM:DD HH:MM:SS"), empty when absent.
    QString dateTimeOriginal;
    // The other values a capture date may come from, as stored.
    DateTags dates;

    bool hasThumbnail() const { return thumbnailLength > 0; }
    // The decoder will keep the whole picture's coefficients, not a few rows.
    bool keepsAllCoefficients() const
    {
        return progressive || firstScanComponents < components || headers != Headers::Complete;
    }
    // Orientations 5..8 turn the picture by 90 degrees: width and height swap.
    bool swapsSides() const { return orientation >= 5 && orientation <= 8; }
};

// What the head tells about the picture itself, kept with the picture once read.
struct HeadFacts {
    int orientation = 1;      // EXIF orientation 1..8
    QString dateTimeOriginal; // as stored ("YYYY:MM:DD HH:MM:SS"), empty when absent
};
inline HeadFacts factsOf(const JpegInfo &info)
{
    return HeadFacts{info.orientation, info.dateTimeOriginal};
}

// Parses the first bytes of a file (at most HeadSize are looked at). Never reads
// outside head; damaged or hostile blocks are skipped, never followed in loops.
JpegInfo parseHead(const QByteArray &head);

struct FileHead {
    bool readable = false; // false when the file could not be opened
    int error = 0;         // errno when it could not be opened
    qint64 fileSize = 0;
    QByteArray head; // the first HeadSize bytes (fewer for a small file)
    JpegInfo info;
};

// Opens the picture at path for reading into file, through the file-name codec:
// Qt's own opening by name cannot reach a name that is not UTF-8. Returns 0, or
// the errno of the failure.
int openPicture(QFile &file, const QString &path, QIODevice::OpenMode mode = QIODevice::ReadOnly);

// Reads the first HeadSize bytes of path once and parses them; opens the file
// through the file-name codec, so names that are not UTF-8 are reached too.
FileHead readHead(const QString &path);

// The same from a file already open for reading, from its start. Where the
// markers in front of the picture data go on beyond the head (large metadata
// blocks), they are walked on in the file, so the frame header is always found
// when there is one.
FileHead readHead(QIODevice &file);

// The whole of a file open for reading, walked as the decoder will read it: the
// frame, every scan and every block the decoder keeps, up to the end of the
// image. The EXIF values are not looked at.
JpegInfo walkFile(QIODevice &file);

} // namespace exif
