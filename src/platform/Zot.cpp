#include "platform/Zot.h"

#include <chrono>
#include <new>
#include <random>

#include "platform/OrvCoarseClock.h"
#include "platform/ZotSema.h"

int ZOT_MutexCreate(ZOT_MUTEX* mutex, int)
{
    if (mutex == nullptr) {
        return -1;
    }
    *mutex = new (std::nothrow) ZOT_Mutex;
    return *mutex != nullptr ? 0 : -1;
}

int ZOT_MutexDestroy(ZOT_MUTEX* mutex)
{
    if (mutex == nullptr) {
        return -1;
    }
    delete *mutex;
    *mutex = nullptr;
    return 0;
}

int ZOT_MutexLock(ZOT_MUTEX mutex)
{
    if (mutex == nullptr) {
        return -1;
    }
    mutex->Lock();
    return 0;
}

int ZOT_MutexTryLock(ZOT_MUTEX mutex)
{
    return mutex != nullptr && mutex->TryLock() ? 0 : -1;
}

int ZOT_MutexUnlock(ZOT_MUTEX mutex)
{
    if (mutex == nullptr) {
        return -1;
    }
    mutex->Unlock();
    return 0;
}

int ZOT_SemCreate(ZOT_SEM* sem, uint32_t initialCount)
{
    if (sem == nullptr) {
        return -1;
    }
    *sem = new (std::nothrow) ZOT_Sema(initialCount);
    return *sem != nullptr ? 0 : -1;
}

int ZOT_SemDestroy(ZOT_SEM* sem)
{
    if (sem == nullptr) {
        return -1;
    }
    delete *sem;
    *sem = nullptr;
    return 0;
}

int ZOT_SemPost(ZOT_SEM sem)
{
    if (sem == nullptr) {
        return -1;
    }
    sem->Post();
    return 0;
}

int ZOT_SemWait(ZOT_SEM sem)
{
    if (sem == nullptr) {
        return -1;
    }
    sem->Wait();
    return 0;
}

int ZOT_SemTimedWait(ZOT_SEM sem, uint32_t timeoutMs)
{
    return sem != nullptr && sem->TimedWait(timeoutMs) ? 0 : -1;
}

namespace {
std::atomic<ZotTickSource> g_tickSource{nullptr};
}

void ZOT_SetTickSource(ZotTickSource source)
{
    g_tickSource.store(source);
}

uint64_t ZOT_GetTimeTick64()
{
    ZotTickSource source = g_tickSource.load(std::memory_order_relaxed);
    if (source != nullptr) {
        return source();
    }
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

uint64_t ZOT_GetCoarseTimeTick64()
{
    ZotTickSource source = g_tickSource.load(std::memory_order_relaxed);
    return source != nullptr ? source() : OrvCoarseMonotonicMs();
}

uint32_t ZOT_GetTimeTick()
{
    return static_cast<uint32_t>(ZOT_GetTimeTick64());
}

uint32_t ZOT_Rand()
{
    thread_local std::mt19937 generator{std::random_device{}()};
    return static_cast<uint32_t>(generator());
}
