// Writes the demo pictures that ./run opens when no directory is given.
#include "TestPictures.h"

#include <QGuiApplication>
#include <cstdio>

int main(int argc, char *argv[])
{
    // Drawing into images needs no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: namora-makedemo DIRECTORY [COUNT]\n");
        return 2;
    }
    const int count = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 60;
    const QStringList names = testpics::makeDemoSet(QString::fromLocal8Bit(argv[1]), count);
    std::printf("%lld demo pictures in %s\n", static_cast<long long>(names.size()), argv[1]);
    return 0;
}
