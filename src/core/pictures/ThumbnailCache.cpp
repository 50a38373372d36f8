#include "core/pictures/ThumbnailCache.h"
#include "core/platform/FileNames.h"

#include <QFile>
#include <QHashFunctions>
#include <sys/stat.h>

namespace thumbs {

namespace {
qint64 kib(qint64 bytes)
{
    return (bytes + 1023) / 1024;
}

FileKey keyOf(const struct stat &st)
{
    FileKey k;
    k.device = quint64(st.st_dev);
    k.inode = quint64(st.st_ino);
    k.size = qint64(st.st_size);
#ifdef Q_OS_LINUX
    k.mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
#else
    k.mtimeNs = qint64(st.st_mtime) * 1000000000;
#endif
    return k;
}
} // namespace

FileKey fileKey(const QString &path)
{
    struct stat st;
    if (path.isEmpty() || ::stat(platform::encodeName(path).constData(), &st) != 0)
        return FileKey{};
    return keyOf(st);
}

FileKey fileKeyOf(int fd)
{
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0)
        return FileKey{};
    return keyOf(st);
}

ThumbnailCache::ThumbnailCache(qint64 maxBytes) : m_maxBytes(maxBytes)
{
    m_cache.setMaxCost(qsizetype(kib(maxBytes)));
}

qint64 ThumbnailCache::maxBytes() const
{
    const QMutexLocker lock(&m_mutex);
    return m_maxBytes;
}

void ThumbnailCache::setMaxBytes(qint64 maxBytes)
{
    const QMutexLocker lock(&m_mutex);
    m_maxBytes = maxBytes;
    m_cache.setMaxCost(qsizetype(kib(maxBytes)));
}

QImage ThumbnailCache::find(const FileKey &file, QSize box) const
{
    if (!file.valid())
        return {};
    const QMutexLocker lock(&m_mutex);
    const QImage *image = m_cache.object(Key{file, box});
    return image ? *image : QImage();
}

void ThumbnailCache::insert(const FileKey &file, QSize box, const QImage &image)
{
    if (!file.valid() || image.isNull())
        return;
    const QMutexLocker lock(&m_mutex);
    m_cache.insert(Key{file, box}, new QImage(image), qsizetype(kib(image.sizeInBytes())));
}

void ThumbnailCache::clear()
{
    const QMutexLocker lock(&m_mutex);
    m_cache.clear();
}

qint64 ThumbnailCache::bytesUsed() const
{
    const QMutexLocker lock(&m_mutex);
    return qint64(m_cache.totalCost()) * 1024;
}

int ThumbnailCache::count() const
{
    const QMutexLocker lock(&m_mutex);
    return int(m_cache.count());
}

size_t qHash(const ThumbnailCache::Key &key, size_t seed) noexcept
{
    return qHashMulti(seed, key.file.device, key.file.inode, key.file.size, key.file.mtimeNs, key.box.width(),
                      key.box.height());
}

} // namespace thumbs
