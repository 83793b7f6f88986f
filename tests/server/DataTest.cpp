// Data frames from a raw client reach the host whole; malformed ones reach nobody.
#include "ServerFixture.h"

namespace pellax_test {
namespace {

TEST_F(ServerTest, DataFramesReachTheHostWithTheirFieldsAndExtensionsInReverseOrder)
{
    ASSERT_NE(StartServer(nullptr), 0);
    CRawClientPeer peer;
    int id = Join(peer);
    ASSERT_GE(id, 0);
    WireFrame frame = MakeFrame(1000, 0x1234, std::string("ab\0cd", 5));
    frame.flag = 0xA5;
    frame.timestamp = 0x0102030405060708ull;
    frame.exts = {{1, {'x'}}, {2, {}}, {3, {'y', 'z'}}};
    ASSERT_TRUE(peer.SendFrame(frame));
    // A response nobody waits for and a control answer from a client are data frames too.
    ASSERT_TRUE(peer.SendFrame(MakeFrame(11, 3, "k")));
    ASSERT_TRUE(peer.SendFrame(MakeFrame(7, 4, "")));

    ASSERT_TRUE(m_host->WaitForCount(0, 3));
    std::vector<HostEvent> notes = m_host->Events(0);
    EXPECT_EQ(notes[0].id, static_cast<unsigned int>(id));
    EXPECT_EQ(notes[0].command, 1000u);
    EXPECT_EQ(notes[0].data, std::string("ab\0cd", 5));
    EXPECT_EQ(notes[0].sequence, 0x1234u);
    EXPECT_EQ(notes[0].timestamp, 0x0102030405060708ull);
    EXPECT_EQ(notes[0].flag, 0xA5);
    std::vector<std::pair<uint32_t, std::string>> reversed = {{3, "yz"}, {2, ""}, {1, "x"}};
    EXPECT_EQ(notes[0].exts, reversed);
    EXPECT_EQ(notes[1].command, 11u);
    EXPECT_EQ(notes[2].command, 7u);
}

TEST_F(ServerTest, ShortFrameIsDroppedWithALogLineAndTheConnectionGoesOn)
{
    ASSERT_NE(StartServer(nullptr), 0);
    CRawClientPeer peer;
    ASSERT_GE(Join(peer), 0);
    WireFrame longBody = MakeFrame(2, 1, "0123456789");
    longBody.bodyLengthField = 100;
    WireFrame longExt = MakeFrame(2, 2, "abc");
    longExt.extLengthField = 40;
    WireFrame shortRegister = MakeRegister(3, "{\"pid\":1}");
    shortRegister.bodyLengthField = 500;
    ASSERT_TRUE(peer.SendFrame(longBody));
    ASSERT_TRUE(peer.SendFrame(longExt));
    ASSERT_TRUE(peer.SendFrame(shortRegister));
    ASSERT_TRUE(peer.SendBytes(EncodeMessage(std::vector<uint8_t>(20, 0))));
    ASSERT_TRUE(peer.SendFrame(MakeFrame(4, 5, "after")));

    HostEvent note;
    ASSERT_TRUE(m_host->WaitFor(0, -1, &note));
    EXPECT_EQ(note.data, "after");
    EXPECT_EQ(m_host->Count(0), 1u);
    EXPECT_EQ(m_host->Count(5), 0u);
    EXPECT_TRUE(peer.ReceivesNothing(std::chrono::milliseconds(100)));  // the short Register got no answer
    size_t dropped = 0;
    for (const LogLine& line : LogLines()) {
        dropped += line.level == 4 && line.text.find("CServerSession::OnReceive(") != std::string::npos &&
                   line.text.find("dropped") != std::string::npos;
    }
    EXPECT_EQ(dropped, 4u);
}

}  // namespace
}  // namespace pellax_test
