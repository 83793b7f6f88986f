// Counting semaphore behind the ZOT_Sem* functions.
#ifndef PELLAX_PLATFORM_ZOT_SEMA_H
#define PELLAX_PLATFORM_ZOT_SEMA_H

#include <condition_variable>
#include <cstdint>
#include <mutex>

class ZOT_Sema {
public:
    explicit ZOT_Sema(uint32_t count) : m_nCount(count) {}

    void Post();
    void Wait();
    // True when a count was taken within the time-out.
    bool TimedWait(uint32_t timeoutMs);
    uint32_t GetCount();

private:
    std::mutex m_mutex;
    std::condition_variable m_cond;
    uint32_t m_nCount;
};

#endif
