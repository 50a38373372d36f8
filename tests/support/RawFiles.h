#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

#include <sys/types.h>

// Files reached by the bytes the file system stores for their names, past every
// encoding of Qt's: Qt's own file functions cannot reach a name that is not
// UTF-8, and would reach another file where one holds a real U+FFFD.
namespace testing {

// Creates the file at path with content and exactly mode (whatever the umask);
// false when something is there already or the file cannot be written.
bool writeRaw(const QByteArray &path, const QByteArray &content, mode_t mode = 0644);

// The whole content of the file at path; "<missing>" when it cannot be opened,
// "<cannot read>" when reading fails.
QByteArray readRaw(const QByteArray &path);

// The entries of a directory by their names' bytes, with their content (empty
// for one that cannot be read).
QMap<QByteArray, QByteArray> rawSnapshot(const QByteArray &dir);

// The permission bits of the entry at path (a link itself, not its target); -1
// when there is none.
int modeOf(const QString &path);

} // namespace testing
