#include <gtest/gtest.h>

#include <sys/resource.h>

#include "transport/TransportSinks.h"

using namespace transport_test;
using pellax_test::CRawSocket;
using pellax_test::PatternBytes;

namespace {

class FlowControlTest : public TransportTest {};

TEST_F(FlowControlTest, AFullQueueRefusesWholeFramesAndDrainingBringsCanSendAgain)
{
    CServerSink& sink = ServerSink();
    auto server = OpenServer(sink);
    ASSERT_TRUE(server);
    CRawSocket peer = CRawSocket::Connect(server->GetListenPort());
    ASSERT_TRUE(peer.IsValid());
    ASSERT_TRUE(sink.WaitCount(Kind::kJoin, 1));
    CRefPtr<IOrvID> client = sink.Client();

    // The peer reads nothing, so the queue fills up to the high-water mark and refuses then.
    auto body = PatternBytes(64 * 1024, 5);
    size_t accepted = 0;
    int refused = 0;
    for (int i = 0; i < 2000 && refused == 0; ++i) {
        refused = server->Send(client.Get(), Block(body).Get());
        accepted += refused == 0 ? 1 : 0;
    }
    ASSERT_NE(0, refused);
    EXPECT_GT(accepted * body.size(), 8u * 1024u * 1024u);
    EXPECT_NE(0, server->Send(client.Get(), Block({1}).Get())) << "refuses until drained";
    EXPECT_EQ(0u, sink.Count(Kind::kCanSendAgain));

    // Draining: every accepted frame arrives whole, and the sink hears that it may send again.
    std::vector<uint8_t> received;
    for (size_t i = 0; i < accepted; ++i) {
        ASSERT_TRUE(peer.ReadMessage(&received)) << "frame " << i;
        ASSERT_EQ(body.size(), received.size());
    }
    ASSERT_TRUE(sink.WaitCount(Kind::kCanSendAgain, 1));
    EXPECT_EQ(0, server->Send(client.Get(), Block({42}).Get()));
    ASSERT_TRUE(peer.ReadMessage(&received));
    EXPECT_EQ((std::vector<uint8_t>{42}), received) << "the refused frames never went out";
}

TEST_F(FlowControlTest, OneServerSessionCarriesAThousandAndTwentyFourConnectionsAtOnce)
{
    constexpr int kConnections = 1024;
    rlimit limit{};
    ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &limit));
    if (limit.rlim_cur < 2 * kConnections + 100) {
        limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 2 * kConnections + 200);
        ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &limit));
    }
    if (limit.rlim_cur < 2 * kConnections + 100) {
        GTEST_SKIP() << "the open-file limit cannot be raised far enough";
    }
    CServerSink& serverSink = ServerSink();
    serverSink.m_onReceive = [](IOrvServerSession* server, IOrvID* client, COrvMessageBlock* frame) {
        server->Send(client, frame);
    };
    auto server = OpenServer(serverSink);
    ASSERT_TRUE(server);
    std::vector<CClientSink*> sinks;
    std::vector<CRefPtr<IOrvClientSession>> clients;
    for (int i = 0; i < kConnections; ++i) {
        sinks.push_back(&ClientSink());
        clients.push_back(Connect(*sinks.back(), server->GetListenPort(), 30));
    }
    ASSERT_TRUE(serverSink.WaitCount(Kind::kJoin, kConnections, std::chrono::milliseconds(60000)));
    for (int i = 0; i < kConnections; ++i) {
        ASSERT_TRUE(sinks[i]->WaitCount(Kind::kJoin, 1));
        ASSERT_EQ(0u, sinks[i]->Of(Kind::kJoin)[0].value);
        ASSERT_EQ(0, clients[i]->Send(0, Block(PatternBytes(100, i)).Get()));
    }
    for (int i = 0; i < kConnections; ++i) {
        ASSERT_TRUE(sinks[i]->WaitCount(Kind::kReceive, 1));
        EXPECT_EQ(PatternBytes(100, i), sinks[i]->Of(Kind::kReceive)[0].bytes);
    }
    for (auto& client : clients) {
        client->Close(0);
    }
    ASSERT_TRUE(serverSink.WaitCount(Kind::kLeave, kConnections, std::chrono::milliseconds(60000)));
    EXPECT_EQ(size_t(kConnections), serverSink.Count(Kind::kLeave));
    EXPECT_TRUE(serverSink.Faults().empty());
}

}  // namespace
