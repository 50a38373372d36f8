#pragma once

// Worker threads decode and read while the user types: they must never hold the
// processor the window needs. A thread may lower its own scheduling weight; the
// GUI thread keeps the weight the program started with.
namespace platform {

// The niceness a worker thread gives itself: far enough below the GUI thread
// that the scheduler hands the window a processor at once, near enough that
// the workers still use every idle one.
constexpr int WorkerNiceness = 10;

// Lowers the calling thread's weight to WorkerNiceness, once per thread (later
// calls return at once). Where the system refuses, the thread works on as it
// was: false then, and nothing else changes.
bool lowerThisThread();

} // namespace platform
