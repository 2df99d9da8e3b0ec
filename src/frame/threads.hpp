// The OpenMP team that runs the program's parallel loops: how many threads a region started
// now would have, and which of them the caller is.  A build without OpenMP has one thread,
// and the loops run as plain loops.
#pragma once

#ifdef _OPENMP
#include <omp.h>
#endif

namespace torva {

// Threads of a parallel region started from here (OMP_NUM_THREADS, else every CPU).
[[nodiscard]] inline int team_threads() noexcept
{
#ifdef _OPENMP
    return omp_get_max_threads();
#else
    return 1;
#endif
}

// The calling thread's number in its team, 0 .. team size - 1 (0 outside a region).
[[nodiscard]] inline int team_member() noexcept
{
#ifdef _OPENMP
    return omp_get_thread_num();
#else
    return 0;
#endif
}

}  // namespace torva
