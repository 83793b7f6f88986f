#include "platform/OrvLockEvent.h"

#include <chrono>

#include "platform/OrvWaitWord.h"

namespace {
using Clock = std::chrono::steady_clock;
// A wait without limit still wakes now and then; it just goes back to sleep.
constexpr std::chrono::microseconds kLongSleep = std::chrono::hours(1);
}

COrvLockEvent::COrvLockEvent(int manualReset, int initialState, const char*)
    : m_state(initialState != 0 ? kSignalled : kClear), m_bManualReset(manualReset != 0)
{
}

void COrvLockEvent::Signal()
{
    if (m_state.exchange(kSignalled, std::memory_order_acq_rel) == kClearWithSleepers) {
        OrvWakeWord(m_state);
    }
}

void COrvLockEvent::Reset()
{
    uint32_t signalled = kSignalled;
    m_state.compare_exchange_strong(signalled, kClear, std::memory_order_acq_rel);
}

// True once the event is seen signalled; an auto-reset event is cleared by the one who sees it.
bool COrvLockEvent::TryTake()
{
    uint32_t state = m_state.load(std::memory_order_acquire);
    while (state == kSignalled) {
        if (m_bManualReset || m_state.compare_exchange_weak(state, kClear, std::memory_order_acq_rel)) {
            return true;
        }
    }
    return false;
}

int COrvLockEvent::Wait(const COrvTimeValue* timeout)
{
    bool limited = timeout != nullptr;
    Clock::time_point deadline = Clock::now() + std::chrono::microseconds(limited ? timeout->GetTotalMicroseconds() : 0);
    for (;;) {
        if (TryTake()) {
            return 0;
        }
        std::chrono::microseconds left = kLongSleep;
        if (limited) {
            left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                return -1;
            }
        }
        // Tell a Signal there is a sleeper to wake; a Signal in between makes this fail and we look again.
        uint32_t clear = kClear;
        if (m_state.compare_exchange_strong(clear, kClearWithSleepers, std::memory_order_acq_rel) ||
            clear == kClearWithSleepers) {
            OrvWaitWord(m_state, kClearWithSleepers, left);
        }
    }
}
