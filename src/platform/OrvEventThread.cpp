#include "platform/OrvEventThread.h"

#include <algorithm>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <future>

#include "platform/OrvTimerState.h"
#include "platform/OrvWaitWord.h"

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
// Without the poller the thread sleeps until the next timer is due. A due timer is run by the
// poll that follows, so a short floor keeps the thread from spinning while its expiry registers.
constexpr std::chrono::microseconds kShortestSleep = std::chrono::milliseconds(1);
constexpr std::chrono::microseconds kLongestSleep = std::chrono::hours(1);
}

COrvEventThread::COrvEventThread(IOrvThreadSink* sink, bool forSockets)
    : m_work(m_context.get_executor()), m_pSink(sink), m_bForSockets(forSockets)
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
    if (m_bForSockets) {
        m_context.run();
    } else {
        RunWithoutPoller();
    }
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

void COrvEventThread::RunWithoutPoller()
{
    while (!m_context.stopped()) {
        uint32_t seen = m_nPosts.load();
        m_context.poll();
        if (m_context.stopped()) {
            return;
        }
        // Posters bump the word before they look for a sleeper, and the kernel compares it before
        // sleeping, so a post in between is never slept through.
        m_bAsleep.store(true);
        if (m_nPosts.load() == seen) {
            OrvWaitWord(m_nPosts, seen, UntilNextTimer());
        }
        m_bAsleep.store(false);
    }
}

std::chrono::microseconds COrvEventThread::UntilNextTimer() const
{
    auto now = asio::steady_timer::clock_type::now();
    std::chrono::microseconds sleep = kLongestSleep;
    for (const auto& state : m_timers) {
        if (state->m_timer) {
            auto left = std::chrono::duration_cast<std::chrono::microseconds>(state->m_timer->expiry() - now);
            sleep = std::min(sleep, std::max(left, kShortestSleep));
        }
    }
    return sleep;
}

template <typename Handler>
void COrvEventThread::Post(Handler&& handler)
{
    asio::post(m_context, std::forward<Handler>(handler));
    if (m_bForSockets) {
        return;
    }
    m_nPosts.fetch_add(1);
    if (m_bAsleep.load()) {
        OrvWakeWord(m_nPosts);
    }
}

int COrvEventThread::PostEvent(IOrvCustomizeEvent* event)
{
    std::lock_guard<std::mutex> lock(m_postMutex);
    if (event == nullptr || m_bStopping.load()) {
        return -1;
    }
    PostDeferredLocked();
    Post(PostedEvent(event));
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
        Post(DeferredBatch(std::move(m_deferred)));
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
    Post(std::move(task));
    return true;
}

void COrvEventThread::RunAndWait(std::function<void()> task, std::unique_lock<std::mutex>& lock)
{
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    Post([task = std::move(task), done] {
        task();
        done->set_value();
    });
    lock.unlock();
    finished.wait();
}

void COrvEventThread::Stop()
{
    {
        std::lock_guard<std::mutex> lock(m_postMutex);
        if (!m_bStopping.exchange(true)) {
            // Everything posted or deferred before this runs first: the loop is FIFO on one thread.
            PostDeferredLocked();
            Post([this] { m_context.stop(); });
        }
    }
    if (m_thread.joinable() && !IsCurrent()) {
        m_thread.join();
    }
}
