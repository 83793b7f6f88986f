// Register and Keepalive as a raw client sees them, and what the host hears of them.
#include "ServerFixture.h"

namespace pellax_test {
namespace {

TEST_F(ServerTest, ControlRequestsAreAnsweredWithSettingsAndUserDataAndReportedWithTheirParams)
{
    ASSERT_NE(StartServer("{\"keepalive-interval\":7,\"keepalive-timeout\":40}"), 0);
    const std::string settings = ",\"keepalive-interval\":7,\"keepalive-timeout\":40";
    CRawClientPeer peer;
    int id = Join(peer);
    ASSERT_GE(id, 0);
    EXPECT_EQ(PELLAX_SERVER_SetUserData(id, 0, "{\"r\":1}"), 0);
    EXPECT_EQ(PELLAX_SERVER_SetUserData(id, 1, "{\"a\":1}"), 0);
    EXPECT_EQ(PELLAX_SERVER_SetUserData(id, 2, "{\"x\":1}"), -4);
    EXPECT_EQ(PELLAX_SERVER_SetUserData(id + 1, 0, "{}"), -4);

    WireFrame answer;
    ASSERT_TRUE(Register(peer, 77, "{\"pid\":4242,\"name\":\"a b\"}", &answer));
    EXPECT_EQ(answer.command, 1u);
    EXPECT_EQ(answer.sequence, 77u);
    EXPECT_EQ(answer.flag, 0);
    EXPECT_TRUE(answer.exts.empty());
    EXPECT_EQ(answer.BodyText(), OkAnswer(settings + ",\"userdata\":{\"r\":1}"));
    HostEvent note;
    ASSERT_TRUE(m_host->WaitFor(5, id, &note));
    EXPECT_EQ(note.data, "{\"pid\":4242,\"name\":\"a b\"}");
    EXPECT_EQ(note.command, 0xFFFFFFFFu);
    EXPECT_EQ(note.sequence, 0xFFFFFFFFu);
    EXPECT_EQ(note.flag, 0);
    EXPECT_TRUE(note.exts.empty());
    EXPECT_TRUE(HasLogLine(3, "[ORV::PELLAX::CServer::OnRegister("));
    EXPECT_TRUE(HasLogLine(3, "[clientID=" + std::to_string(id) + "]register success."));

    ASSERT_TRUE(peer.SendFrame(MakeKeepalive(2, "{\"pid\":5,\"userdata\":{\"k\":[1,2]}}")));
    ASSERT_TRUE(peer.ReceiveFrame(&answer));
    EXPECT_EQ(answer.command, 11u);
    EXPECT_EQ(answer.sequence, 2u);
    EXPECT_EQ(answer.BodyText(), OkAnswer(",\"userdata\":{\"a\":1}"));
    ASSERT_TRUE(m_host->WaitFor(6, id, &note));
    EXPECT_EQ(note.data, "{\"pid\":5,\"userdata\":{\"k\":[1,2]}}");
    EXPECT_EQ(note.command, 0xFFFFFFFFu);

    // A null or empty text leaves the member out.
    EXPECT_EQ(PELLAX_SERVER_SetUserData(id, 1, nullptr), 0);
    EXPECT_EQ(PELLAX_SERVER_SetUserData(id, 0, ""), 0);
    ASSERT_TRUE(peer.SendFrame(MakeKeepalive(3, "{\"pid\":1}")));
    ASSERT_TRUE(peer.ReceiveFrame(&answer));
    EXPECT_EQ(answer.BodyText(), OkAnswer(""));
    ASSERT_TRUE(Register(peer, 4, "{\"pid\":1}", &answer));
    EXPECT_EQ(answer.BodyText(), OkAnswer(settings));

    peer.Close();
    ASSERT_TRUE(m_host->WaitFor(4, id, &note));
    EXPECT_FALSE(note.hasRecord);
    EXPECT_EQ(m_host->Count(3), 0u);
}

TEST_F(ServerTest, UnparsableRegisterIsStillAnsweredButUnparsableKeepaliveIsNot)
{
    ASSERT_NE(StartServer(nullptr), 0);
    CRawClientPeer peer;
    ASSERT_GE(Join(peer), 0);

    WireFrame answer;
    ASSERT_TRUE(peer.SendFrame(MakeFrame(0, 5, "{not json")));
    ASSERT_TRUE(peer.ReceiveFrame(&answer));
    EXPECT_EQ(answer.command, 1u);
    EXPECT_EQ(answer.sequence, 5u);
    EXPECT_NE(answer.BodyText().find("\"resultCode\":\"200\""), std::string::npos);
    EXPECT_TRUE(WaitUntil([] { return HasLogLine(5, "[rsp={not json]parse json failed"); }));

    ASSERT_TRUE(peer.SendFrame(MakeFrame(0, 6, "{\"method\":\"Register\",\"params\":[1]}")));
    ASSERT_TRUE(peer.ReceiveFrame(&answer));
    EXPECT_EQ(answer.sequence, 6u);
    EXPECT_TRUE(WaitUntil([] { return HasLogLine(5, "]not found params"); }));

    ASSERT_TRUE(peer.SendFrame(MakeFrame(10, 7, "{not json")));
    EXPECT_TRUE(peer.ReceivesNothing(std::chrono::milliseconds(300)));

    // An array "params" is answered but not reported.
    ASSERT_TRUE(peer.SendFrame(MakeFrame(10, 8, "{\"method\":\"Keepalive\",\"params\":[]}")));
    ASSERT_TRUE(peer.ReceiveFrame(&answer));
    EXPECT_EQ(answer.sequence, 8u);
    EXPECT_EQ(m_host->Count(5), 0u);
    EXPECT_EQ(m_host->Count(6), 0u);
}

}  // namespace
}  // namespace pellax_test
