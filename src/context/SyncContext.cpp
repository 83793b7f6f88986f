#include "context/SyncContext.h"

#include <new>

namespace ORV {
namespace PELLAX {

CSyncContext::CSyncContext(uint32_t sequence)
    : m_nSequence(sequence), m_pEvent(new (std::nothrow) COrvLockEvent(0, 0, nullptr))
{
}

void CSyncContext::SetResponse(const CRefPtr<CMessageResponse>& response)
{
    {
        ZOT_Guard guard(m_responseMutex);
        m_pResponse = response;
    }
    if (m_pEvent) {
        m_pEvent->Signal();
    }
}

int CSyncContext::Wait(uint32_t timeoutSeconds)
{
    if (!m_pEvent) {
        return -1;
    }
    COrvTimeValue timeout(timeoutSeconds, 0);
    return m_pEvent->Wait(&timeout);
}

int CSyncContext::GetResponse(CRefPtr<CMessageResponse>& response)
{
    ZOT_Guard guard(m_responseMutex);
    response = m_pResponse;
    return 0;
}

}  // namespace PELLAX
}  // namespace ORV
