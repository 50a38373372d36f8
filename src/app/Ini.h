#pragma once

#include <QString>

// The settings file: a small profile-format (INI) reader and writer of our own.
// Section and key names match regardless of case, values are trimmed, every other
// line of the file is kept as it is, and each write replaces the file atomically.
namespace ini {

// The stored value of key in section, or defaultValue when the file, the section
// or the key is missing or the stored value is empty. Never fails, never creates
// the file.
QString IniRead(const QString &section, const QString &key, const QString &file,
                const QString &defaultValue);

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
// file is created only when create is true.
WriteResult IniWrite(const QString &section, const QString &key, const QString &value,
                     const QString &file, bool create);

// Where the settings file lives: "<programDir>/<exeName>.ini" when the program's
// directory can be written, otherwise the same file name in the per-user
// configuration directory (an installed program).
QString settingsPath(const QString &programDir, const QString &exeName);

} // namespace ini
