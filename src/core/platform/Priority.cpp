#include "core/platform/Priority.h"

#include "core/platform/SystemCalls.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

bool lowerThisThread()
{
    // Pool threads live as long as their pool: one call per thread is enough.
    thread_local const bool lowered =
        systemCalls().setThreadNiceness(pid_t(::syscall(SYS_gettid)), WorkerNiceness) == 0;
    return lowered;
}

} // namespace platform
