// A listening session: accepts TCP connections and carries frames on each, all on one pool thread.
//
// The thread is picked at Open. Accepting, reading, closing and every sink callback run there; Send
// and Disconnect may come from any thread, Close too. Close shuts the listener at once and lets each
// connection write out what it had accepted (COrvConnection::CloseAfterDrain); from a host thread it
// returns once the port is free and every connection is closed.
// A new connection is offered to the sink in OnJoin and kept only if the sink calls Accept then.
#ifndef PELLAX_PLATFORM_ORV_SERVER_SESSION_H
#define PELLAX_PLATFORM_ORV_SERVER_SESSION_H

#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <atomic>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/OrvConnection.h"
#include "platform/OrvLockEvent.h"
#include "platform/OrvSessionManager.h"

class COrvServerSession final : public COrvReferenceControlT<COrvLockMutex>,
                                public IOrvServerSession,
                                private IOrvConnectionOwner,
                                private IOrvClosableSession {
public:
    uint32_t AddReference() override { return COrvReferenceControlT::AddReference(); }
    uint32_t RemoveReference() override { return COrvReferenceControlT::RemoveReference(); }

    int Open(IOrvServerSessionSink* sink, const COrvInetAddress& address) override;
    int Close(uint32_t reason) override;
    void StartClose(uint32_t reason) override;
    void WaitClosed() override;
    int Send(IOrvID* client, COrvMessageBlock* frame) override;
    int Accept(IOrvID* client, int flags) override;
    int Disconnect(IOrvID* client, uint32_t reason) override;
    uint16_t GetListenPort() override { return m_nPort.load(); }

private:
    enum class State { kIdle, kOpen, kClosed };

    int Listen(asio::ip::tcp::acceptor& acceptor, const COrvInetAddress& address);
    void StartAccept();
    void OnAccepted(const asio::error_code& error, asio::ip::tcp::socket socket);
    void RetryAcceptLater();
    void Join(asio::ip::tcp::socket socket);
    void CloseOnThread(uint32_t reason);
    void FinishIfDrained();
    bool IsOnThread() const { return COrvEventThread::Current() == m_pThread; }

    void OnConnectionReceive(COrvConnection* connection, COrvMessageBlock* frame) override;
    void OnConnectionCanSendAgain(COrvConnection* connection) override;
    void OnConnectionClosed(COrvConnection* connection, uint32_t reason) override;

    std::mutex m_mutex;                                                  // guards m_state and m_connections
    State m_state = State::kIdle;
    std::unordered_map<IOrvID*, CRefPtr<COrvConnection>> m_connections;  // joining and accepted ones
    COrvEventThread* m_pThread = nullptr;                                // set once by Open
    std::atomic<uint16_t> m_nPort{0};
    COrvLockEvent m_closed{1, 0};  // set once closed with every connection gone

    // Event thread only, from Open on.
    IOrvServerSessionSink* m_pSink = nullptr;
    std::unique_ptr<asio::ip::tcp::acceptor> m_pAcceptor;
    std::unique_ptr<asio::steady_timer> m_pRetryTimer;  // pauses accepting while descriptors run out
    COrvConnection* m_pJoining = nullptr;               // the connection whose OnJoin runs
    bool m_bClosed = false;
};

#endif
