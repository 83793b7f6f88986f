#include <gtest/gtest.h>

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
    CRefPtr<IOrvID> client = sink.Clients().at(0);

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

TEST_F(FlowControlTest, AThirtyTwoMebibyteMessageArrivesWholeAndTheNextWaitsForTheDrain)
{
    CServerSink& serverSink = ServerSink();
    std::vector<CClientSink*> sinks;
    std::vector<CRefPtr<IOrvClientSession>> clients;
    auto server = OpenWithClients(serverSink, &sinks, &clients, 1);
    ASSERT_TRUE(server && !HasFailure());
    auto big = PatternBytes(32u * 1024u * 1024u, 32);
    ASSERT_EQ(0, clients[0]->Send(0, Block(big).Get()));
    // Most of it still queued is above the high-water mark: the next frame waits for the drain.
    if (clients[0]->Send(0, Block({1, 2, 3}).Get()) != 0) {
        ASSERT_TRUE(sinks[0]->WaitCount(Kind::kCanSendAgain, 1, std::chrono::milliseconds(60000)));
        ASSERT_EQ(0, clients[0]->Send(0, Block({1, 2, 3}).Get()));
    }
    ASSERT_TRUE(serverSink.WaitCount(Kind::kReceive, 2, std::chrono::milliseconds(60000)));
    auto frames = serverSink.Of(Kind::kReceive);
    EXPECT_TRUE(frames[0].bytes == big);
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 3}), frames[1].bytes);
}

}  // namespace
