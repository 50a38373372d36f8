// The yardstick for the program's start: a bare Qt window with as many
// picture labels, name boxes and buttons as the program's page, started the
// same way, with nothing loaded.
#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
#include <algorithm>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    const int width = args.size() > 2 ? args.at(1).toInt() : 1024;
    const int height = args.size() > 2 ? args.at(2).toInt() : 768;
    QWidget window;
    window.setWindowTitle(QStringLiteral("bare"));
    window.resize(width, height);
    constexpr int Slots = 53;
    constexpr int Columns = 9;
    const int cellW = width / Columns;
    const int cellH = std::max(60, (height - 100) / ((Slots + Columns - 1) / Columns));
    for (int i = 0; i < Slots; ++i) {
        const int x = (i % Columns) * cellW;
        const int y = 100 + (i / Columns) * cellH;
        auto *label = new QLabel(&window);
        label->setFrameShape(QFrame::Box);
        label->setGeometry(x + 4, y, cellW - 8, cellH - 34);
        auto *name = new QPlainTextEdit(QStringLiteral("IMG_%1").arg(i), &window);
        name->setGeometry(x + 4, y + cellH - 32, cellW - 30, 28);
        auto *button = new QPushButton(QStringLiteral("X"), &window);
        button->setGeometry(x + cellW - 26, y + cellH - 32, 22, 28);
    }
    window.show();
    return app.exec();
}
