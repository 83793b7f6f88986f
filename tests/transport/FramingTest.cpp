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

}  // namespace
