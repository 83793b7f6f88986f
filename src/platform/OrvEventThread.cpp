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
    if (event == nullptr || m_bStopping.load()) {
        return -1;
    }
    asio::post(m_context, PostedEvent(event));
    return 0;
}

bool COrvEventThread::PostTask(std::function<void()> task)
{
    if (m_bStopping.load()) {
        return false;
    }
    asio::post(m_context, std::move(task));
    return true;
}

void COrvEventThread::Stop()
{
    if (!m_bStopping.exchange(true)) {
        // Everything posted before this runs first: the loop is FIFO on one thread.
        asio::post(m_context, [this] { m_context.stop(); });
    }
    if (m_thread.joinable() && !IsCurrent()) {
        m_thread.join();
    }
}
