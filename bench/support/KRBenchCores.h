#pragma once

// Confining a benchmark's thread (and the processes and threads it starts from then on) to two
// processors, for the figures measured as on a two-core machine.

#include <sched.h>

namespace KRBench {

// Confines this thread to the first two processors it may use; `previous` gets what it was
// allowed before, to be given back with sched_setaffinity. False (and nothing changed) when
// fewer than two are allowed.
inline bool confineToTwoProcessors(cpu_set_t *previous)
{
    CPU_ZERO(previous);
    if (::sched_getaffinity(0, sizeof *previous, previous) != 0 || CPU_COUNT(previous) < 2)
        return false;
    cpu_set_t two;
    CPU_ZERO(&two);
    for (int cpu = 0, taken = 0; cpu < CPU_SETSIZE && taken < 2; ++cpu) {
        if (CPU_ISSET(cpu, previous)) {
            CPU_SET(cpu, &two);
            ++taken;
        }
    }
    return ::sched_setaffinity(0, sizeof two, &two) == 0;
}

} // namespace KRBench
