#include "platform/OrvCleanupBase.h"

#include <atomic>

#include <pthread.h>
#include <unistd.h>

namespace {
// Newest first; guarded by the cleanup mutex.
COrvCleanupBase* g_cleanupList = nullptr;
}

COrvCleanupBase::COrvCleanupBase()
{
    COrvLockThreadMutex* mutex = GetCleanupMutex();
    mutex->Lock();
    m_pNext = g_cleanupList;
    g_cleanupList = this;
    mutex->UnLock();
}

COrvLockThreadMutex* COrvCleanupBase::GetCleanupMutex()
{
    // Created at first use, never destroyed: singletons may be created again after a cleanup.
    static COrvLockThreadMutex* mutex = new COrvLockThreadMutex;
    return mutex;
}

void COrvCleanupBase::CleanupAll()
{
    COrvLockThreadMutex* mutex = GetCleanupMutex();
    mutex->Lock();
    COrvCleanupBase* list = g_cleanupList;
    g_cleanupList = nullptr;
    mutex->UnLock();
    while (list != nullptr) {
        COrvCleanupBase* next = list->m_pNext;
        list->Cleanup();
        list = next;
    }
}

namespace OS {
namespace {
// Every control frame carries it, and asking the kernel each time is a system call apiece; a child
// forked without exec forgets it, so it sends its own id rather than its parent's.
std::atomic<unsigned int> g_nProcessId{0};

void ForgetProcessID()
{
    g_nProcessId.store(0, std::memory_order_relaxed);
}
}

unsigned int GetProcessID()
{
    unsigned int pid = g_nProcessId.load(std::memory_order_relaxed);
    if (pid != 0) {
        return pid;
    }
    static const int forgetInChild = pthread_atfork(nullptr, nullptr, ForgetProcessID);
    (void)forgetInChild;
    pid = static_cast<unsigned int>(getpid());
    g_nProcessId.store(pid, std::memory_order_relaxed);
    return pid;
}
}

void UnInitialize()
{
    COrvCleanupBase::CleanupAll();
}
