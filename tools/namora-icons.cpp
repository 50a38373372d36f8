// Writes the program's icon for installation, in the hicolor theme's layout:
//   namora-icons ROOT NAME SIZE...
// makes ROOT/hicolor/scalable/apps/NAME.svg and ROOT/hicolor/SxS/apps/NAME.png for
// each SIZE, all from the artwork the window itself shows.
#include "ui/window/Artwork.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <cstdio>

namespace {
bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) &&
           file.write(data) == data.size() && file.flush();
}

bool writePng(const QString &path, const QImage &image)
{
    return QDir().mkpath(QFileInfo(path).path()) && image.save(path, "PNG");
}
} // namespace

int main(int argc, char *argv[])
{
    // Drawing into images needs no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: namora-icons ROOT NAME SIZE...\n");
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]) + QStringLiteral("/hicolor/");
    const QString name = QString::fromLocal8Bit(argv[2]);
    const QString svg = root + QStringLiteral("scalable/apps/") + name + QStringLiteral(".svg");
    if (!writeFile(svg, artwork::iconSvg())) {
        std::fprintf(stderr, "namora-icons: cannot write %s\n", qPrintable(svg));
        return 1;
    }
    for (int i = 3; i < argc; ++i) {
        bool ok = false;
        const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
        if (!ok || size < 1 || size > 4096) {
            std::fprintf(stderr, "namora-icons: not a size: %s\n", argv[i]);
            return 2;
        }
        const QString png = root + QStringLiteral("%1x%1/apps/").arg(size) + name + QStringLiteral(".png");
        if (!writePng(png, artwork::iconImage(size))) {
            std::fprintf(stderr, "namora-icons: cannot write %s\n", qPrintable(png));
            return 1;
        }
    }
    return 0;
}
