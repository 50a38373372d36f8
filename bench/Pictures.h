#pragma once

#include <QSize>
#include <QString>
#include <QStringList>

// The pictures the benchmarks work on, made once and kept between runs in a
// directory of the user's own under $TMPDIR, so that no measured part of any
// benchmark pays for making them. Each set is made by a child process (its
// memory stays out of the peak the benchmarks measure) and marked complete only
// when every file of it is written; an incomplete or outdated set is made again.
namespace benchpics {

// A 24-MP camera picture, as the benchmarks have always made them.
inline const QSize Size24MP(5664, 4248);
inline const QSize Size12MP(4000, 3000);
constexpr int PageSize = 53;

enum class Set {
    Page12MP,  // 53 pictures of 12 MP (8 distinct, the rest copies)
    Page24MP,  // 53 pictures of 24 MP (8 distinct, the rest copies)
    Pages24MP, // 159 pictures of 24 MP: three full pages, every file its own
    Many5000,  // 5,000 pictures: the 53 of Page24MP first, then small ones
};

// A directory to work in, or why there is none.
struct Place {
    QString dir;     // with a trailing "/"
    QString problem; // empty when dir can be used
    bool ok() const { return problem.isEmpty(); }
};

// The directory that holds the sets: the one given (--pictures DIR), or
// $TMPDIR/namora-bench-pictures-<uid>, made when missing. Refused when it is a
// link, not a directory, another user's or writable by others (a shared
// /tmp), or when its name is not UTF-8 (Qt's file functions, with which the
// pictures are written, could not reach it).
Place root(const QStringList &args);

// Whether set lies complete under root, made the way this benchmark makes it.
bool isComplete(const QString &root, Set set);

// The directory of set under root, made first (with the sets it is made from)
// when it is missing, incomplete or outdated. Prints what it makes and how long
// that took.
Place ensure(const QString &root, Set set);

// root() and ensure() in one: the directory of set under the root that args
// name, with the whole message as its problem when there is none.
Place prepare(const QStringList &args, Set set);

// Reads every file of directory once, so that each measured part finds the
// files in the page cache alike.
void warmPageCache(const QString &directory);

// The file names of the pictures of directory, in the program's list order.
QStringList pictureNames(const QString &directory);

// The subcommand "pictures": without arguments it makes every set that is
// missing and prints where they are; "--make SET ROOT" makes one set (this is
// what ensure() runs in a child process).
int run(const QStringList &args);

} // namespace benchpics
