// An event a thread waits on: one Signal wakes the waiter and stays set until a wait has seen it.
#ifndef PELLAX_PLATFORM_ORV_LOCK_EVENT_H
#define PELLAX_PLATFORM_ORV_LOCK_EVENT_H

#include <atomic>
#include <cstdint>

#include "platform/OrvTimeValue.h"

// One word holds the whole state, so a Signal with nobody asleep costs no system call, and a woken
// waiter need not take a lock that its waker still holds.
class COrvLockEvent {
public:
    // manualReset 0: a successful wait clears the event; initialState 1 starts it signalled.
    COrvLockEvent(int manualReset, int initialState, const char* name = nullptr);

    void Signal();
    void Reset();
    // 0 when signalled within the time (null waits without limit), non-zero on time-out.
    int Wait(const COrvTimeValue* timeout = nullptr);

private:
    enum : uint32_t { kClear = 0, kSignalled = 1, kClearWithSleepers = 2 };

    bool TryTake();

    std::atomic<uint32_t> m_state;
    bool m_bManualReset;
};

#endif
