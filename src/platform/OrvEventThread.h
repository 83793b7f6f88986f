// The event thread behind IOrvThread: one asio io_context run by one std::thread.
//
// Handing work to it, and what becomes of the work while the thread stops:
// - PostEvent: an IOrvCustomizeEvent from above the platform. Refused once the thread is stopping
//   (the event stays the caller's); an accepted event runs before the thread ends.
// - DeferEvent: the same for bookkeeping nobody waits on; it rides along with the next posted event
//   or timer tick.
// - PostTask: work of the platform itself, refused in the same way.
// The platform's sockets and timers complete on the loop directly (asio::post and asio's operations):
// what is still pending when the loop stops is destroyed unrun, which their handlers allow for.
#ifndef PELLAX_PLATFORM_ORV_EVENT_THREAD_H
#define PELLAX_PLATFORM_ORV_EVENT_THREAD_H

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_set>
#include <vector>

#include "platform/OrvRunPool.h"
#include "platform/OrvThread.h"

struct OrvTimerState;

class COrvEventThread final : public IOrvThread {
public:
    explicit COrvEventThread(IOrvThreadSink* sink);
    ~COrvEventThread() override;

    int Start();
    int PostEvent(IOrvCustomizeEvent* event) override;
    int DeferEvent(IOrvCustomizeEvent* event) override;
    // Queues the deferred events behind what is already posted.
    void PostDeferred();
    // Runs a task on this thread; false once the thread is stopping.
    bool PostTask(std::function<void()> task);
    void Stop();
    bool IsCurrent() const { return Current() == this; }

    asio::io_context& GetContext() { return m_context; }
    // Send runs of this thread's connections.
    COrvRunPool& GetRunPool() { return m_runPool; }
    // The block the next received frame of this thread's connections is decoded into, when it fits.
    MessageBlockPtr& GetSpareFrame() { return m_spareFrame; }
    // Timers scheduled on this thread; touched only on the thread itself.
    std::unordered_set<std::shared_ptr<OrvTimerState>>& GetTimers() { return m_timers; }

    static COrvEventThread* Current();

private:
    void Run();
    void PostDeferredLocked();

    asio::io_context m_context{1};
    asio::executor_work_guard<asio::io_context::executor_type> m_work;
    std::unordered_set<std::shared_ptr<OrvTimerState>> m_timers;  // strong refs: timers die on this thread
    IOrvThreadSink* m_pSink;
    // Held while posting, so deferred events keep their place in line with posted ones.
    std::mutex m_postMutex;
    std::vector<IOrvCustomizeEvent*> m_deferred;
    std::atomic<bool> m_bStopping{false};
    // Two hand-overs' worth (one being written, one being queued); freeing runs as they were written
    // made the heap grow and shrink with the queue, a page fault per 4 KiB (12 000 in 2 s of the
    // pinned 64-byte stream with 10 kept, 136 with 16).
    COrvRunPool m_runPool{16};
    MessageBlockPtr m_spareFrame;  // this thread only
    std::thread m_thread;
};

#endif
