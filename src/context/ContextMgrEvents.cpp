#include "context/ContextMgrEvents.h"

namespace ORV {
namespace PELLAX {

int CEventContextMgrScheduleTimer::OnEvent()
{
    if (m_pTimer == nullptr) {
        return kResultNotDone;
    }
    // The tick does no work; it keeps the thread's timer machinery exercised as the manager always had.
    return m_pTimer->Schedule(m_pSink, COrvTimeValue(5, 0), COrvTimeValue(0, 0), -1);
}

int CEventContextMgrCancelTimer::OnEvent()
{
    if (m_pTimer != nullptr) {
        m_pTimer->Cancel();
    }
    return 0;
}

int CEventContextMgrAddContext::OnEvent()
{
    if (m_pManager == nullptr || !m_pContext) {
        return kResultNotStarted;
    }
    m_pManager->DoAddContext(m_pContext);
    return 0;
}

int CEventContextMgrRemoveContext::OnEvent()
{
    if (m_pManager == nullptr) {
        return kResultNotDone;
    }
    return m_pManager->DoRemoveContext(m_nSequence);
}

int CEventContextMgrQueryContext::OnEvent()
{
    if (m_pManager == nullptr) {
        return -1;
    }
    return static_cast<int>(m_pManager->DoQueryContext(m_pResponse));
}

int CEventContextMgrDestroy::OnEvent()
{
    if (m_pManager == nullptr) {
        return kResultNotStarted;
    }
    m_pManager->DoDestroy();
    return 0;
}

}  // namespace PELLAX
}  // namespace ORV
