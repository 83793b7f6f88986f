#include <gtest/gtest.h>

#include <thread>

#include "transport/TransportSinks.h"

using namespace transport_test;
using pellax_test::BigEndianLength;
using pellax_test::CRawSocket;
using pellax_test::PatternBytes;
using pellax_test::WireMessage;

namespace {

// A plain socket on the far side checks the bytes on the wire, both ways.
class FramingTest : public TransportTest {
protected:
    void SetUp() override
    {
        TransportTest::SetUp();
        m_server = OpenServer(m_sink);
        ASSERT_TRUE(m_server);
        m_peer = Peer(1);
        ASSERT_FALSE(HasFailure());
    }

    // The n-th connection to the server, joined.
    CRawSocket Peer(size_t n)
    {
        CRawSocket peer = CRawSocket::Connect(m_server->GetListenPort());
        EXPECT_TRUE(peer.IsValid());
        EXPECT_TRUE(m_sink.WaitCount(Kind::kJoin, n));
        return peer;
    }

    CServerSink& m_sink = ServerSink();
    CRefPtr<IOrvServerSession> m_server;
    CRawSocket m_peer;
};

TEST_F(FramingTest, ALengthOfZeroOrAboveSixtyFourMebibytesClosesTheConnectionAfterTheFramesBeforeIt)
{
    const uint32_t badLengths[] = {0, ORV_MAX_FRAME_LENGTH + 1};
    for (size_t i = 0; i < 2; ++i) {
        CRawSocket peer = i == 0 ? std::move(m_peer) : Peer(i + 1);
        ASSERT_TRUE(peer.SendAll(WireMessage({7})));
        ASSERT_TRUE(peer.SendAll(BigEndianLength(badLengths[i])));
        ASSERT_TRUE(m_sink.WaitCount(Kind::kLeave, i + 1)) << badLengths[i];
        EXPECT_EQ(ORV_REASON_BAD_LENGTH, m_sink.Of(Kind::kLeave)[i].value);
        EXPECT_EQ(i + 1, m_sink.Count(Kind::kReceive)) << "the good frame before it still arrives";
        EXPECT_TRUE(peer.WaitClosed());
    }
}

TEST_F(FramingTest, AnAnnouncedMaximumFrameThatNeverCompletesIsNoFrameAndCloseStillLeaves)
{
    std::vector<uint8_t> start = BigEndianLength(ORV_MAX_FRAME_LENGTH);
    auto part = PatternBytes(1000, 3);
    start.insert(start.end(), part.begin(), part.end());
    ASSERT_TRUE(m_peer.SendAll(start));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(0u, m_sink.Count(Kind::kReceive));
    EXPECT_EQ(0u, m_sink.Count(Kind::kLeave));
    m_peer.Close();
    ASSERT_TRUE(m_sink.WaitCount(Kind::kLeave, 1));
    EXPECT_EQ(ORV_REASON_PEER_CLOSED, m_sink.Of(Kind::kLeave)[0].value);
}

TEST_F(FramingTest, FramesSplitAcrossReadsOrPackedInOneWriteArriveWholeAndInOrder)
{
    for (uint8_t byte : WireMessage(PatternBytes(300, 1000))) {
        ASSERT_TRUE(m_peer.SendAll({byte}));
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ASSERT_TRUE(m_sink.WaitCount(Kind::kReceive, 1));

    constexpr int kFrames = 1000;
    std::vector<uint8_t> wire;
    for (int i = 0; i < kFrames; ++i) {
        auto message = WireMessage(PatternBytes(1 + i % 90, i));
        wire.insert(wire.end(), message.begin(), message.end());
    }
    ASSERT_TRUE(m_peer.SendAll(wire));
    ASSERT_TRUE(m_sink.WaitCount(Kind::kReceive, kFrames + 1));
    auto frames = m_sink.Of(Kind::kReceive);
    ASSERT_EQ(size_t(kFrames + 1), frames.size());
    EXPECT_EQ(PatternBytes(300, 1000), frames[0].bytes);
    for (int i = 0; i < kFrames; ++i) {
        ASSERT_EQ(PatternBytes(1 + i % 90, i), frames[i + 1].bytes) << "frame " << i;
    }
}

TEST_F(FramingTest, SentFramesCarryABigEndianLengthPrefix)
{
    CRefPtr<IOrvID> client = m_sink.Clients().at(0);
    auto body = PatternBytes(70000, 9);
    ASSERT_EQ(0, m_server->Send(client.Get(), Block({0xAB}).Get()));
    ASSERT_EQ(0, m_server->Send(client.Get(), Block(body).Get()));
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(m_peer.ReadExactly(&bytes, 5));
    EXPECT_EQ((std::vector<uint8_t>{0, 0, 0, 1, 0xAB}), bytes);
    ASSERT_TRUE(m_peer.ReadExactly(&bytes, 4));
    EXPECT_EQ(BigEndianLength(70000), bytes);
    ASSERT_TRUE(m_peer.ReadExactly(&bytes, 70000));
    EXPECT_EQ(body, bytes);
    EXPECT_NE(0, m_server->Send(client.Get(), Block({}).Get())) << "an empty frame cannot be framed";
}

TEST_F(FramingTest, AClientSessionFramesWhatItSendsToAPlainListener)
{
    uint16_t port = 0;
    CRawSocket listener = CRawSocket::Listen(4, &port);
    ASSERT_TRUE(listener.IsValid());
    CClientSink& clientSink = ClientSink();
    auto client = Connect(clientSink, port);
    CRawSocket accepted = listener.Accept();
    ASSERT_TRUE(accepted.IsValid());
    ASSERT_TRUE(clientSink.WaitCount(Kind::kJoin, 1));
    ASSERT_EQ(0, client->Send(0, Block({1, 2, 3}).Get()));
    std::vector<uint8_t> body;
    ASSERT_TRUE(accepted.ReadMessage(&body));
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 3}), body);
    ASSERT_TRUE(accepted.SendAll(WireMessage({4, 5})));
    ASSERT_TRUE(clientSink.WaitCount(Kind::kReceive, 1));
    EXPECT_EQ((std::vector<uint8_t>{4, 5}), clientSink.Of(Kind::kReceive)[0].bytes);
}

}  // namespace
