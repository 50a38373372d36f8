#include "pages/PictureList.h"

#include <QDir>

// Placeholder body; the fast listing follows.
namespace pages {
PictureListing listPictures(const QString &dir)
{
    PictureListing r;
    QDir d(dir);
    r.ok = d.exists();
    r.names = d.entryList({QStringLiteral("*.jpg"), QStringLiteral("*.JPG")}, QDir::Files, QDir::Name);
    return r;
}
bool naturalLess(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) < 0;
}
} // namespace pages
