// A connecting session: one outgoing TCP connection carrying frames, on one pool thread.
//
// Connect picks the thread (round robin over the pool) and returns at once; the outcome arrives as
// exactly one OnJoin there. After a successful join exactly one OnLeave ends the connection. A session
// connects once; Close, a failed join or the connection's end finish it. Close delivers the leave at
// once and lets the connection write out what it had accepted (COrvConnection::CloseAfterDrain);
// from a host thread it returns once the socket is closed.
#ifndef PELLAX_PLATFORM_ORV_CLIENT_SESSION_H
#define PELLAX_PLATFORM_ORV_CLIENT_SESSION_H

#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <atomic>
#include <memory>
#include <mutex>

#include "platform/OrvConnection.h"
#include "platform/OrvLockEvent.h"
#include "platform/OrvSessionManager.h"

class COrvClientSession final : public COrvReferenceControlT<COrvLockMutex>,
                                public IOrvClientSession,
                                private IOrvConnectionOwner,
                                private IOrvClosableSession {
public:
    uint32_t AddReference() override { return COrvReferenceControlT::AddReference(); }
    uint32_t RemoveReference() override { return COrvReferenceControlT::RemoveReference(); }

    int Connect(IOrvClientSessionSink* sink, const COrvInetAddress& remote, const COrvTimeValue& timeout,
                const COrvInetAddress* local) override;
    int Close(uint32_t reason) override;
    void StartClose(uint32_t reason) override;
    void WaitClosed() override;
    int Send(int flags, COrvMessageBlock* frame) override;
    int SendSplit(COrvMessageBlock* head, const void* body, size_t length) override;

private:
    enum class State { kIdle, kConnecting, kJoined, kClosed };

    void StartConnect(const asio::ip::tcp::endpoint& remote, const asio::ip::tcp::endpoint* local, int64_t timeoutMs);
    void OnConnected(const asio::error_code& error);
    void FailJoin(uint32_t result);
    void CloseOnThread(uint32_t reason);
    void Finish();
    bool IsOnThread() const { return COrvEventThread::Current() == m_pThread; }

    void OnConnectionReceive(COrvConnection* connection, COrvMessageBlock* frame) override;
    void OnConnectionCanSendAgain(COrvConnection* connection) override;
    void OnConnectionClosed(COrvConnection* connection, uint32_t reason) override;

    std::mutex m_mutex;                    // guards m_state
    State m_state = State::kIdle;
    // Set once joined (event thread) and kept until this session goes, so a sender holding the
    // session reads the connection without a lock or a reference of its own.
    CRefPtr<COrvConnection> m_connection;
    std::atomic<COrvConnection*> m_pJoined{nullptr};
    COrvEventThread* m_pThread = nullptr;  // set once by Connect
    COrvLockEvent m_finished{1, 0};        // set once the session is finished and its socket closed

    // Event thread only, from Connect on.
    IOrvClientSessionSink* m_pSink = nullptr;
    std::unique_ptr<asio::ip::tcp::socket> m_pConnecting;  // the socket until the join
    std::unique_ptr<asio::steady_timer> m_pTimer;          // the connect time-out
    bool m_bJoinDone = false;                              // OnJoin delivered
    bool m_bClosed = false;
};

#endif
