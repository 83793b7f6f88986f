// Sinks that record what the transport tells them, for the transport tests.
#ifndef PELLAX_TESTS_TRANSPORT_SINKS_H
#define PELLAX_TESTS_TRANSPORT_SINKS_H

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/OrvSession.h"
#include "support/RawSocket.h"

namespace transport_test {

enum class Kind { kJoin, kReceive, kLeave, kCanSendAgain };

struct Event {
    Kind kind;
    uint32_t id;     // connection id (server side)
    uint32_t value;  // join result, leave reason
    std::vector<uint8_t> bytes;
    std::thread::id thread = std::this_thread::get_id();
};

inline CRefPtr<COrvMessageBlock> Block(const std::vector<uint8_t>& bytes)
{
    return COrvMessageBlock::Create(bytes.data(), bytes.size());
}

inline std::vector<uint8_t> Bytes(COrvMessageBlock* frame)
{
    return {frame->GetReadPtr(), frame->GetReadPtr() + frame->GetLength()};
}

// Events in order, and the protocol faults seen (a callback out of turn).
class CEventLog {
public:
    void Add(Event event)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back(std::move(event));
    }
    void Fault(const char* what)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_faults.push_back(what);
    }
    std::vector<Event> Events() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }
    std::vector<Event> Of(Kind kind) const
    {
        std::vector<Event> selected;
        for (auto& event : Events()) {
            if (event.kind == kind) {
                selected.push_back(event);
            }
        }
        return selected;
    }
    size_t Count(Kind kind) const { return Of(kind).size(); }
    bool WaitCount(Kind kind, size_t n, std::chrono::milliseconds limit = pellax_test::kRawSocketWait) const
    {
        return pellax_test::PollUntil([&] { return Count(kind) >= n; }, limit);
    }
    size_t ThreadCount() const
    {
        std::set<std::thread::id> threads;
        for (auto& event : Events()) {
            threads.insert(event.thread);
        }
        return threads.size();
    }
    std::vector<std::string> Faults() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_faults;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Event> m_events;
    std::vector<std::string> m_faults;
};

class CServerSink : public IOrvServerSessionSink, public CEventLog {
public:
    void OnJoin(IOrvServerSession* server, CRefPtr<IOrvID>& client) override
    {
        Add({Kind::kJoin, client->GetID(), 0, {}});
        if (m_bAccept && server->Accept(client.Get(), 0) == 0) {
            std::lock_guard<std::mutex> lock(m_clientsMutex);
            m_clients[client->GetID()] = client;
        }
    }
    void OnLeave(IOrvServerSession*, IOrvID* client, uint32_t reason) override
    {
        Add({Kind::kLeave, client->GetID(), reason, {}});
        std::lock_guard<std::mutex> lock(m_clientsMutex);
        if (m_clients.erase(client->GetID()) != 1) {
            Fault("leave of a connection that was not accepted, or a second leave");
        }
    }
    void OnReceive(IOrvServerSession* server, IOrvID* client, COrvMessageBlock* frame) override
    {
        Add({Kind::kReceive, client->GetID(), 0, Bytes(frame)});
        CheckLive(client->GetID());
        if (m_onReceive) {
            m_onReceive(server, client, frame);
        }
    }
    void OnCanSendAgain(IOrvServerSession*, IOrvID* client, uint32_t value) override
    {
        Add({Kind::kCanSendAgain, client->GetID(), value, {}});
        CheckLive(client->GetID());
    }

    // Accepted connections that have not left yet.
    std::vector<CRefPtr<IOrvID>> Clients()
    {
        std::lock_guard<std::mutex> lock(m_clientsMutex);
        std::vector<CRefPtr<IOrvID>> all;
        for (auto& entry : m_clients) {
            all.push_back(entry.second);
        }
        return all;
    }

    std::atomic<bool> m_bAccept{true};
    std::function<void(IOrvServerSession*, IOrvID*, COrvMessageBlock*)> m_onReceive;

private:
    void CheckLive(uint32_t id)
    {
        std::lock_guard<std::mutex> lock(m_clientsMutex);
        if (m_clients.count(id) == 0) {
            Fault("callback for a connection that is not joined");
        }
    }

    std::mutex m_clientsMutex;
    std::map<uint32_t, CRefPtr<IOrvID>> m_clients;
};

class CClientSink : public IOrvClientSessionSink, public CEventLog {
public:
    void OnJoin(IOrvClientSession*, uint32_t result) override
    {
        if (m_nJoins++ != 0) {
            Fault("second join");
        }
        m_bJoined = result == 0;
        Add({Kind::kJoin, 0, result, {}});
    }
    void OnLeave(IOrvClientSession*, uint32_t reason) override
    {
        if (!m_bJoined || m_bLeft) {
            Fault("leave without a join, or a second leave");
        }
        m_bLeft = true;
        Add({Kind::kLeave, 0, reason, {}});
    }
    void OnReceive(IOrvClientSession*, COrvMessageBlock* frame) override
    {
        if (!m_bJoined || m_bLeft) {
            Fault("receive outside the join");
        }
        Add({Kind::kReceive, 0, 0, Bytes(frame)});
    }
    void OnCanSendAgain(IOrvClientSession*, uint32_t value) override { Add({Kind::kCanSendAgain, 0, value, {}}); }

private:
    std::atomic<int> m_nJoins{0};
    std::atomic<bool> m_bJoined{false};
    std::atomic<bool> m_bLeft{false};
};

// Starts the transport for each test and stops it after, so every test begins with a fresh pool.
// Sinks come from the fixture: they must outlive the sessions, which the stop at TearDown closes.
class TransportTest : public ::testing::Test {
protected:
    CServerSink& ServerSink() { return *m_serverSinks.emplace_back(std::make_unique<CServerSink>()); }
    CClientSink& ClientSink() { return *m_clientSinks.emplace_back(std::make_unique<CClientSink>()); }

    void SetUp() override { ASSERT_EQ(0, InitializeSessionEx(0, 10)); }
    void TearDown() override { EXPECT_EQ(0, UnInitializeSession()); }

    CRefPtr<IOrvServerSession> OpenServer(CServerSink& sink)
    {
        CRefPtr<IOrvServerSession> server;
        EXPECT_EQ(0, IOrvSessionManager::Instance()->CreateServerSession(ORV_SESSION_TYPE_TCP, server));
        if (!server || server->Open(&sink, COrvInetAddress("127.0.0.1", 0)) != 0) {
            ADD_FAILURE() << "server session did not open";
            return {};
        }
        return server;
    }

    CRefPtr<IOrvClientSession> Connect(CClientSink& sink, uint16_t port, int64_t timeoutSeconds = 10)
    {
        CRefPtr<IOrvClientSession> client;
        EXPECT_EQ(0, IOrvSessionManager::Instance()->CreateClientSession(ORV_SESSION_TYPE_TCP_ALT, client));
        if (!client || client->Connect(&sink, COrvInetAddress("127.0.0.1", port), COrvTimeValue(timeoutSeconds, 0),
                                       nullptr) != 0) {
            ADD_FAILURE() << "client session did not start connecting";
            return {};
        }
        return client;
    }

    // A server session with clients connected to it and joined on both sides.
    CRefPtr<IOrvServerSession> OpenWithClients(CServerSink& serverSink, std::vector<CClientSink*>* sinks,
                                               std::vector<CRefPtr<IOrvClientSession>>* clients, size_t count)
    {
        CRefPtr<IOrvServerSession> server = OpenServer(serverSink);
        for (size_t i = 0; server && i < count; ++i) {
            sinks->push_back(&ClientSink());
            clients->push_back(Connect(*sinks->back(), server->GetListenPort()));
        }
        EXPECT_TRUE(serverSink.WaitCount(Kind::kJoin, count));
        for (auto* sink : *sinks) {
            EXPECT_TRUE(sink->WaitCount(Kind::kJoin, 1));
        }
        return server;
    }

private:
    std::deque<std::unique_ptr<CServerSink>> m_serverSinks;
    std::deque<std::unique_ptr<CClientSink>> m_clientSinks;
};

}  // namespace transport_test

#endif
