// Reader-writer lock over the server front's session pointer; a waiting writer is not starved.
#ifndef PELLAX_FRAME_RW_LOCK_H
#define PELLAX_FRAME_RW_LOCK_H

#include <atomic>
#include <cstdint>

#include "platform/Zot.h"

namespace ORV {
namespace PELLAX {

class CRWLock {
public:
    CRWLock();
    ~CRWLock();
    CRWLock(const CRWLock&) = delete;
    CRWLock& operator=(const CRWLock&) = delete;

    void ReadLock();
    bool TryReadLock();
    void ReadUnlock();
    void WriteLock();
    bool TryWriteLock();
    void WriteUnlock();

    int32_t GetReaderCount() { return ZOT_AtomicCas(&m_nReaders, 0, 0); }

private:
    void EnterReader();

    ZOT_MUTEX m_mutex = nullptr;
    ZOT_SEM m_sem = nullptr;  // posted when the reader count drops to 0
    std::atomic<int32_t> m_nReaders{0};
};

class CReadGuard {
public:
    CReadGuard(CRWLock& lock, int tryFlag);
    ~CReadGuard();
    CReadGuard(const CReadGuard&) = delete;
    CReadGuard& operator=(const CReadGuard&) = delete;
    bool IsOwned() const { return m_bOwned; }

private:
    CRWLock& m_lock;
    bool m_bOwned;
};

class CWriteGuard {
public:
    CWriteGuard(CRWLock& lock, int tryFlag);
    ~CWriteGuard();
    CWriteGuard(const CWriteGuard&) = delete;
    CWriteGuard& operator=(const CWriteGuard&) = delete;
    bool IsOwned() const { return m_bOwned; }

private:
    CRWLock& m_lock;
    bool m_bOwned;
};

}  // namespace PELLAX
}  // namespace ORV

#endif
