// Intrusive reference counting: objects delete themselves when their last reference goes.
#ifndef PELLAX_PLATFORM_ORV_REFERENCE_CONTROL_H
#define PELLAX_PLATFORM_ORV_REFERENCE_CONTROL_H

#include <atomic>
#include <cstdint>

// Interfaces of counted objects derive from this, so a CRefPtr can hold the interface.
class IOrvReferenceControl {
public:
    virtual ~IOrvReferenceControl() = default;
    virtual uint32_t AddReference() = 0;
    virtual uint32_t RemoveReference() = 0;
};

// The lock type names the original runtime's choice; the count is a lock-free atomic either way.
class COrvLockMutex {};

template <class LockT>
class COrvReferenceControlT {
public:
    COrvReferenceControlT() = default;
    COrvReferenceControlT(const COrvReferenceControlT&) : m_nReference(0) {}
    COrvReferenceControlT& operator=(const COrvReferenceControlT&) { return *this; }
    virtual ~COrvReferenceControlT() = default;

    virtual uint32_t AddReference() { return m_nReference.fetch_add(1, std::memory_order_relaxed) + 1; }

    virtual uint32_t RemoveReference()
    {
        uint32_t left = m_nReference.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) {
            OnReferenceRelease();
        }
        return left;
    }

    virtual uint32_t GetReference() const { return m_nReference.load(std::memory_order_acquire); }

protected:
    virtual void OnReferenceRelease() { delete this; }

private:
    std::atomic<uint32_t> m_nReference{0};
};

#endif
