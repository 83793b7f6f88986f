#include "platform/OrvServerSession.h"

#include <asio/post.hpp>
#include <new>
#include <vector>

#include "platform/OrvSocketIo.h"

namespace {
constexpr std::chrono::milliseconds kAcceptRetryDelay{100};

bool IsOutOfResources(const asio::error_code& error)
{
    return error == asio::error::no_descriptors || error == asio::error::no_buffer_space ||
           error == asio::error::no_memory;
}
}

int COrvServerSession::Open(IOrvServerSessionSink* sink, const COrvInetAddress& address)
{
    if (sink == nullptr || !address.IsValid()) {
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
    auto acceptor = std::make_unique<asio::ip::tcp::acceptor>(thread->GetContext());
    if (Listen(*acceptor, address) != 0) {
        acceptor.reset();
        COrvSessionManager::Get().Detach(this);
        return ORV_ERROR_ADDRESS;
    }
    m_pAcceptor = std::move(acceptor);
    m_pThread = thread;
    m_pSink = sink;
    m_state = State::kOpen;
    CRefPtr<COrvServerSession> self(this);
    asio::post(thread->GetContext(), [self] { self->StartAccept(); });
    return 0;
}

int COrvServerSession::Listen(asio::ip::tcp::acceptor& acceptor, const COrvInetAddress& address)
{
    asio::ip::tcp::endpoint endpoint(asio::ip::address_v4(address.GetRawAddress()), address.GetPort());
    asio::error_code error;
    acceptor.open(endpoint.protocol(), error);
    if (!error) {
        OrvPrepareListener(acceptor, error);
    }
    if (!error) {
        acceptor.bind(endpoint, error);
    }
    if (!error) {
        acceptor.listen(asio::socket_base::max_listen_connections, error);
    }
    if (!error) {
        m_nPort = acceptor.local_endpoint(error).port();
    }
    return error ? -1 : 0;
}

void COrvServerSession::StartAccept()
{
    if (m_bClosed) {
        return;
    }
    CRefPtr<COrvServerSession> self(this);
    m_pAcceptor->async_accept(m_pThread->GetContext(),
                              [self](const asio::error_code& error, asio::ip::tcp::socket socket) {
                                  self->OnAccepted(error, std::move(socket));
                              });
}

void COrvServerSession::OnAccepted(const asio::error_code& error, asio::ip::tcp::socket socket)
{
    if (m_bClosed) {
        return;
    }
    if (error && IsOutOfResources(error)) {
        RetryAcceptLater();
        return;
    }
    if (!error) {
        Join(std::move(socket));
    }
    StartAccept();
}

void COrvServerSession::RetryAcceptLater()
{
    if (!m_pRetryTimer) {
        m_pRetryTimer = std::make_unique<asio::steady_timer>(m_pThread->GetContext());
    }
    CRefPtr<COrvServerSession> self(this);
    m_pRetryTimer->expires_after(kAcceptRetryDelay);
    m_pRetryTimer->async_wait([self](const asio::error_code& error) {
        if (!error) {
            self->StartAccept();
        }
    });
}

void COrvServerSession::Join(asio::ip::tcp::socket socket)
{
    CRefPtr<COrvConnection> connection(new (std::nothrow) COrvConnection(m_pThread, std::move(socket), this));
    if (!connection) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_connections[connection.Get()] = connection;
    }
    CRefPtr<IOrvID> handle(connection.Get());
    m_pJoining = connection.Get();
    m_pSink->OnJoin(this, handle);
    m_pJoining = nullptr;
    if (connection->IsClosed()) {
        return;  // disconnected or closed from inside OnJoin
    }
    if (!connection->IsAccepted()) {
        connection->Close(0);
        return;
    }
    connection->Start();
}

int COrvServerSession::Accept(IOrvID* client, int)
{
    if (client == nullptr || !IsOnThread() || m_pJoining == nullptr || client != m_pJoining) {
        return ORV_ERROR_INVALID;
    }
    m_pJoining->SetAccepted();
    return 0;
}

int COrvServerSession::Send(IOrvID* client, COrvMessageBlock* frame)
{
    if (client == nullptr) {
        return ORV_ERROR_INVALID;
    }
    // The caller holds a reference to the handle, so it is alive; it must be one of ours.
    auto* connection = static_cast<COrvConnection*>(client);
    if (connection->GetOwner() != this) {
        return ORV_ERROR_INVALID;
    }
    return connection->Send(frame);
}

int COrvServerSession::Disconnect(IOrvID* client, uint32_t reason)
{
    // Looked up by address, never dereferenced first: the handle may have left already.
    std::unique_lock<std::mutex> lock(m_mutex);
    auto it = m_connections.find(client);
    if (m_state != State::kOpen || it == m_connections.end()) {
        return ORV_ERROR_CLOSED;
    }
    CRefPtr<COrvConnection> connection = it->second;
    if (!IsOnThread()) {
        // Posted under the lock: while the session is open its thread is alive.
        connection->CloseAfterDrainLater(reason);
        return 0;
    }
    lock.unlock();
    connection->CloseAfterDrain(reason);
    return 0;
}

int COrvServerSession::Close(uint32_t reason)
{
    CRefPtr<COrvServerSession> keep(this);
    bool onOwnThread = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        onOwnThread = m_state == State::kOpen && IsOnThread();
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

void COrvServerSession::StartClose(uint32_t reason)
{
    CRefPtr<COrvServerSession> keep(this);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_state == State::kIdle) {
        m_state = State::kClosed;
        m_closed.Signal();
    } else if (m_state == State::kOpen) {
        m_pThread->PostTask([keep, reason] { keep->CloseOnThread(reason); });
    }
}

void COrvServerSession::WaitClosed()
{
    // Each connection's drain is bounded by its linger; the margin covers a busy thread.
    COrvTimeValue bound(COrvConnection::kLinger.count() + 3, 0);
    m_closed.Wait(&bound);
}

void COrvServerSession::CloseOnThread(uint32_t reason)
{
    if (m_bClosed) {
        return;
    }
    CRefPtr<COrvServerSession> keep(this);
    m_bClosed = true;
    std::vector<CRefPtr<COrvConnection>> connections;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_state = State::kClosed;
        for (auto& entry : m_connections) {
            connections.push_back(entry.second);
        }
    }
    asio::error_code ignored;
    m_pAcceptor->close(ignored);
    m_pAcceptor.reset();
    m_pRetryTimer.reset();
    // The sink hears every leave now; the drains that follow belong to the transport alone.
    for (auto& connection : connections) {
        if (connection->IsAccepted() && m_pSink != nullptr) {
            m_pSink->OnLeave(this, connection.Get(), reason);
        }
    }
    m_pSink = nullptr;
    for (auto& connection : connections) {
        connection->CloseAfterDrain(reason);
    }
    FinishIfDrained();
}

// Event thread: once closed and the last connection is gone, the session leaves the register.
void COrvServerSession::FinishIfDrained()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_state != State::kClosed || !m_connections.empty()) {
            return;
        }
    }
    COrvSessionManager::Get().Detach(this);
    m_closed.Signal();
}

void COrvServerSession::OnConnectionReceive(COrvConnection* connection, COrvMessageBlock* frame)
{
    CRefPtr<COrvServerSession> keep(this);  // the sink may close and release the session meanwhile
    m_pSink->OnReceive(this, connection, frame);
}

void COrvServerSession::OnConnectionCanSendAgain(COrvConnection* connection)
{
    CRefPtr<COrvServerSession> keep(this);
    m_pSink->OnCanSendAgain(this, connection, 0);
}

void COrvServerSession::OnConnectionClosed(COrvConnection* connection, uint32_t reason)
{
    CRefPtr<COrvServerSession> keep(this);
    CRefPtr<COrvConnection> entry;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_connections.find(connection);
        if (it != m_connections.end()) {
            entry = std::move(it->second);
            m_connections.erase(it);
        }
    }
    if (connection->IsAccepted() && m_pSink != nullptr) {
        m_pSink->OnLeave(this, connection, reason);
    }
    if (m_bClosed) {
        FinishIfDrained();
    }
}
