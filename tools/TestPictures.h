#pragma once

#include <QSize>
#include <QString>
#include <QStringList>

// Photo-like JPEG pictures made by our own code, for the demo, the tests and the
// benchmarks.
namespace testpics {

// A photo-like picture (sky, hills, sun, some shapes) of the given size; seed
// varies the scene. True when the file was written.
bool writePhoto(const QString &path, QSize size, int seed, int quality = 85);

// The names of the demo set: varied camera and hand-given names, count of them.
QStringList demoNames(int count);

// Writes count demo pictures of camera sizes into dir (in parallel). Returns the
// file names written.
QStringList makeDemoSet(const QString &dir, int count);

} // namespace testpics
