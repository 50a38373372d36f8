#include "platform/Process.h"

#include <QProcess>

namespace platform {

namespace {
StartHandler &startSlot()
{
    static StartHandler h;
    return h;
}
} // namespace

void setStartHandler(StartHandler handler)
{
    startSlot() = std::move(handler);
}

bool startDetached(const QString &program, const QStringList &args)
{
    if (startSlot())
        return startSlot()(program, args);
    return QProcess::startDetached(program, args);
}

} // namespace platform
