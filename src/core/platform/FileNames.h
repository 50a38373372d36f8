#pragma once

#include <QByteArray>
#include <QString>

// Names as the file system stores them (bytes) and as the program holds them
// (strings), and the paths built from them. Every file access of the program
// goes through here, so a name that is not valid UTF-8 (old cameras, copies from
// Latin-1 or Windows systems) still reaches its own file.
//
// Paths inside the program are absolute, use "/" as their only separator and
// name directories with a trailing "/". A backslash is an ordinary character of
// a name.
namespace platform {

// Valid UTF-8 decodes as UTF-8; each byte that is not part of valid UTF-8 becomes
// the lone surrogate U+DC80 + (byte - 0x80), which encodeName turns back into that
// byte, so decoding and encoding again gives the same bytes for every name.
// QFile::decodeName cannot be used for this: it turns such bytes into U+FFFD, and
// opening the result would reach another file, or none.
QString decodeName(const QByteArray &name);
QByteArray encodeName(const QString &name);

// Appends code point c as UTF-8 to out (a QByteArray or a std::string): the
// one encoder of the program.
template <typename Bytes> void appendUtf8(Bytes &out, char32_t c)
{
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

// True when name holds a character that stands for a byte that is not valid
// UTF-8: Qt's own file functions (QFile, QDir, QImageReader) cannot reach such a
// file; only encodeName with POSIX calls can.
bool needsRawEncoding(const QString &name);

// True for the characters decodeName makes of bytes that are not UTF-8. A user
// cannot type them; they stand for bytes of a name on disk.
inline bool isByteEscape(QChar c)
{
    return c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF;
}

// The process's working directory, with a trailing "/"; empty when it is gone.
QString currentDirectory();

// A directory as given by the user, the settings file or the chooser, made
// absolute (against the working directory) and clean: "." and empty components
// dropped, ".." taken off with the component before it, a trailing "/" added.
// Blanks are kept: a name may begin or end with one. Empty when given is empty
// or the working directory is needed and gone.
QString absoluteDirectory(const QString &given);

// The one way a path is built: a directory (with or without its trailing "/")
// and a file name.
QString joinPath(const QString &directory, const QString &fileName);

// The part of a path after its last "/" (the whole path when it holds none).
QString fileNameOf(const QString &path);

// The part of a path up to and including its last "/" (empty when it holds none).
QString directoryOf(const QString &path);

// Whether path names a directory (following links).
bool isDirectory(const QString &path);

// Whether anything (file, directory, device, ...) stands at path. With
// Links::NotFollowed a symbolic link counts as itself, also one whose target is
// gone: the name is taken. With Links::Followed only what a link leads to counts.
enum class Links { Followed, NotFollowed };
bool pathExists(const QString &path, Links links);

// Removes the file at path; a missing one is fine. The call goes through
// platform/SystemCalls.h, so tests can make it fail.
void removeFile(const QString &path);

// Whether directory holds at least one entry that is neither hidden nor a
// directory.
bool holdsVisibleFile(const QString &directory);

// A path as Qt's own file functions give it (QFileSystemModel, QFileDialog: bytes
// that are not UTF-8 arrive as U+FFFD) in the program's form: each component
// holding U+FFFD is looked up among the entries of its parent and replaced by
// the one entry whose Qt form it is. A component that matches no entry, or
// several, stays as it is.
QString fromQtPath(const QString &qtPath);

// The program's form of a path as Qt's own file functions take it. For a name
// that is not UTF-8 this reaches no file; use it only to find a model's row.
QString toQtPath(const QString &path);

// The bytes of a regular file (a FIFO or a device is refused: it would wait or
// never end), at most limit + 1 of them, so that a caller can tell a file that
// is too large. error is the errno of the failure (ENOENT for a missing file,
// EINVAL for one that is not regular), 0 on success.
QByteArray readSmallFile(const QString &path, qint64 limit, int &error);

// Opens path for reading (read only, closed on exec); -1 with errno set when it
// cannot be opened or is not a regular file (a FIFO, a device, a directory:
// opening never waits for one of them).
int openForReading(const QString &path);

} // namespace platform
