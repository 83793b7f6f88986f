// An event a thread waits on: one Signal wakes the waiter and stays set until a wait has seen it.
#ifndef PELLAX_PLATFORM_ORV_LOCK_EVENT_H
#define PELLAX_PLATFORM_ORV_LOCK_EVENT_H

#include <condition_variable>
#include <mutex>

#include "platform/OrvTimeValue.h"

class COrvLockEvent {
public:
    // manualReset 0: a successful wait clears the event; initialState 1 starts it signalled.
    COrvLockEvent(int manualReset, int initialState, const char* name = nullptr);

    void Signal();
    void Reset();
    // 0 when signalled within the time (null waits without limit), non-zero on time-out.
    int Wait(const COrvTimeValue* timeout = nullptr);

private:
    std::mutex m_mutex;
    std::condition_variable m_cond;
    bool m_bManualReset;
    bool m_bSignalled;
};

#endif
