// The rename planner on random pages over an imagined directory: a plan without
// refusals, run step by step, never renames onto an existing name, ends with
// every requested file under its new name and every other file untouched, and
// leaves no temporary name behind (cycles resolved).
#include "core/platform/Rename.h"
#include "core/renaming/RenamePlan.h"

#include <QHash>
#include <QSet>

#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>

namespace {
QHash<QString, platform::FileId> g_dir; // full path -> identity

void check(bool ok)
{
    if (!ok)
        std::abort();
}

QString name(FuzzedDataProvider &fdp)
{
    static const char *const names[] = {"a",     "b",     "c",  "A", "B",   "d e",
                                        "IMG_1", "img_1", ".x", "",  "a/b", "x\ny"};
    if (fdp.ConsumeIntegralInRange(0, 9) == 0) {
        const std::string s = fdp.ConsumeRandomLengthString(8);
        return QString::fromUtf8(s.data(), qsizetype(s.size()));
    }
    return QString::fromUtf8(names[fdp.ConsumeIntegralInRange<size_t>(0, std::size(names) - 1)]);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool installed = [] {
        platform::setFileIdHandler([](const QString &path) -> std::optional<platform::FileId> {
            const auto it = g_dir.constFind(path);
            if (it == g_dir.constEnd())
                return std::nullopt;
            return *it;
        });
        return true;
    }();
    (void)installed;

    FuzzedDataProvider fdp(data, size);
    const QString dir = QStringLiteral("/pictures/");
    g_dir.clear();
    const int files = fdp.ConsumeIntegralInRange(0, 8);
    for (int i = 0; i < files; ++i)
        g_dir.insert(dir + name(fdp) + QStringLiteral(".jpg"), platform::FileId{1, quint64(i + 1)});
    const QHash<QString, platform::FileId> before = g_dir;

    QList<renaming::NameEdit> edits;
    const int count = fdp.ConsumeIntegralInRange(0, 8);
    for (int i = 0; i < count; ++i)
        edits << renaming::NameEdit{QStringLiteral("Bild %1").arg(i + 1),
                                    dir + name(fdp) + QStringLiteral(".jpg"), name(fdp)};
    const renaming::Plan plan = renaming::planNameEdits(dir, edits);
    if (!plan.ok()) {
        check(!renaming::refusalMessage(plan).isEmpty());
        return 0;
    }

    // Run the plan on the imagined directory.
    for (const renaming::Step &step : plan.steps) {
        check(g_dir.contains(step.from)); // the file to move is there
        check(!g_dir.contains(step.to));  // and nothing is overwritten
        g_dir.insert(step.to, g_dir.take(step.from));
    }
    // Every move ended at its target with its own file; nothing else changed.
    QSet<QString> moved;
    for (const renaming::Move &m : plan.moves) {
        check(g_dir.value(m.to) == before.value(m.from));
        moved << m.from;
    }
    QSet<QString> targets;
    for (const renaming::Move &m : plan.moves)
        targets << m.to;
    for (auto it = before.constBegin(); it != before.constEnd(); ++it) {
        if (!moved.contains(it.key()))
            check(g_dir.value(it.key()) == it.value());
    }
    check(g_dir.size() == before.size()); // no temporary name left
    for (auto it = g_dir.constBegin(); it != g_dir.constEnd(); ++it)
        check(before.contains(it.key()) || targets.contains(it.key()));
    return 0;
}
