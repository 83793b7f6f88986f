#include "platform/OrvCoarseClock.h"

#include <time.h>

// The last timer tick's time, read without the clock source; the same epoch as steady_clock.
uint64_t OrvCoarseMonotonicMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}
