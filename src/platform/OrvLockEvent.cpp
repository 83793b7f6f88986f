#include "platform/OrvLockEvent.h"

#include <chrono>

COrvLockEvent::COrvLockEvent(int manualReset, int initialState, const char*)
    : m_bManualReset(manualReset != 0), m_bSignalled(initialState != 0)
{
}

void COrvLockEvent::Signal()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bSignalled = true;
    }
    m_cond.notify_all();
}

void COrvLockEvent::Reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bSignalled = false;
}

int COrvLockEvent::Wait(const COrvTimeValue* timeout)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    auto signalled = [this] { return m_bSignalled; };
    if (timeout == nullptr) {
        m_cond.wait(lock, signalled);
    } else if (!m_cond.wait_for(lock, std::chrono::microseconds(timeout->GetTotalMicroseconds()), signalled)) {
        return -1;
    }
    if (!m_bManualReset) {
        m_bSignalled = false;
    }
    return 0;
}
