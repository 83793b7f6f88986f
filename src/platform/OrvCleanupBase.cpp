#include "platform/OrvCleanupBase.h"

#include "platform/OrvProcess.h"

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
unsigned int GetProcessID()
{
    return OrvCurrentProcessId();
}
}

void UnInitialize()
{
    COrvCleanupBase::CleanupAll();
}
