#include "platform/OrvCoarseClock.h"

#include <chrono>

// GetTickCount64 counts from another epoch than steady_clock, so stamps compared with the precise
// tick stay on the precise clock here.
uint64_t OrvCoarseMonotonicMs()
{
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}
