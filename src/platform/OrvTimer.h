// A timer bound to the event thread that schedules it; its sink is called on that thread.
#ifndef PELLAX_PLATFORM_ORV_TIMER_H
#define PELLAX_PLATFORM_ORV_TIMER_H

#include <memory>

#include "platform/OrvTimeValue.h"

class COrvTimer;
struct OrvTimerState;

class IOrvTimerSink {
public:
    virtual ~IOrvTimerSink() = default;
    virtual void OnTimer(COrvTimer* timer) = 0;
};

// Schedule and Cancel belong on the scheduling thread. Deleting (or cancelling) the timer elsewhere
// waits for a tick in progress and stops every later one; the thread itself disposes of what is left.
// So a foreign thread must not delete it while holding a lock its sink takes.
class COrvTimer {
public:
    COrvTimer() = default;
    ~COrvTimer();
    COrvTimer(const COrvTimer&) = delete;
    COrvTimer& operator=(const COrvTimer&) = delete;

    // count -1 repeats until cancelled. Non-zero when the caller is not an event thread.
    int Schedule(IOrvTimerSink* sink, const COrvTimeValue& period, const COrvTimeValue& delay, int count = -1);
    // Stops every later tick, also one already queued.
    int Cancel();

private:
    std::shared_ptr<OrvTimerState> m_pState;
};

#endif
