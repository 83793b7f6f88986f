// The table of outstanding synchronous requests, touched only on the manager's own event thread.
#ifndef PELLAX_CONTEXT_CONTEXT_MGR_H
#define PELLAX_CONTEXT_CONTEXT_MGR_H

#include <atomic>
#include <cstdint>
#include <map>
#include <shared_mutex>

#include "context/MessageResponse.h"
#include "context/SyncContext.h"
#include "platform/OrvThread.h"
#include "platform/OrvTimer.h"
#include "platform/RefPtr.h"
#include "frame/ResultCodes.h"

namespace ORV {
namespace PELLAX {

class CContextMgr : public IOrvTimerSink {
public:
    CContextMgr() = default;
    ~CContextMgr() override;

    int Initialize();
    void Finalize();

    // Callers on any thread only post; none of them waits for the table.
    int AddContext(const CRefPtr<CSyncContext>& context);
    int RemoveContext(uint32_t sequence);
    int QueryContext(const CRefPtr<CMessageResponse>& response);

    // Run on the event thread only.
    int DoAddContext(const CRefPtr<CSyncContext>& context);
    int DoRemoveContext(uint32_t sequence);
    uint32_t DoQueryContext(const CRefPtr<CMessageResponse>& response);
    void DoDestroy();
    void OnTimer(COrvTimer* timer) override;

    IOrvThread* GetThread() const { return m_pThread.load(); }
    size_t GetContextCountForTest() const { return m_nContexts.load(); }

private:
    int Post(IOrvCustomizeEvent* event, bool wake);
    void StopThread();

    // Posting holds it shared, start and stop exclusively: receive threads may still be posting
    // answers while the library shuts down.
    std::shared_mutex m_threadMutex;
    std::atomic<IOrvThread*> m_pThread{nullptr};
    COrvTimer* m_pTimer = nullptr;
    std::map<uint32_t, CRefPtr<CSyncContext>> m_mapContext;
    std::atomic<size_t> m_nContexts{0};  // mirrors the table's size for observers on other threads
};

}  // namespace PELLAX
}  // namespace ORV

#endif
