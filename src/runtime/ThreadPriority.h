#pragma once

namespace pellux {

// How a worker thread competes with the user's own programs for the processor and the disk.
enum class ThreadPriority {
    normal,
    // Runs only when nothing else wants the processor (SCHED_IDLE) and reads and writes when no
    // one else uses the disk (the idle I/O class): for work that may wait, such as text
    // recognition, re-compression and healing, so that the user never feels it.
    idle,
};

// Gives the calling thread the priority (a thread starts at normal priority, and there is no way
// back from idle); false, with one log line, when the system refused it: the thread then keeps
// running at normal priority.
bool applyThreadPriority(ThreadPriority priority);

// The calling thread's priority as the system sees it: idle only when both the scheduling policy
// and the I/O class are.
ThreadPriority currentThreadPriority();

} // namespace pellux
