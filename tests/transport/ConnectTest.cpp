#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>

#include "transport/TransportSinks.h"

using namespace transport_test;
using pellax_test::CRawSocket;

namespace {

class ConnectTest : public TransportTest {
protected:
    // A listener that never accepts, its one-place queue taken: further connects get no answer.
    uint16_t FullListener()
    {
        uint16_t port = 0;
        m_listener = CRawSocket::Listen(0, &port);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        for (int i = 0; i < 4; ++i) {
            CRawSocket filler(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
            ::connect(filler.GetFd(), reinterpret_cast<sockaddr*>(&address), sizeof(address));
            m_fillers.push_back(std::move(filler));
        }
        return port;
    }

    CRawSocket m_listener;
    std::vector<CRawSocket> m_fillers;
};

TEST_F(ConnectTest, AConnectToAClosedPortEndsInOneRefusedJoinAndABadConnectInNone)
{
    uint16_t port = 0;
    {
        CRawSocket listener = CRawSocket::Listen(1, &port);
        ASSERT_TRUE(listener.IsValid());
    }
    CClientSink& sink = ClientSink();
    auto client = Connect(sink, port);
    ASSERT_TRUE(sink.WaitCount(Kind::kJoin, 1));
    EXPECT_EQ(ORV_JOIN_REFUSED, sink.Of(Kind::kJoin)[0].value);
    EXPECT_NE(0, client->Send(0, Block({1}).Get()));
    EXPECT_EQ(0, client->Close(0));
    EXPECT_EQ(1u, sink.Events().size());
    EXPECT_TRUE(sink.Faults().empty());

    CRefPtr<IOrvClientSession> other;
    ASSERT_EQ(0, IOrvSessionManager::Instance()->CreateClientSession(ORV_SESSION_TYPE_TCP, other));
    CClientSink& otherSink = ClientSink();
    EXPECT_NE(0, other->Connect(nullptr, COrvInetAddress("127.0.0.1", 1), COrvTimeValue(1, 0), nullptr));
    EXPECT_NE(0, other->Connect(&otherSink, COrvInetAddress("localhost", 1), COrvTimeValue(1, 0), nullptr));
    EXPECT_EQ(0u, otherSink.Events().size());
}

TEST_F(ConnectTest, AConnectNobodyAnswersEndsInOneTimedOutJoin)
{
    uint16_t port = FullListener();
    CClientSink& sink = ClientSink();
    auto client = Connect(sink, port, 1);
    ASSERT_TRUE(sink.WaitCount(Kind::kJoin, 1));
    if (sink.Of(Kind::kJoin)[0].value == 0) {
        GTEST_SKIP() << "the kernel completed the connect despite the full queue";
    }
    EXPECT_EQ(ORV_JOIN_TIMED_OUT, sink.Of(Kind::kJoin)[0].value);
    EXPECT_EQ(1u, sink.Events().size());
}

TEST_F(ConnectTest, CloseDuringAConnectEndsItWithOneClosedJoinBeforeReturning)
{
    uint16_t port = FullListener();
    CClientSink& sink = ClientSink();
    auto client = Connect(sink, port, 30);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (sink.Count(Kind::kJoin) != 0) {
        GTEST_SKIP() << "the kernel completed the connect despite the full queue";
    }
    EXPECT_EQ(0, client->Close(0));
    ASSERT_EQ(1u, sink.Count(Kind::kJoin));
    EXPECT_EQ(ORV_JOIN_CLOSED, sink.Of(Kind::kJoin)[0].value);
}

}  // namespace
