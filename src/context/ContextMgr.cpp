#include "context/ContextMgr.h"

#include <mutex>
#include <new>

#include "context/ContextMgrEvents.h"

namespace ORV {
namespace PELLAX {

namespace {
// Only a response has a waiter behind it. Adding and removing contexts rides along with the next
// response instead of waking the thread twice more per synchronous call; the order still holds.
constexpr bool kWake = true;
constexpr bool kDefer = false;
}

CContextMgr::~CContextMgr()
{
    Finalize();
}

int CContextMgr::Initialize()
{
    std::unique_lock<std::shared_mutex> lock(m_threadMutex);
    if (m_pThread.load() != nullptr) {
        return 0;
    }
    IOrvThread* thread = nullptr;
    if (IOrvThreadManager::Instance()->CreateThread(0, 14, nullptr, &thread) != 0) {
        return kResultNotDone;
    }
    m_pThread.store(thread);
    m_pTimer = new (std::nothrow) COrvTimer;
    auto* schedule = m_pTimer != nullptr ? new (std::nothrow) CEventContextMgrScheduleTimer(this, m_pTimer) : nullptr;
    if (schedule == nullptr || thread->PostEvent(schedule) != 0) {
        delete schedule;
        StopThread();
        delete m_pTimer;
        m_pTimer = nullptr;
        return kResultNotDone;
    }
    return 0;
}

void CContextMgr::StopThread()
{
    IOrvThread* thread = m_pThread.exchange(nullptr);
    IOrvThreadManager::Instance()->StopThread(thread);
    IOrvThreadManager::Instance()->ReleaseThread(thread);
}

void CContextMgr::Finalize()
{
    std::unique_lock<std::shared_mutex> lock(m_threadMutex);
    IOrvThread* thread = m_pThread.load();
    if (thread != nullptr) {
        // Cancelled and emptied on the thread itself; stop returns only after both have run.
        IOrvCustomizeEvent* cancel = new (std::nothrow) CEventContextMgrCancelTimer(m_pTimer);
        if (cancel != nullptr && thread->PostEvent(cancel) != 0) {
            delete cancel;
        }
        IOrvCustomizeEvent* destroy = new (std::nothrow) CEventContextMgrDestroy(this);
        if (destroy != nullptr && thread->PostEvent(destroy) != 0) {
            delete destroy;
        }
        StopThread();
    }
    delete m_pTimer;
    m_pTimer = nullptr;
}

int CContextMgr::Post(IOrvCustomizeEvent* event, bool wake)
{
    if (event == nullptr) {
        return kResultNotDone;
    }
    std::shared_lock<std::shared_mutex> lock(m_threadMutex);
    IOrvThread* thread = m_pThread.load();
    if (thread == nullptr || (wake ? thread->PostEvent(event) : thread->DeferEvent(event)) != 0) {
        delete event;
        return thread == nullptr ? kResultNotStarted : kResultNotDone;
    }
    return 0;
}

int CContextMgr::AddContext(const CRefPtr<CSyncContext>& context)
{
    if (!context) {
        return kResultNotStarted;
    }
    if (m_pThread.load() == nullptr) {
        return kResultNotStarted;
    }
    return Post(new (std::nothrow) CEventContextMgrAddContext(this, context), kDefer);
}

int CContextMgr::RemoveContext(uint32_t sequence)
{
    if (m_pThread.load() == nullptr) {
        return kResultNotStarted;
    }
    return Post(new (std::nothrow) CEventContextMgrRemoveContext(this, sequence), kDefer);
}

int CContextMgr::QueryContext(const CRefPtr<CMessageResponse>& response)
{
    if (m_pThread.load() == nullptr) {
        return kResultNotStarted;
    }
    return Post(new (std::nothrow) CEventContextMgrQueryContext(this, response), kWake);
}

int CContextMgr::DoAddContext(const CRefPtr<CSyncContext>& context)
{
    // An existing entry for the sequence stays; the newcomer is dropped.
    m_mapContext.emplace(context->GetSequence(), context);
    m_nContexts.store(m_mapContext.size());
    return 0;
}

int CContextMgr::DoRemoveContext(uint32_t sequence)
{
    auto entry = m_mapContext.find(sequence);
    if (entry == m_mapContext.end()) {
        return kResultNotDone;
    }
    m_mapContext.erase(entry);
    m_nContexts.store(m_mapContext.size());
    return 0;
}

uint32_t CContextMgr::DoQueryContext(const CRefPtr<CMessageResponse>& response)
{
    if (!response) {
        return 0;
    }
    auto entry = m_mapContext.find(response->GetSequence());
    if (entry == m_mapContext.end()) {
        return 0;
    }
    entry->second->SetResponse(response);
    return entry->first;
}

void CContextMgr::DoDestroy()
{
    m_mapContext.clear();
    m_nContexts.store(0);
}

void CContextMgr::OnTimer(COrvTimer*) {}

}  // namespace PELLAX
}  // namespace ORV
