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

// Schedule and Cancel belong on the scheduling thread. Deleting the timer elsewhere only stops it
// from calling its sink; the thread itself disposes of what is left.
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
