// Peers that send garbage, cut frames short or lie about lengths, while a good client keeps calling.
#include <sys/socket.h>

#include <thread>
#include <vector>

#include "HostileFixture.h"
#include "support/RawClientPeer.h"
#include "support/RawSocket.h"
#include "support/WireFrame.h"

namespace pellax_test {
namespace {

using namespace std::chrono_literals;

WireFrame RequestWithExtensions(uint32_t sequence)
{
    WireFrame frame;
    frame.command = 3000;
    frame.sequence = sequence;
    frame.exts = {{7, {'m', 'e', 't', 'a'}}, {8, PatternBytes(20, 8)}};
    frame.body = PatternBytes(40, sequence);
    return frame;
}

// Malformed frames inside well-formed messages: every one must be dropped, none answered.
std::vector<std::vector<uint8_t>> LyingFrames()
{
    std::vector<std::vector<uint8_t>> frames;
    std::vector<uint8_t> whole = EncodeFrame(RequestWithExtensions(1));
    for (size_t length = 1; length < whole.size(); ++length) {
        frames.emplace_back(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
    }
    for (uint32_t bodyLength : {41u, 1000u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        WireFrame frame = RequestWithExtensions(2);
        frame.bodyLengthField = bodyLength;
        frames.push_back(EncodeFrame(frame));
    }
    for (uint16_t extLength : {uint16_t(37), uint16_t(4000), uint16_t(0xFFFF)}) {
        WireFrame frame = RequestWithExtensions(3);
        frame.extLengthField = extLength;  // the true area is 8 + 4 + 8 + 20 = 40 bytes
        frames.push_back(EncodeFrame(frame));
    }
    // The area holds 40 bytes: an entry header of 8 and at most 32 bytes of data.
    for (uint32_t entryLength : {33u, 0x10000u, 0xFFFFFFF0u}) {
        std::vector<uint8_t> bytes = EncodeFrame(RequestWithExtensions(4));
        bytes[kWireHeaderSize + 4] = uint8_t(entryLength >> 24);  // the first entry's length
        bytes[kWireHeaderSize + 5] = uint8_t(entryLength >> 16);
        bytes[kWireHeaderSize + 6] = uint8_t(entryLength >> 8);
        bytes[kWireHeaderSize + 7] = uint8_t(entryLength);
        frames.push_back(bytes);
    }
    return frames;
}

TEST_F(HostileTest, TruncatedAndLyingFramesAreDroppedAndTheConnectionStillServesAGoodFrame)
{
    CRawClientPeer liar;
    ASSERT_TRUE(liar.Connect(m_nPort));
    ASSERT_TRUE(m_server->WaitFor(1, -1, nullptr));
    ASSERT_TRUE(WaitUntil([&] { return m_server->Count(1) == 2; }));
    int liarId = static_cast<int>(m_server->Events(1).back().id);
    std::vector<std::vector<uint8_t>> frames = LyingFrames();

    ExpectServedDuring("truncated and lying frames", [&](std::atomic<bool>& stop) {
        while (!stop) {
            for (const std::vector<uint8_t>& frame : frames) {
                if (!liar.SendBytes(EncodeMessage(frame))) {
                    return;
                }
            }
            // Messages cut short by the connection's end: the peer announced more than it sent.
            for (size_t sent : {size_t(0), size_t(3), size_t(100), size_t(200)}) {
                CRawSocket cut = CRawSocket::Connect(m_nPort);
                std::vector<uint8_t> message = EncodeMessage(RequestWithExtensions(5));
                message.resize(kWireLengthPrefix + sent);
                cut.SendAll(message);
            }
            std::this_thread::sleep_for(5ms);
        }
    });
    EXPECT_EQ(m_server->Count(0, liarId), 0u) << "a malformed frame reached the host";

    // The first answer the liar ever gets is the one to its first good frame.
    WireFrame good = RequestWithExtensions(99);
    ASSERT_TRUE(liar.SendFrame(good));
    WireFrame answer;
    ASSERT_TRUE(liar.ReceiveFrame(&answer));
    EXPECT_EQ(answer.command, 3001u);
    EXPECT_EQ(answer.sequence, 99u);
    EXPECT_EQ(answer.BodyText(), "re:" + good.BodyText());
    EXPECT_EQ(m_server->Count(0, liarId), 1u);
    liar.Close();
    ExpectBackToIdle();
}

TEST_F(HostileTest, LengthPrefixesOfZeroAndOverSixtyFourMebibytesCloseOnlyThatConnection)
{
    size_t closed = 0;
    size_t opened = 0;
    ExpectServedDuring("length prefix 0 and over 64 MiB", [&](std::atomic<bool>& stop) {
        const uint32_t prefixes[] = {0u, 64u * 1024u * 1024u + 1u, 0x80000000u, 0xFFFFFFFFu};
        for (size_t round = 0; !stop; ++round) {
            CRawSocket socket = CRawSocket::Connect(m_nPort);
            if (!socket.IsValid()) {
                continue;
            }
            ++opened;
            socket.SendAll(BigEndianLength(prefixes[round % 4]));
            closed += socket.WaitClosed(std::chrono::milliseconds(5000)) ? 1 : 0;
        }
    });
    EXPECT_GT(opened, 0u);
    EXPECT_EQ(closed, opened) << "the server kept a connection that sent a bad length";
    ExpectBackToIdle();
}

}  // namespace
}  // namespace pellax_test
