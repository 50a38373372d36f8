#include "core/platform/Priority.h"

#include "core/platform/SystemCalls.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

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

namespace {
using Clock = std::chrono::steady_clock;
std::atomic<Clock::rep> quietFrom{0};
} // namespace

void userActed()
{
    const auto until = Clock::now() + std::chrono::milliseconds(QuietAfterInputMs);
    quietFrom.store(until.time_since_epoch().count(), std::memory_order_relaxed);
}

void workAskedFor()
{
    quietFrom.store(0, std::memory_order_relaxed);
}

void standAsideForTheUser()
{
    for (;;) {
        const Clock::duration left =
            Clock::duration(quietFrom.load(std::memory_order_relaxed)) - Clock::now().time_since_epoch();
        if (left <= Clock::duration::zero())
            return;
        std::this_thread::sleep_for(std::min<Clock::duration>(left, std::chrono::milliseconds(20)));
    }
}

} // namespace platform
