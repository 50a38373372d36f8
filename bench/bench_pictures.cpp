// The pictures the other benchmarks work on, made ahead of them.
#include "Bench.h"
#include "Pictures.h"

namespace {
int pictures(const QStringList &args)
{
    return benchpics::run(args);
}
} // namespace

NAMORA_BENCH("pictures", "makes (once) the pictures the benchmarks use and prints where they are", pictures);
