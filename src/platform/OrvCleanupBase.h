// Registry of process-wide objects that the runtime destroys at UnInitialize, newest first.
#ifndef PELLAX_PLATFORM_ORV_CLEANUP_BASE_H
#define PELLAX_PLATFORM_ORV_CLEANUP_BASE_H

#include <mutex>

// Recursive, so a singleton's constructor may create another singleton.
class COrvLockThreadMutex {
public:
    void Lock() { m_mutex.lock(); }
    void UnLock() { m_mutex.unlock(); }

private:
    std::recursive_mutex m_mutex;
};

class COrvCleanupBase {
public:
    COrvCleanupBase();
    virtual ~COrvCleanupBase() = default;
    COrvCleanupBase(const COrvCleanupBase&) = delete;
    COrvCleanupBase& operator=(const COrvCleanupBase&) = delete;

    virtual void Cleanup() { delete this; }

    static COrvLockThreadMutex* GetCleanupMutex();
    // Destroys every registered object in reverse order of creation.
    static void CleanupAll();

private:
    COrvCleanupBase* m_pNext = nullptr;
};

namespace OS {
unsigned int GetProcessID();
}

// Stops the utility runtime: runs the cleanup of every registered object.
void UnInitialize();

#endif
