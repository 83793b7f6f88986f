// A monotonic millisecond clock that may lag the precise one by a few milliseconds, never lead it,
// and costs a fraction of a precise read: for stamps taken on every received frame.
#ifndef PELLAX_PLATFORM_ORV_COARSE_CLOCK_H
#define PELLAX_PLATFORM_ORV_COARSE_CLOCK_H

#include <cstdint>

uint64_t OrvCoarseMonotonicMs();

#endif
