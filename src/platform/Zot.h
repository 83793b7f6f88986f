// Portable primitives: mutexes, semaphores, atomics, monotonic ticks and random numbers.
#ifndef PELLAX_PLATFORM_ZOT_H
#define PELLAX_PLATFORM_ZOT_H

#include <atomic>
#include <cstdint>
#include <mutex>

class ZOT_Mutex {
public:
    void Lock() { m_mutex.lock(); }
    void Unlock() { m_mutex.unlock(); }
    bool TryLock() { return m_mutex.try_lock(); }

private:
    std::mutex m_mutex;
};

// Locks a ZOT_Mutex for its lifetime, or until Release.
class ZOT_Guard {
public:
    explicit ZOT_Guard(ZOT_Mutex& mutex) : m_pMutex(&mutex) { m_pMutex->Lock(); }
    ~ZOT_Guard() { Release(); }
    ZOT_Guard(const ZOT_Guard&) = delete;
    ZOT_Guard& operator=(const ZOT_Guard&) = delete;

    void Release()
    {
        if (m_pMutex != nullptr) {
            m_pMutex->Unlock();
            m_pMutex = nullptr;
        }
    }

private:
    ZOT_Mutex* m_pMutex;
};

class ZOT_Sema;
using ZOT_MUTEX = ZOT_Mutex*;
using ZOT_SEM = ZOT_Sema*;

// Handle-style interface; 0 means success (for TryLock and the waits: taken).
int ZOT_MutexCreate(ZOT_MUTEX* mutex, int flags);
int ZOT_MutexDestroy(ZOT_MUTEX* mutex);
int ZOT_MutexLock(ZOT_MUTEX mutex);
int ZOT_MutexTryLock(ZOT_MUTEX mutex);
int ZOT_MutexUnlock(ZOT_MUTEX mutex);

int ZOT_SemCreate(ZOT_SEM* sem, uint32_t initialCount);
int ZOT_SemDestroy(ZOT_SEM* sem);
int ZOT_SemPost(ZOT_SEM sem);
int ZOT_SemWait(ZOT_SEM sem);
int ZOT_SemTimedWait(ZOT_SEM sem, uint32_t timeoutMs);

// Returns the value before the add.
inline int32_t ZOT_AtomicAdd(std::atomic<int32_t>* value, int32_t delta) { return value->fetch_add(delta); }
inline uint32_t ZOT_AtomicAdd(std::atomic<uint32_t>* value, uint32_t delta) { return value->fetch_add(delta); }
// Compares with expected and writes desired on a match; returns the value found.
inline int32_t ZOT_AtomicCas(std::atomic<int32_t>* value, int32_t expected, int32_t desired)
{
    value->compare_exchange_strong(expected, desired);
    return expected;
}

uint64_t ZOT_GetTimeTick64();
uint32_t ZOT_GetTimeTick();
// The tick as of the last timer interrupt (at most a few milliseconds behind ZOT_GetTimeTick64, never
// ahead of it): liveness stamps on every frame, compared in seconds.
uint64_t ZOT_GetCoarseTimeTick64();
uint32_t ZOT_Rand();

// Lets tests drive time-dependent logic with a controlled clock; null restores the real one.
using ZotTickSource = uint64_t (*)();
void ZOT_SetTickSource(ZotTickSource source);

#endif
