// What a scheduled timer shares with the handlers queued on its event thread.
#ifndef PELLAX_PLATFORM_ORV_TIMER_STATE_H
#define PELLAX_PLATFORM_ORV_TIMER_STATE_H

#include <asio/steady_timer.hpp>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>

class COrvEventThread;
class COrvTimer;
class IOrvTimerSink;

struct OrvTimerState {
    OrvTimerState(COrvEventThread* thread, asio::io_context& context) : m_pThread(thread) { m_timer.emplace(context); }

    // Runs on the owner thread: the asio timer must not outlive the loop it belongs to.
    void Dispose()
    {
        m_bCancelled.store(true);
        m_timer.reset();
    }

    COrvEventThread* m_pThread;      // owner; the state only dies on it
    std::optional<asio::steady_timer> m_timer;  // reset once disposed
    std::atomic<bool> m_bCancelled{false};
    std::mutex m_sinkMutex;          // held around each sink call; foreign cancels take it
    IOrvTimerSink* m_pSink = nullptr;
    COrvTimer* m_pOwner = nullptr;
    std::chrono::microseconds m_period{0};
    int m_nRemaining = -1;           // ticks left; -1 without limit
};

#endif
