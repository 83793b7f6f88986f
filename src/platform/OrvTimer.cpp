#include "platform/OrvTimer.h"

#include "platform/OrvEventThread.h"
#include "platform/OrvTimerState.h"

namespace {
void Arm(const std::shared_ptr<OrvTimerState>& state);
void Dispose(const std::shared_ptr<OrvTimerState>& state);

// From a thread other than the owner: wait for a tick in progress, then silence every later one.
void CancelFromElsewhere(const std::shared_ptr<OrvTimerState>& state)
{
    {
        std::lock_guard<std::mutex> lock(state->m_sinkMutex);
        state->m_bCancelled.store(true);
    }
    // If the thread is already stopping, its end-of-loop sweep disposes of the state instead.
    state->m_pThread->PostTask([state] { Dispose(state); });
}

void OnExpiry(const std::shared_ptr<OrvTimerState>& state, const asio::error_code& error)
{
    if (error) {
        return;
    }
    {
        // A foreign thread deleting the timer waits here, so the sink is never called once it is gone.
        std::lock_guard<std::mutex> lock(state->m_sinkMutex);
        if (state->m_bCancelled.load()) {
            return;
        }
        if (state->m_nRemaining > 0) {
            --state->m_nRemaining;
        }
        state->m_pSink->OnTimer(state->m_pOwner);
    }
    // A tick bounds how long deferred events wait when nothing else wakes the thread.
    state->m_pThread->PostDeferred();
    if (state->m_bCancelled.load()) {
        return;
    }
    if (state->m_nRemaining == 0) {
        // Spent: nothing is left for a later Cancel or destructor to reach through the thread.
        Dispose(state);
        return;
    }
    // Keep the rhythm, but after a stall start a fresh period: a late tick followed at once by the
    // on-time one would send two keepalives back to back.
    auto next = state->m_timer->expiry() + state->m_period;
    auto now = asio::steady_timer::clock_type::now();
    state->m_timer->expires_at(next - now >= state->m_period / 2 ? next : now + state->m_period);
    Arm(state);
}

void Arm(const std::shared_ptr<OrvTimerState>& state)
{
    state->m_timer->async_wait([state](const asio::error_code& error) { OnExpiry(state, error); });
}

void Dispose(const std::shared_ptr<OrvTimerState>& state)
{
    state->Dispose();
    state->m_pThread->GetTimers().erase(state);
}
}

COrvTimer::~COrvTimer()
{
    if (!m_pState || m_pState->m_bCancelled.load()) {
        return;
    }
    if (m_pState->m_pThread->IsCurrent()) {
        Dispose(m_pState);
        return;
    }
    CancelFromElsewhere(m_pState);
}

int COrvTimer::Schedule(IOrvTimerSink* sink, const COrvTimeValue& period, const COrvTimeValue& delay, int count)
{
    COrvEventThread* thread = COrvEventThread::Current();
    if (thread == nullptr || sink == nullptr || count == 0) {
        return -1;
    }
    if (m_pState) {
        Cancel();
    }
    auto state = std::make_shared<OrvTimerState>(thread, thread->GetContext());
    state->m_pSink = sink;
    state->m_pOwner = this;
    state->m_period = std::chrono::microseconds(period.GetTotalMicroseconds());
    state->m_nRemaining = count;
    state->m_timer->expires_after(std::chrono::microseconds(delay.GetTotalMicroseconds()));
    thread->GetTimers().insert(state);
    m_pState = state;
    Arm(state);
    return 0;
}

int COrvTimer::Cancel()
{
    if (!m_pState) {
        return -1;
    }
    std::shared_ptr<OrvTimerState> state = std::move(m_pState);
    if (state->m_bCancelled.load()) {
        return 0;
    }
    if (state->m_pThread->IsCurrent()) {
        Dispose(state);
        return 0;
    }
    CancelFromElsewhere(state);
    return 0;
}
