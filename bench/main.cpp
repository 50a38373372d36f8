#include "Bench.h"

#include <QApplication>
#include <cstdio>
#include <map>
#include <string>

namespace {
struct Entry {
    const char *summary;
    bench::Function function;
};
std::map<std::string, Entry> &registry()
{
    static std::map<std::string, Entry> r;
    return r;
}
} // namespace

bench::Registrar::Registrar(const char *name, const char *summary, Function function)
{
    registry()[name] = Entry{summary, function};
}

int main(int argc, char *argv[])
{
    // Benchmarks measure the program, not a display: offscreen unless told otherwise.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments().mid(1);
    const auto it = args.isEmpty() ? registry().end() : registry().find(args.first().toStdString());
    if (it == registry().end()) {
        std::fprintf(stderr, "usage: namora-bench NAME [ARGS]\nbenchmarks:\n");
        for (const auto &[name, entry] : registry())
            std::fprintf(stderr, "  %-12s %s\n", name.c_str(), entry.summary);
        return 2;
    }
    return it->second.function(args.mid(1));
}
