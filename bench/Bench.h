#pragma once

#include <QStringList>

// One program, one subcommand per benchmark: each benchmark file registers itself
// with NAMORA_BENCH("name", function). A benchmark prints its figures next to a
// baseline measured in the same run and ends with one line "RESULT key=value ...".
namespace bench {

using Function = int (*)(const QStringList &args);

struct Registrar {
    Registrar(const char *name, const char *summary, Function function);
};

} // namespace bench

#define NAMORA_BENCH(name, summary, function)                                                                \
    static const bench::Registrar namoraBenchRegistrar_##function(name, summary, function)
