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

// A lower weight is not enough where the scheduler shares the processors
// between sessions first: the program's share would go to its workers, and the
// window would wait behind other programs for what is left. So for a moment
// after each key or click the workers stand aside altogether.
constexpr int QuietAfterInputMs = 100;

// The user pressed a key or a button (any thread; cheap).
void userActed();
// The input asked for the workers' work (another page's thumbnails): they
// need not stand aside for it.
void workAskedFor();
// On a worker: returns once no input came for QuietAfterInputMs, at once when
// none came lately.
void standAsideForTheUser();

} // namespace platform
