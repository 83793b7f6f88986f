#include "platform/ZotSema.h"

#include <chrono>

void ZOT_Sema::Post()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_nCount;
    }
    m_cond.notify_one();
}

void ZOT_Sema::Wait()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cond.wait(lock, [this] { return m_nCount > 0; });
    --m_nCount;
}

bool ZOT_Sema::TimedWait(uint32_t timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    // A zero time-out only tries: a wait with a deadline already past still enters the kernel,
    // which may let the thread sleep for its whole timer slack before reporting the time-out.
    if (timeoutMs == 0 && m_nCount == 0) {
        return false;
    }
    if (!m_cond.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_nCount > 0; })) {
        return false;
    }
    --m_nCount;
    return true;
}

uint32_t ZOT_Sema::GetCount()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nCount;
}
