// Silent clients are dropped after twice the keepalive time-out; talking ones stay.
#include <thread>

#include "ServerFixture.h"

namespace pellax_test {
namespace {

TEST_F(ServerTest, SilentClientIsDroppedALittleAfterTwiceTheTimeoutWhileATalkingOneStays)
{
    ASSERT_NE(StartServer("{\"keepalive-interval\":1,\"keepalive-timeout\":1}"), 0);
    CRawClientPeer silent;
    CRawClientPeer talker;
    // Taken before the join: the server's clock for the silent client starts somewhere inside it.
    auto joined = std::chrono::steady_clock::now();
    int silentId = Join(silent);
    int talkerId = Join(talker);
    ASSERT_GE(silentId, 0);
    ASSERT_GE(talkerId, 0);

    // The talker keeps the server busy until well past the silent client's drop.
    auto until = joined + std::chrono::milliseconds(3500);
    for (uint32_t sequence = 1; std::chrono::steady_clock::now() < until; ++sequence) {
        WireFrame answer;
        ASSERT_TRUE(talker.SendFrame(MakeKeepalive(sequence, "{\"pid\":1}")));
        ASSERT_TRUE(talker.ReceiveFrame(&answer));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    HostEvent note;
    ASSERT_TRUE(m_host->WaitFor(4, -1, &note));
    auto elapsed = note.at - joined;
    EXPECT_EQ(note.id, static_cast<unsigned int>(silentId));
    EXPECT_GT(elapsed, std::chrono::milliseconds(2000));
    EXPECT_LT(elapsed, std::chrono::milliseconds(6000));
    EXPECT_TRUE(silent.WaitClosed());
    EXPECT_EQ(m_host->Count(4), 1u);  // the leave that follows the drop is not reported twice
    std::string body = "x";
    PELLAX_Message message = MakeRecord(2, 0, body);
    EXPECT_EQ(PELLAX_SERVER_Send(talkerId, &message), 0);
}

// Settings below 1 or of another type give the defaults (5/30); a time-out of 0 would drop every
// client at the first scan.
TEST_F(ServerTest, KeepaliveSettingsBelowOneSecondOrOfOtherTypesGiveTheDefaults)
{
    struct Case {
        const char* options;
        const char* settings;
        bool watchForDrop;
    };
    const char* defaults = ",\"keepalive-interval\":5,\"keepalive-timeout\":30";
    const Case cases[] = {
        {"{\"keepalive-interval\":0,\"keepalive-timeout\":-3}", defaults, true},
        {"{\"keepalive-interval\":\"10\",\"keepalive-timeout\":2.5}", defaults, false},
        {"{\"keepalive-interval\":10}", ",\"keepalive-interval\":10,\"keepalive-timeout\":30", false},
    };
    for (const auto& [options, settings, watchForDrop] : cases) {
        ASSERT_NE(StartServer(options), 0) << options;
        CRawClientPeer peer;
        ASSERT_GE(Join(peer), 0);
        WireFrame answer;
        ASSERT_TRUE(Register(peer, 1, "{\"pid\":1}", &answer));
        EXPECT_EQ(answer.BodyText(), OkAnswer(settings)) << options;
        if (watchForDrop) {
            EXPECT_TRUE(peer.ReceivesNothing(std::chrono::milliseconds(1500)));
            EXPECT_EQ(m_host->Count(4), 0u);
        }
        ASSERT_EQ(PELLAX_SERVER_DestroySession(), 0);
    }
}

}  // namespace
}  // namespace pellax_test
