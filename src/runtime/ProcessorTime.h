#pragma once

#include <ctime>

namespace pellux {

// Processor time spent so far, in seconds, by the calling thread or by the whole process: the
// cost of work, unlike the wall clock, does not grow while the machine is busy with other things.
inline double threadProcessorSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

inline double processProcessorSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

} // namespace pellux
