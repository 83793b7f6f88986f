#include <gtest/gtest.h>

#include <thread>

#include "transport/TransportSinks.h"

using namespace transport_test;
using pellax_test::PatternBytes;

namespace {

class SessionTest : public TransportTest {
protected:
    CServerSink& m_serverSink = ServerSink();
    std::vector<CClientSink*> m_sinks;
    std::vector<CRefPtr<IOrvClientSession>> m_clients;
};

TEST_F(SessionTest, FramesTravelBothWaysInOrderAndEveryJoinEndsInOneLeave)
{
    m_serverSink.m_onReceive = [](IOrvServerSession* server, IOrvID* client, COrvMessageBlock* frame) {
        EXPECT_EQ(0, server->Send(client, frame));  // echo from inside the callback
    };
    auto server = OpenWithClients(m_serverSink, &m_sinks, &m_clients, 1);
    ASSERT_TRUE(server && !HasFailure());
    CClientSink& clientSink = *m_sinks[0];
    ASSERT_EQ(0u, clientSink.Of(Kind::kJoin)[0].value);

    constexpr int kFrames = 200;
    for (int i = 0; i < kFrames; ++i) {
        ASSERT_EQ(0, m_clients[0]->Send(0, Block(PatternBytes(1 + i * 37, i)).Get()));
    }
    ASSERT_TRUE(clientSink.WaitCount(Kind::kReceive, kFrames));
    auto echoed = clientSink.Of(Kind::kReceive);
    for (int i = 0; i < kFrames; ++i) {
        ASSERT_EQ(PatternBytes(1 + i * 37, i), echoed[i].bytes) << "frame " << i;
    }

    EXPECT_EQ(0, m_clients[0]->Close(0));
    EXPECT_EQ(1u, clientSink.Count(Kind::kLeave)) << "the client's leave comes before Close returns";
    ASSERT_TRUE(m_serverSink.WaitCount(Kind::kLeave, 1));
    EXPECT_EQ(ORV_REASON_PEER_CLOSED, m_serverSink.Of(Kind::kLeave)[0].value);

    auto events = m_serverSink.Events();
    EXPECT_EQ(Kind::kJoin, events.front().kind);
    EXPECT_EQ(Kind::kLeave, events.back().kind);
    EXPECT_EQ(1u, m_serverSink.ThreadCount()) << "one server session calls back on one thread";
    EXPECT_EQ(1u, clientSink.ThreadCount());
    EXPECT_TRUE(m_serverSink.Faults().empty());
    EXPECT_TRUE(clientSink.Faults().empty());
    EXPECT_EQ(0, server->Close(0));
}

TEST_F(SessionTest, CloseFromAnotherThreadDeliversEveryLeaveBeforeItReturnsAndNothingAfter)
{
    auto server = OpenWithClients(m_serverSink, &m_sinks, &m_clients, 3);
    ASSERT_TRUE(server && !HasFailure());

    ASSERT_EQ(0, server->Close(77));
    auto leaves = m_serverSink.Of(Kind::kLeave);
    ASSERT_EQ(3u, leaves.size());
    for (const auto& leave : leaves) {
        EXPECT_EQ(77u, leave.value);
    }
    size_t before = m_serverSink.Events().size();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(m_sinks[i]->WaitCount(Kind::kLeave, 1));
        EXPECT_NE(0, m_clients[i]->Send(0, Block({1, 2, 3}).Get()));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(before, m_serverSink.Events().size()) << "no callback after Close returned";
    EXPECT_TRUE(m_serverSink.Faults().empty());
}

TEST_F(SessionTest, AJoinTheSinkDoesNotAcceptIsClosedWithoutALeave)
{
    m_serverSink.m_bAccept = false;
    auto server = OpenServer(m_serverSink);
    ASSERT_TRUE(server);
    CClientSink& clientSink = ClientSink();
    auto client = Connect(clientSink, server->GetListenPort());
    ASSERT_TRUE(clientSink.WaitCount(Kind::kLeave, 1));
    EXPECT_EQ(1u, m_serverSink.Count(Kind::kJoin));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(0u, m_serverSink.Count(Kind::kLeave));
    EXPECT_EQ(0u, m_serverSink.Count(Kind::kReceive));
}

TEST_F(SessionTest, OpenRefusesAPortInUseAndAnAddressThatIsNotIPv4)
{
    auto server = OpenServer(m_serverSink);
    ASSERT_TRUE(server);
    ASSERT_NE(0, server->GetListenPort());
    CServerSink& second = ServerSink();
    CRefPtr<IOrvServerSession> other;
    ASSERT_EQ(0, IOrvSessionManager::Instance()->CreateServerSession(ORV_SESSION_TYPE_TCP, other));
    EXPECT_NE(0, other->Open(&second, COrvInetAddress("127.0.0.1", server->GetListenPort())));
    EXPECT_NE(0, other->Open(&second, COrvInetAddress("::1", 0)));
    EXPECT_NE(0, other->Open(nullptr, COrvInetAddress("127.0.0.1", 0)));
    EXPECT_EQ(0, other->Open(&second, COrvInetAddress("127.0.0.1", 0))) << "a failed Open leaves it reusable";
    EXPECT_NE(0, other->Open(&second, COrvInetAddress("127.0.0.1", 0))) << "but opens only once";
    CRefPtr<IOrvServerSession> unknown;
    EXPECT_NE(0, IOrvSessionManager::Instance()->CreateServerSession(0x12345, unknown));
}

}  // namespace
