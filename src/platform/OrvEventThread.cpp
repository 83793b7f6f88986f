#include "platform/OrvEventThread.h"

#include <asio/post.hpp>
#include <asio/steady_timer.hpp>

#include "platform/OrvTimerState.h"

namespace {
thread_local COrvEventThread* t_currentThread = nullptr;

// Owns a posted event: runs it once, and disposes of it whether or not it ran.
class PostedEvent {
public:
    explicit PostedEvent(IOrvCustomizeEvent* event) : m_pEvent(event) {}
    PostedEvent(PostedEvent&& other) noexcept : m_pEvent(other.m_pEvent) { other.m_pEvent = nullptr; }
    PostedEvent(const PostedEvent&) = delete;
    ~PostedEvent()
    {
        if (m_pEvent != nullptr) {
            m_pEvent->OnDestroy();
        }
    }

    void operator()()
    {
        IOrvCustomizeEvent* event = m_pEvent;
        m_pEvent = nullptr;
        event->OnEvent();
        event->OnDestroy();
    }

private:
    IOrvCustomizeEvent* m_pEvent;
};

// Deferred events travel as one batch; those it never got to run are disposed of with it.
class DeferredBatch {
public:
    explicit DeferredBatch(std::vector<IOrvCustomizeEvent*>&& events) : m_events(std::move(events)) {}
    DeferredBatch(DeferredBatch&& other) noexcept : m_events(std::move(other.m_events)), m_nNext(other.m_nNext)
    {
        other.m_events.clear();
    }
    DeferredBatch(const DeferredBatch&) = delete;
    ~DeferredBatch()
    {
        for (; m_nNext < m_events.size(); ++m_nNext) {
            m_events[m_nNext]->OnDestroy();
        }
    }

    void operator()()
    {
        while (m_nNext < m_events.size()) {
            PostedEvent{m_events[m_nNext++]}();
        }
    }

private:
    std::vector<IOrvCustomizeEvent*> m_events;
    size_t m_nNext = 0;
};

// Enough deferred events to be worth a wake-up of their own, and a bound on what waits.
constexpr size_t kDeferredLimit = 32;
}

COrvEventThread::COrvEventThread(IOrvThreadSink* sink) : m_work(m_context.get_executor()), m_pSink(sink)
{
    // The loop would open its poller's descriptors at the first timer or socket, whenever the thread
    // gets to it; opening them here keeps a thread's descriptors fixed from creation to release.
    asio::steady_timer poller(m_context);
}

COrvEventThread::~COrvEventThread()
{
    Stop();
}

COrvEventThread* COrvEventThread::Current()
{
    return t_currentThread;
}

int COrvEventThread::Start()
{
    try {
        m_thread = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        return -1;
    }
    return 0;
}

void COrvEventThread::Run()
{
    t_currentThread = this;
    if (m_pSink != nullptr) {
        m_pSink->OnThreadStart();
    }
    m_context.run();
    if (m_pSink != nullptr) {
        m_pSink->OnThreadStop();
    }
    // Timers still scheduled die here, on their own thread, before the loop goes away.
    for (const auto& timer : m_timers) {
        timer->Dispose();
    }
    m_timers.clear();
    t_currentThread = nullptr;
}

int COrvEventThread::PostEvent(IOrvCustomizeEvent* event)
{
    std::lock_guard<std::mutex> lock(m_postMutex);
    if (event == nullptr || m_bStopping.load()) {
        return -1;
    }
    PostDeferredLocked();
    asio::post(m_context, PostedEvent(event));
    return 0;
}

int COrvEventThread::DeferEvent(IOrvCustomizeEvent* event)
{
    std::lock_guard<std::mutex> lock(m_postMutex);
    if (event == nullptr || m_bStopping.load()) {
        return -1;
    }
    m_deferred.push_back(event);
    if (m_deferred.size() >= kDeferredLimit) {
        PostDeferredLocked();
    }
    return 0;
}

void COrvEventThread::PostDeferred()
{
    std::lock_guard<std::mutex> lock(m_postMutex);
    PostDeferredLocked();
}

void COrvEventThread::PostDeferredLocked()
{
    if (!m_deferred.empty()) {
        asio::post(m_context, DeferredBatch(std::move(m_deferred)));
        m_deferred.clear();
    }
}

bool COrvEventThread::PostTask(std::function<void()> task)
{
    std::lock_guard<std::mutex> lock(m_postMutex);
    if (m_bStopping.load()) {
        return false;
    }
    PostDeferredLocked();
    asio::post(m_context, std::move(task));
    return true;
}

void COrvEventThread::Stop()
{
    {
        std::lock_guard<std::mutex> lock(m_postMutex);
        if (!m_bStopping.exchange(true)) {
            // Everything posted or deferred before this runs first: the loop is FIFO on one thread.
            PostDeferredLocked();
            asio::post(m_context, [this] { m_context.stop(); });
        }
    }
    if (m_thread.joinable() && !IsCurrent()) {
        m_thread.join();
    }
}
