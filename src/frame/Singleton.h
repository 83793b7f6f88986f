// Process-wide objects created on first use and destroyed only by the runtime's cleanup.
#ifndef PELLAX_FRAME_SINGLETON_H
#define PELLAX_FRAME_SINGLETON_H

#include <atomic>

#include "platform/OrvCleanupBase.h"

template <class T>
class COrvSingletonT : public COrvCleanupBase {
public:
    // Null only when the runtime has no cleanup mutex.
    static T* Instance()
    {
        COrvSingletonT* instance = s_pInstance.load(std::memory_order_acquire);
        if (instance != nullptr) {
            return &instance->m_instance;
        }
        COrvLockThreadMutex* mutex = COrvCleanupBase::GetCleanupMutex();
        if (mutex == nullptr) {
            return nullptr;
        }
        mutex->Lock();
        instance = s_pInstance.load(std::memory_order_relaxed);
        if (instance == nullptr) {
            instance = new COrvSingletonT;
            s_pInstance.store(instance, std::memory_order_release);
        }
        mutex->UnLock();
        return &instance->m_instance;
    }

    // The existing instance, never creating one.
    static T* Peek()
    {
        COrvSingletonT* instance = s_pInstance.load(std::memory_order_acquire);
        return instance != nullptr ? &instance->m_instance : nullptr;
    }

    ~COrvSingletonT() override { s_pInstance.store(nullptr, std::memory_order_release); }

private:
    COrvSingletonT() = default;

    T m_instance;
    static std::atomic<COrvSingletonT*> s_pInstance;
};

template <class T>
std::atomic<COrvSingletonT<T>*> COrvSingletonT<T>::s_pInstance{nullptr};

#endif
