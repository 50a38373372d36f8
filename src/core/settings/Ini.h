#pragma once

#include <QString>
#include <QStringList>

// The settings file: a small profile-format (INI) reader and writer of our own.
// Section and key names match regardless of case, values are trimmed, every other
// line of the file is kept as it is, and each write replaces the file atomically.
//
// Format details:
// - UTF-8 text; a leading byte-order mark and CRLF line ends are kept on rewrite
//   (new lines follow the file's first line end).
// - "[name]" starts a section; "key=value" lines belong to the section above them;
//   lines starting with ';' or '#' are comments. Lines before the first section
//   belong to no section and are never matched. Any other line is kept untouched.
// - Duplicate sections or keys: the first key line found in any section of that
//   name wins, for reading and writing alike; a new key goes after the last
//   non-blank line of the first such section.
// - No quoting: a value is the text after the first '=', trimmed of blanks.
namespace ini {

// A settings file is a few hundred bytes; anything above this is not ours (or is
// damaged). Such a file reads as all defaults and is never rewritten, so its
// content is not lost.
constexpr qint64 MaxFileSize = 1024 * 1024;

// The longest value stored or read back: room for any directory path (PATH_MAX is
// 4096 bytes, which is at most 4096 UTF-16 characters). A longer stored value
// reads as the default (a cut path would name another directory); a longer value
// is refused by the writer, never cut.
constexpr int MaxValueLength = 4096;

// The stored value of key in section, or defaultValue when the file, the section
// or the key is missing or the stored value is empty. Never fails, never creates
// the file.
QString IniRead(const QString &section, const QString &key, const QString &file, const QString &defaultValue);

// The stored values of keys in section, in one reading of the file, by the same
// rules, with an empty string where IniRead would give its default.
QStringList IniReadAll(const QString &section, const QStringList &keys, const QString &file);

enum class WriteStatus {
    Written,    // the file now holds key=value
    NotCreated, // the file did not exist and create was false: nothing written
    Failed,     // the file could not be written; reason says why
};

struct WriteResult {
    WriteStatus status = WriteStatus::Failed;
    QString reason;
    bool ok() const { return status == WriteStatus::Written; }
};

// Sets key=value in section, adding the section or key when missing. A missing
// file is created only when create is true, with mode 0600 whatever the umask;
// an existing file keeps its mode, and a link stays a link to the file it names.
// Refused (Failed, file untouched) when group or others may write the existing
// file, when this process may not write it (its owner made it read-only) or
// cannot read it in full (unreadable, larger than MaxFileSize,
// UTF-16), when the value is longer than MaxValueLength, holds a line break or
// NUL or a lone surrogate that stands for no byte, or when the section or key
// name could not be read back. A value holding names that are not valid UTF-8
// (as platform::decodeName gives them) is stored as those bytes.
WriteResult IniWrite(const QString &section, const QString &key, const QString &value, const QString &file,
                     bool create);

// The name the installed program's desktop entry, icon and metainfo carry.
inline constexpr char DesktopId[] = "org.namora.Namora";

// Whether the program in programDir is an installed one: it sits in a "bin"
// directory whose "../share/applications" holds its desktop entry. An installed
// program is the system's: its settings are the user's own, and its updates come
// with the system's package manager.
bool installedProgram(const QString &programDir);

// Where the settings file lives: "<programDir>/<exeName>.ini" when the program's
// directory can be written and the program is not an installed one (root may
// write /usr/bin, but one settings file there would be every user's); otherwise
// the same file name in the per-user configuration directory,
// "<config>/<exeName>/", whose directories are created 0700 where they are
// missing (unless createDirectory is false: only where it would be, for --help).
QString settingsPath(const QString &programDir, const QString &exeName, bool createDirectory = true);

} // namespace ini
