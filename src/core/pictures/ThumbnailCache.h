#pragma once

#include <QCache>
#include <QImage>
#include <QMutex>
#include <QSize>
#include <QString>

namespace thumbs {

// Identifies a file's content without reading it: the same file keeps its key
// when it is renamed, and a changed file gets a new one.
struct FileKey {
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = -1;
    qint64 mtimeNs = 0;

    bool valid() const { return size >= 0; }
    friend bool operator==(const FileKey &a, const FileKey &b)
    {
        return a.device == b.device && a.inode == b.inode && a.size == b.size && a.mtimeNs == b.mtimeNs;
    }
    friend bool operator!=(const FileKey &a, const FileKey &b) { return !(a == b); }
};

// The key of the file at path; invalid (size -1) when it cannot be looked at.
FileKey fileKey(const QString &path);
// The key of the file open as descriptor fd.
FileKey fileKeyOf(int fd);

// Finished thumbnails, bounded by the bytes their pixels take, keyed by file and
// box size. Safe to use from several threads.
class ThumbnailCache {
public:
    explicit ThumbnailCache(qint64 maxBytes = DefaultBytes);

    // About 700 thumbnails of the designed box: the page shown, the pages made
    // ahead, and a dozen pages the user went through, within the program's
    // memory target (150 MB at most, 5,000 pictures in the directory).
    static constexpr qint64 DefaultBytes = 48ll * 1024 * 1024;

    // A null image when nothing is cached for this file and box.
    QImage find(const FileKey &file, QSize box) const;
    // Images larger than the whole budget are not kept.
    void insert(const FileKey &file, QSize box, const QImage &image);
    void clear();

    qint64 bytesUsed() const;
    qint64 maxBytes() const;
    // A new bound; thumbnails beyond it go at once, the least used first.
    void setMaxBytes(qint64 maxBytes);
    int count() const;

    struct Key {
        FileKey file;
        QSize box;
        friend bool operator==(const Key &a, const Key &b) { return a.file == b.file && a.box == b.box; }
    };

private:
    qint64 m_maxBytes;
    mutable QMutex m_mutex;
    // Costs are counted in KiB so that large budgets fit QCache's int costs.
    QCache<Key, QImage> m_cache;
};

size_t qHash(const ThumbnailCache::Key &key, size_t seed = 0) noexcept;

} // namespace thumbs
