#pragma once

namespace pellux {

// Tesseract runs its networks through OpenMP, which starts 4 threads per call by default; on a
// small machine that makes recognition about five times slower than one thread. The OpenMP
// runtime reads OMP_THREAD_LIMIT once, while the program is being loaded (Qt Core alone brings it
// in, through libb2), so setting it from main() is too late: this re-executes the program (same
// arguments, /proc/self/exe) with OMP_THREAD_LIMIT=1 when the variable is not set at all. A value
// the user set is kept. Returns only when no restart was needed or the restart failed. The
// program calls it before it opens the application library; the tests and benchmarks first thing
// in main().
void restartWithOpenMPThreadLimit(char **argv);

// Prints one debug line (once per process) when OMP_THREAD_LIMIT is not set, so a slow
// recogniser is easy to explain.
void warnIfOpenMPUnlimited();

} // namespace pellux
