// The waiting side of one synchronous request: its sequence, an event, and the slot for the answer.
#ifndef PELLAX_CONTEXT_SYNC_CONTEXT_H
#define PELLAX_CONTEXT_SYNC_CONTEXT_H

#include <cstdint>
#include <memory>

#include "context/MessageResponse.h"
#include "platform/OrvLockEvent.h"
#include "platform/OrvReferenceControl.h"
#include "platform/RefPtr.h"
#include "platform/Zot.h"

namespace ORV {
namespace PELLAX {

class CSyncContext : public COrvReferenceControlT<COrvLockMutex> {
public:
    explicit CSyncContext(uint32_t sequence);

    uint32_t GetSequence() const { return m_nSequence; }
    // On the context manager's thread: stores the answer, then wakes the waiter.
    void SetResponse(const CRefPtr<CMessageResponse>& response);
    // 0 when answered within the time-out.
    int Wait(uint32_t timeoutSeconds);
    int GetResponse(CRefPtr<CMessageResponse>& response);

private:
    const uint32_t m_nSequence;
    std::unique_ptr<COrvLockEvent> m_pEvent;
    // Written before the signal and read after the wait, but a duplicate answer may still race a
    // late read: the mutex keeps that from tearing the pointer.
    ZOT_Mutex m_responseMutex;
    CRefPtr<CMessageResponse> m_pResponse;
};

}  // namespace PELLAX
}  // namespace ORV

#endif
