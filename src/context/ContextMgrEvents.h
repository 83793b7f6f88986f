// The events that carry every change of the context table to the manager's thread.
#ifndef PELLAX_CONTEXT_CONTEXT_MGR_EVENTS_H
#define PELLAX_CONTEXT_CONTEXT_MGR_EVENTS_H

#include <cstdint>

#include "context/ContextMgr.h"
#include "platform/OrvThread.h"

namespace ORV {
namespace PELLAX {

class CEventContextMgrScheduleTimer : public IOrvCustomizeEvent {
public:
    CEventContextMgrScheduleTimer(IOrvTimerSink* sink, COrvTimer* timer) : m_pSink(sink), m_pTimer(timer) {}
    int OnEvent() override;

private:
    IOrvTimerSink* m_pSink;
    COrvTimer* m_pTimer;
};

class CEventContextMgrCancelTimer : public IOrvCustomizeEvent {
public:
    explicit CEventContextMgrCancelTimer(COrvTimer* timer) : m_pTimer(timer) {}
    int OnEvent() override;

private:
    COrvTimer* m_pTimer;
};

class CEventContextMgrAddContext : public IOrvCustomizeEvent {
public:
    CEventContextMgrAddContext(CContextMgr* manager, const CRefPtr<CSyncContext>& context)
        : m_pManager(manager), m_pContext(context)
    {
    }
    int OnEvent() override;

private:
    CContextMgr* m_pManager;
    CRefPtr<CSyncContext> m_pContext;
};

class CEventContextMgrRemoveContext : public IOrvCustomizeEvent {
public:
    CEventContextMgrRemoveContext(CContextMgr* manager, uint32_t sequence) : m_pManager(manager), m_nSequence(sequence)
    {
    }
    int OnEvent() override;

private:
    CContextMgr* m_pManager;
    uint32_t m_nSequence;
};

class CEventContextMgrQueryContext : public IOrvCustomizeEvent {
public:
    CEventContextMgrQueryContext(CContextMgr* manager, const CRefPtr<CMessageResponse>& response)
        : m_pManager(manager), m_pResponse(response)
    {
    }
    int OnEvent() override;

private:
    CContextMgr* m_pManager;
    CRefPtr<CMessageResponse> m_pResponse;
};

class CEventContextMgrDestroy : public IOrvCustomizeEvent {
public:
    explicit CEventContextMgrDestroy(CContextMgr* manager) : m_pManager(manager) {}
    int OnEvent() override;

private:
    CContextMgr* m_pManager;
};

}  // namespace PELLAX
}  // namespace ORV

#endif
