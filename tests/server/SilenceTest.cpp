// The real clock's twin of the controlled-clock silence cases (tests/clock), and the settings a
// client is told.
#include "ServerFixture.h"

namespace pellax_test {
namespace {

TEST_F(ServerTest, SilentClientIsDroppedALittleAfterTwiceTheTimeout)
{
    ASSERT_NE(StartServer("{\"keepalive-interval\":1,\"keepalive-timeout\":1}"), 0);
    CRawClientPeer silent;
    // Taken before the join: the server's clock for the silent client starts somewhere inside it.
    auto joined = std::chrono::steady_clock::now();
    int silentId = Join(silent);
    ASSERT_GE(silentId, 0);
    HostEvent note;
    ASSERT_TRUE(m_host->WaitFor(4, -1, &note));
    auto elapsed = note.at - joined;
    EXPECT_EQ(note.id, static_cast<unsigned int>(silentId));
    EXPECT_GT(elapsed, std::chrono::milliseconds(2000));
    EXPECT_LT(elapsed, std::chrono::milliseconds(6000));
    EXPECT_TRUE(silent.WaitClosed());
}

// Settings below 1 or of another type give the defaults (5/30).
TEST_F(ServerTest, KeepaliveSettingsBelowOneSecondOrOfOtherTypesGiveTheDefaults)
{
    const char* defaults = ",\"keepalive-interval\":5,\"keepalive-timeout\":30";
    const std::pair<const char*, const char*> cases[] = {
        {"{\"keepalive-interval\":0,\"keepalive-timeout\":-3}", defaults},
        {"{\"keepalive-interval\":\"10\",\"keepalive-timeout\":2.5}", defaults},
        {"{\"keepalive-interval\":10}", ",\"keepalive-interval\":10,\"keepalive-timeout\":30"},
    };
    for (const auto& [options, settings] : cases) {
        ASSERT_NE(StartServer(options), 0) << options;
        CRawClientPeer peer;
        ASSERT_GE(Join(peer), 0);
        WireFrame answer;
        ASSERT_TRUE(Register(peer, 1, "{\"pid\":1}", &answer));
        EXPECT_EQ(answer.BodyText(), OkAnswer(settings)) << options;
        ASSERT_EQ(PELLAX_SERVER_DestroySession(), 0);
    }
}

}  // namespace
}  // namespace pellax_test
