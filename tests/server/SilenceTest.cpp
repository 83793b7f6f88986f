// Silent clients are dropped after twice the keepalive time-out; talking ones stay.
#include <unistd.h>

#include <thread>

#include "ServerFixture.h"

namespace pellax_test {
namespace {

constexpr const char* kFastKeepalive = "{\"keepalive-interval\":1,\"keepalive-timeout\":1}";

TEST_F(ServerTest, SilentClientIsDroppedALittleAfterTwiceTheTimeout)
{
    ASSERT_NE(StartServer(kFastKeepalive), 0);
    CRawClientPeer silent;
    int id = Join(silent);
    ASSERT_GE(id, 0);
    auto joined = std::chrono::steady_clock::now();
    Notification note;
    ASSERT_TRUE(m_notes.WaitFor(4, &note));
    auto elapsed = std::chrono::steady_clock::now() - joined;
    EXPECT_EQ(note.id, static_cast<unsigned int>(id));
    EXPECT_GT(elapsed, std::chrono::milliseconds(2000));
    EXPECT_LT(elapsed, std::chrono::milliseconds(6000));
    EXPECT_TRUE(silent.WaitClosed());
    EXPECT_EQ(m_notes.Count(4), 1u);  // the leave that follows the drop is not reported twice
}

TEST_F(ServerTest, ClientThatKeepsSendingStays)
{
    ASSERT_NE(StartServer(kFastKeepalive), 0);
    CRawClientPeer talker;
    int id = Join(talker);
    ASSERT_GE(id, 0);
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(3500);
    uint32_t sequence = 1;
    while (std::chrono::steady_clock::now() < until) {
        WireFrame answer;
        ASSERT_TRUE(talker.SendFrame(MakeKeepalive(sequence++, "{\"pid\":1}")));
        ASSERT_TRUE(talker.ReceiveFrame(&answer));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    EXPECT_EQ(m_notes.Count(4), 0u);
    PELLAX_Message message{};
    unsigned char byte = 1;
    message.command = 2;
    message.data = &byte;
    message.dataLength = 1;
    EXPECT_EQ(PELLAX_SERVER_Send(id, &message), 0);
}

TEST_F(ServerTest, KeepaliveSettingsBelowOneSecondAreTreatedAsMissing)
{
    ASSERT_NE(StartServer("{\"keepalive-interval\":0,\"keepalive-timeout\":-3}"), 0);
    CRawClientPeer peer;
    ASSERT_GE(Join(peer), 0);
    WireFrame answer;
    ASSERT_TRUE(Register(peer, 1, "{\"pid\":1}", &answer));
    EXPECT_EQ(answer.BodyText(), "{\"resultCode\":\"200\",\"message\":\"OK\",\"data\":{\"ppid\":" +
                                     std::to_string(getpid()) + ",\"keepalive-interval\":5,\"keepalive-timeout\":30}}");
    // A time-out of 0 would drop the client at the first scan, one second after the join.
    EXPECT_TRUE(peer.ReceivesNothing(std::chrono::milliseconds(1500)));
    EXPECT_EQ(m_notes.Count(4), 0u);
}

TEST_F(ServerTest, OptionsOfOtherTypesGiveTheDefaults)
{
    ASSERT_NE(StartServer("{\"keepalive-interval\":\"10\",\"keepalive-timeout\":2.5}"), 0);
    CRawClientPeer peer;
    ASSERT_GE(Join(peer), 0);
    WireFrame answer;
    ASSERT_TRUE(Register(peer, 1, "{\"pid\":1}", &answer));
    EXPECT_NE(answer.BodyText().find("\"keepalive-interval\":5,\"keepalive-timeout\":30}"), std::string::npos);
    ASSERT_EQ(PELLAX_SERVER_DestroySession(), 0);

    ASSERT_NE(StartServer("{\"keepalive-interval\":10}"), 0);
    CRawClientPeer second;
    ASSERT_GE(Join(second), 0);
    ASSERT_TRUE(Register(second, 1, "{\"pid\":1}", &answer));
    EXPECT_NE(answer.BodyText().find("\"keepalive-interval\":10,\"keepalive-timeout\":30}"), std::string::npos);
}

}  // namespace
}  // namespace pellax_test
