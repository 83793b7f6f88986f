#include "platform/OrvCoarseClock.h"

#include "platform/Zot.h"

// GetTickCount64 counts from another epoch than the precise tick, and stamps are compared with that
// tick: here they stay on it.
uint64_t OrvCoarseMonotonicMs()
{
    return ZOT_GetTimeTick64();
}
