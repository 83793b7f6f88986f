#include "platform/OrvClientSession.h"

#include <asio/connect.hpp>
#include <asio/post.hpp>
#include <new>
#include <optional>

namespace {
asio::ip::tcp::endpoint ToEndpoint(const COrvInetAddress& address)
{
    return {asio::ip::address_v4(address.GetRawAddress()), address.GetPort()};
}

uint32_t JoinFailure(const asio::error_code& error)
{
    if (error == asio::error::connection_refused) {
        return ORV_JOIN_REFUSED;
    }
    if (error == asio::error::network_unreachable || error == asio::error::host_unreachable) {
        return ORV_JOIN_UNREACHABLE;
    }
    if (error == asio::error::timed_out) {
        return ORV_JOIN_TIMED_OUT;
    }
    return ORV_JOIN_FAILED;
}
}

int COrvClientSession::Connect(IOrvClientSessionSink* sink, const COrvInetAddress& remote,
                               const COrvTimeValue& timeout, const COrvInetAddress* local)
{
    if (sink == nullptr || !remote.IsValid() || (local != nullptr && !local->IsValid())) {
        return ORV_ERROR_INVALID;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_state != State::kIdle) {
        return ORV_ERROR_INVALID;
    }
    COrvEventThread* thread = COrvSessionManager::Get().Attach(this, this);
    if (thread == nullptr) {
        return ORV_ERROR_NOT_STARTED;
    }
    m_pThread = thread;
    m_pSink = sink;
    m_state = State::kConnecting;
    CRefPtr<COrvClientSession> self(this);
    std::optional<asio::ip::tcp::endpoint> from;
    if (local != nullptr) {
        from = ToEndpoint(*local);
    }
    asio::post(thread->GetContext(), [self, to = ToEndpoint(remote), from, ms = timeout.GetTotalMilliseconds()] {
        self->StartConnect(to, from ? &*from : nullptr, ms);
    });
    return 0;
}

void COrvClientSession::StartConnect(const asio::ip::tcp::endpoint& remote, const asio::ip::tcp::endpoint* local,
                                     int64_t timeoutMs)
{
    if (m_bClosed) {
        return;
    }
    m_pConnecting = std::make_unique<asio::ip::tcp::socket>(m_pThread->GetContext());
    asio::error_code error;
    m_pConnecting->open(remote.protocol(), error);
    if (!error && local != nullptr) {
        m_pConnecting->set_option(asio::socket_base::reuse_address(true), error);
        m_pConnecting->bind(*local, error);
    }
    if (error) {
        FailJoin(ORV_JOIN_FAILED);
        return;
    }
    CRefPtr<COrvClientSession> self(this);
    if (timeoutMs > 0) {
        m_pTimer = std::make_unique<asio::steady_timer>(m_pThread->GetContext());
        m_pTimer->expires_after(std::chrono::milliseconds(timeoutMs));
        m_pTimer->async_wait([self](const asio::error_code& expired) {
            if (!expired && !self->m_bJoinDone) {
                self->FailJoin(ORV_JOIN_TIMED_OUT);
            }
        });
    }
    m_pConnecting->async_connect(remote, [self](const asio::error_code& result) { self->OnConnected(result); });
}

void COrvClientSession::OnConnected(const asio::error_code& error)
{
    if (m_bJoinDone) {
        return;  // timed out or closed first
    }
    if (error) {
        FailJoin(JoinFailure(error));
        return;
    }
    m_pTimer.reset();
    CRefPtr<COrvConnection> connection(new (std::nothrow) COrvConnection(m_pThread, std::move(*m_pConnecting), this));
    m_pConnecting.reset();
    if (!connection) {
        FailJoin(ORV_JOIN_FAILED);
        return;
    }
    connection->SetAccepted();
    m_connection = connection;
    m_pJoined.store(connection.Get(), std::memory_order_release);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_state = State::kJoined;
    }
    m_bJoinDone = true;
    m_pSink->OnJoin(this, 0);
    if (!connection->IsClosed()) {
        connection->Start();
    }
}

void COrvClientSession::FailJoin(uint32_t result)
{
    CRefPtr<COrvClientSession> keep(this);
    IOrvClientSessionSink* sink = m_pSink;
    m_bJoinDone = true;
    Finish();
    sink->OnJoin(this, result);
    // Only now: a host waiting in Close may release the sink as soon as it wakes.
    m_finished.Signal();
}

int COrvClientSession::Close(uint32_t reason)
{
    CRefPtr<COrvClientSession> keep(this);
    bool onOwnThread = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        onOwnThread = (m_state == State::kConnecting || m_state == State::kJoined) && IsOnThread();
    }
    if (onOwnThread) {
        CloseOnThread(reason);
        return 0;
    }
    StartClose(reason);
    // Another library thread must not wait for this one, which may be waiting for it.
    if (COrvEventThread::Current() == nullptr) {
        WaitClosed();
    }
    return 0;
}

void COrvClientSession::StartClose(uint32_t reason)
{
    CRefPtr<COrvClientSession> keep(this);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_state == State::kIdle || m_state == State::kClosed) {
        // Finished already (its thread may be gone with the transport): nothing left to wait for.
        m_state = State::kClosed;
        m_finished.Signal();
        return;
    }
    m_pThread->PostTask([keep, reason] { keep->CloseOnThread(reason); });
}

void COrvClientSession::WaitClosed()
{
    // The drain is bounded by the connection's linger; the margin covers a busy thread.
    COrvTimeValue bound(COrvConnection::kLinger.count() + 3, 0);
    m_finished.Wait(&bound);
}

void COrvClientSession::CloseOnThread(uint32_t reason)
{
    if (m_bClosed) {
        return;
    }
    if (!m_bJoinDone) {
        FailJoin(ORV_JOIN_CLOSED);
        return;
    }
    CRefPtr<COrvClientSession> keep(this);
    CRefPtr<COrvConnection> connection = m_connection;
    // The sink hears the leave now; the drain that follows belongs to the transport alone.
    IOrvClientSessionSink* sink = m_pSink;
    m_pSink = nullptr;
    m_bClosed = true;
    if (sink != nullptr) {
        sink->OnLeave(this, reason);
    }
    connection->CloseAfterDrain(reason);  // its OnConnectionClosed finishes the session
}

void COrvClientSession::Finish()
{
    CRefPtr<COrvClientSession> keep(this);
    m_bClosed = true;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_state = State::kClosed;
    }
    m_pSink = nullptr;
    m_pTimer.reset();
    m_pConnecting.reset();
    COrvSessionManager::Get().Detach(this);
}

int COrvClientSession::Send(int, COrvMessageBlock* frame)
{
    // A closed connection refuses the frame itself.
    COrvConnection* connection = m_pJoined.load(std::memory_order_acquire);
    return connection != nullptr ? connection->Send(frame) : ORV_ERROR_CLOSED;
}

int COrvClientSession::SendSplit(COrvMessageBlock* head, const void* body, size_t length)
{
    COrvConnection* connection = m_pJoined.load(std::memory_order_acquire);
    return connection != nullptr ? connection->SendSplit(head, body, length) : ORV_ERROR_CLOSED;
}

void COrvClientSession::OnConnectionReceive(COrvConnection*, COrvMessageBlock* frame)
{
    CRefPtr<COrvClientSession> keep(this);
    m_pSink->OnReceive(this, frame);
}

void COrvClientSession::OnConnectionCanSendAgain(COrvConnection*)
{
    CRefPtr<COrvClientSession> keep(this);
    m_pSink->OnCanSendAgain(this, 0);
}

void COrvClientSession::OnConnectionClosed(COrvConnection*, uint32_t reason)
{
    CRefPtr<COrvClientSession> keep(this);
    IOrvClientSessionSink* sink = m_pSink;
    Finish();
    if (sink != nullptr) {
        sink->OnLeave(this, reason);
    }
    m_finished.Signal();
}
