// One counted object kept for its owner's next frame, taken and given back from any thread without a
// lock: a stream of frames then allocates nothing, while an object someone still holds is never handed
// out again.
#ifndef PELLAX_PLATFORM_ORV_SPARE_H
#define PELLAX_PLATFORM_ORV_SPARE_H

#include <atomic>

#include "platform/RefPtr.h"

template <class T>
class COrvSpareT {
public:
    COrvSpareT() = default;
    COrvSpareT(const COrvSpareT&) = delete;
    COrvSpareT& operator=(const COrvSpareT&) = delete;
    ~COrvSpareT() { CRefPtr<T>::Adopt(m_pObject.exchange(nullptr)); }

    // The kept object, or an empty pointer.
    CRefPtr<T> Take() { return CRefPtr<T>::Adopt(m_pObject.exchange(nullptr, std::memory_order_acq_rel)); }

    // Keeps the object when nobody else holds it: a count of one cannot rise again from elsewhere.
    void Give(CRefPtr<T> object)
    {
        if (object && object->GetReference() == 1) {
            CRefPtr<T>::Adopt(m_pObject.exchange(object.Release(), std::memory_order_acq_rel));
        }
    }

private:
    std::atomic<T*> m_pObject{nullptr};  // holds one reference
};

#endif
