// Sleeping on a 32-bit word until another thread changes it and wakes the sleepers: the kernel's
// futex on Linux, WaitOnAddress on Windows, a small table of condition variables elsewhere.
#ifndef PELLAX_PLATFORM_ORV_WAIT_WORD_H
#define PELLAX_PLATFORM_ORV_WAIT_WORD_H

#include <atomic>
#include <chrono>
#include <cstdint>

// Returns at once if word != expected; otherwise sleeps until woken, the time is up, or spuriously.
void OrvWaitWord(std::atomic<uint32_t>& word, uint32_t expected, std::chrono::microseconds timeout);
// Wakes every sleeper on the word; call it after changing the word.
void OrvWakeWord(std::atomic<uint32_t>& word);

#endif
