// Data frames from a raw client reach the host whole; malformed ones reach nobody.
#include "ServerFixture.h"

namespace pellax_test {
namespace {

WireFrame DataFrame(uint32_t command, uint32_t sequence, const std::string& body)
{
    WireFrame frame;
    frame.command = command;
    frame.sequence = sequence;
    frame.SetBody(body);
    return frame;
}

TEST_F(ServerTest, DataFrameReachesTheHostWithItsFieldsAndExtensionsInReverseOrder)
{
    ASSERT_NE(StartServer(nullptr), 0);
    CRawClientPeer peer;
    int id = Join(peer);
    ASSERT_GE(id, 0);
    WireFrame frame = DataFrame(1000, 0x1234, std::string("ab\0cd", 5));
    frame.flag = 0xA5;
    frame.timestamp = 0x0102030405060708ull;
    frame.exts = {{1, {'x'}}, {2, {}}, {3, {'y', 'z'}}};
    ASSERT_TRUE(peer.SendFrame(frame));

    Notification note;
    ASSERT_TRUE(m_notes.WaitFor(0, &note));
    EXPECT_EQ(note.id, static_cast<unsigned int>(id));
    EXPECT_EQ(note.command, 1000u);
    EXPECT_EQ(note.data, std::string("ab\0cd", 5));
    EXPECT_EQ(note.dataLength, 5);
    EXPECT_EQ(note.sequence, 0x1234u);
    EXPECT_EQ(note.timestamp, 0x0102030405060708ull);
    EXPECT_EQ(note.flag, 0xA5);
    ASSERT_EQ(note.exts.size(), 3u);
    EXPECT_EQ(note.exts[0], std::make_pair(3u, std::string("yz")));
    EXPECT_EQ(note.exts[1], std::make_pair(2u, std::string()));
    EXPECT_EQ(note.exts[2], std::make_pair(1u, std::string("x")));
}

TEST_F(ServerTest, ResponsesToNobodyAndControlAnswersFromAClientAreDataFrames)
{
    ASSERT_NE(StartServer(nullptr), 0);
    CRawClientPeer peer;
    ASSERT_GE(Join(peer), 0);
    ASSERT_TRUE(peer.SendFrame(DataFrame(11, 3, "k")));
    ASSERT_TRUE(peer.SendFrame(DataFrame(7, 4, "")));
    ASSERT_TRUE(m_notes.WaitForCount(0, 2));
    std::vector<uint32_t> commands;
    for (const Notification& note : m_notes.Snapshot()) {
        if (note.type == 0) {
            commands.push_back(note.command);
        }
    }
    EXPECT_EQ(commands, (std::vector<uint32_t>{11, 7}));
}

TEST_F(ServerTest, ShortFrameIsDroppedWithALogLineAndTheConnectionGoesOn)
{
    ASSERT_NE(StartServer(nullptr), 0);
    CRawClientPeer peer;
    ASSERT_GE(Join(peer), 0);
    WireFrame longBody = DataFrame(2, 1, "0123456789");
    longBody.bodyLengthField = 100;
    WireFrame longExt = DataFrame(2, 2, "abc");
    longExt.extLengthField = 40;
    WireFrame shortRegister = MakeRegister(3, "{\"pid\":1}");
    shortRegister.bodyLengthField = 500;
    ASSERT_TRUE(peer.SendFrame(longBody));
    ASSERT_TRUE(peer.SendFrame(longExt));
    ASSERT_TRUE(peer.SendFrame(shortRegister));
    ASSERT_TRUE(peer.SendBytes(EncodeMessage(std::vector<uint8_t>(20, 0))));
    ASSERT_TRUE(peer.SendFrame(DataFrame(4, 5, "after")));

    Notification note;
    ASSERT_TRUE(m_notes.WaitFor(0, &note));
    EXPECT_EQ(note.data, "after");
    EXPECT_EQ(m_notes.Count(0), 1u);
    EXPECT_EQ(m_notes.Count(5), 0u);
    EXPECT_TRUE(peer.ReceivesNothing(std::chrono::milliseconds(100)));  // the short Register got no answer
    size_t dropped = 0;
    for (const LogLine& line : RecordedLogs()) {
        dropped += line.level == 4 && line.text.find("CServerSession::OnReceive(") != std::string::npos &&
                           line.text.find("dropped") != std::string::npos
                       ? 1
                       : 0;
    }
    EXPECT_EQ(dropped, 4u);
}

}  // namespace
}  // namespace pellax_test
