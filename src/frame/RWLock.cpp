#include "frame/RWLock.h"

namespace ORV {
namespace PELLAX {

CRWLock::CRWLock()
{
    ZOT_MutexCreate(&m_mutex, 0);
    ZOT_SemCreate(&m_sem, 0);
}

CRWLock::~CRWLock()
{
    ZOT_SemDestroy(&m_sem);
    ZOT_MutexDestroy(&m_mutex);
}

// Caller holds the mutex. Drains posts left from earlier moments when the count reached 0.
void CRWLock::EnterReader()
{
    ZOT_AtomicAdd(&m_nReaders, 1);
    while (ZOT_SemTimedWait(m_sem, 0) == 0) {
    }
}

void CRWLock::ReadLock()
{
    ZOT_MutexLock(m_mutex);
    EnterReader();
    ZOT_MutexUnlock(m_mutex);
}

bool CRWLock::TryReadLock()
{
    if (ZOT_MutexTryLock(m_mutex) != 0) {
        return false;
    }
    EnterReader();
    ZOT_MutexUnlock(m_mutex);
    return true;
}

void CRWLock::ReadUnlock()
{
    if (ZOT_AtomicAdd(&m_nReaders, -1) == 1) {
        ZOT_SemPost(m_sem);
    }
}

void CRWLock::WriteLock()
{
    ZOT_MutexLock(m_mutex);
    while (GetReaderCount() >= 1) {
        ZOT_SemWait(m_sem);
    }
}

bool CRWLock::TryWriteLock()
{
    if (ZOT_MutexTryLock(m_mutex) != 0) {
        return false;
    }
    if (GetReaderCount() < 1) {
        return true;
    }
    ZOT_MutexUnlock(m_mutex);
    return false;
}

void CRWLock::WriteUnlock()
{
    ZOT_MutexUnlock(m_mutex);
}

CReadGuard::CReadGuard(CRWLock& lock, int tryFlag) : m_lock(lock)
{
    if (tryFlag == 1) {
        m_bOwned = m_lock.TryReadLock();
    } else {
        m_lock.ReadLock();
        m_bOwned = true;
    }
}

CReadGuard::~CReadGuard()
{
    if (m_bOwned) {
        m_lock.ReadUnlock();
        m_bOwned = false;
    }
}

CWriteGuard::CWriteGuard(CRWLock& lock, int tryFlag) : m_lock(lock)
{
    if (tryFlag == 1) {
        m_bOwned = m_lock.TryWriteLock();
    } else {
        m_lock.WriteLock();
        m_bOwned = true;
    }
}

CWriteGuard::~CWriteGuard()
{
    if (m_bOwned) {
        m_lock.WriteUnlock();
        m_bOwned = false;
    }
}

}  // namespace PELLAX
}  // namespace ORV
