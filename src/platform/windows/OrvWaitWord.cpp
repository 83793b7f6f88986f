#include "platform/OrvWaitWord.h"

#include <windows.h>

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t), "the wait word is a plain 32-bit word");

void OrvWaitWord(std::atomic<uint32_t>& word, uint32_t expected, std::chrono::microseconds timeout)
{
    // Rounded up: a wait shorter than a millisecond must still sleep, or a waiter would spin.
    DWORD milliseconds = static_cast<DWORD>((timeout.count() + 999) / 1000);
    WaitOnAddress(reinterpret_cast<volatile VOID*>(&word), &expected, sizeof(expected), milliseconds);
}

void OrvWakeWord(std::atomic<uint32_t>& word)
{
    WakeByAddressAll(reinterpret_cast<PVOID>(&word));
}
