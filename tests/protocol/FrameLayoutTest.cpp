#include <gtest/gtest.h>

#include <string>

#include "platform/Zot.h"
#include "protocol/ControlMessage.h"
#include "protocol/FrameCodec.h"

using namespace ORV::PELLAX;

namespace {

// The header and its entries as hexadecimal text, so a wrong byte shows where it is.
std::string Encode(CPellaxMessageHeader& header)
{
    MessageBlockPtr block = COrvMessageBlock::Create(header.GetHeaderSize());
    EXPECT_EQ(header.Encode(block.Get(), false), 0);
    std::string hex;
    for (const uint8_t* p = block->GetReadPtr(); p != block->GetReadPtr() + block->GetLength(); ++p) {
        hex += {"0123456789ABCDEF"[*p >> 4], "0123456789ABCDEF"[*p & 15]};
    }
    return hex;
}

// Every field holds bytes that tell a swapped or shifted field apart; the frame carries the tick of
// its encoding, not the timestamp the header was made with.
TEST(FrameLayout, AHeaderIs156BigEndianBytesThenItsExtensionEntriesInListOrderAndDecodesBack)
{
    ZOT_SetTickSource([] { return uint64_t(0x1122334455667788ull); });
    CPellaxMessageHeader header(0x01020304, 0x00010203, 0x80000005, 999, 0xAB, 0);
    const uint8_t data[] = {0xDE, 0xAD, 0xBF};
    header.AddExtHeader(CPellaxExtMessageHeader(0x0A0B0C0D, 3, data));
    header.AddExtHeader(CPellaxExtMessageHeader(5, 0, nullptr));
    // Version, two reserved bytes, flag, sequence, tick, command, body length, extension length,
    // zeros up to 156, then each entry's type, length and data.
    const std::string expected = "010000AB" "80000005" "1122334455667788" "01020304" "00010203" "0013" +
                                 std::string(2 * 130, '0') + "0A0B0C0D" "00000003" "DEADBF" "00000005" "00000000";
    EXPECT_EQ(Encode(header), expected);
    // Decoded, it encodes to the same bytes and leaves the read position at the body.
    MessageBlockPtr block = COrvMessageBlock::Create(header.GetHeaderSize() + 0x00010203);
    ASSERT_EQ(header.Encode(block.Get(), false), 0);
    ASSERT_EQ(block->SetWritePos(block->GetWritePos() + 0x00010203), 0);
    MessageHeaderPtr decoded;
    ASSERT_EQ(DecodeFrame(block.Get(), &decoded), 0);
    EXPECT_EQ(decoded->GetTimestamp(), 0x1122334455667788ull);
    EXPECT_EQ(Encode(*decoded), expected);
    EXPECT_EQ(block->GetLength(), 0x00010203u);
    ZOT_SetTickSource(nullptr);
}

// Truncated and lying frames are fed through the wire by the hostile tests, and oversized extension
// areas and negative lengths by the send tests; these records only this layer sees.
TEST(FrameLayout, HeadersAndHostRecordsThatCannotBeFramedAreRefused)
{
    CPellaxMessageHeader header(2, 5, 1, 0, 0, 0);
    MessageBlockPtr frame;
    EXPECT_EQ(EncodeFrame(&header, "abc", 3, false, &frame), -4) << "a body other than the header's";
    EXPECT_EQ(EncodeFrame(nullptr, "abc", 3, false, &frame), -4);
    EXPECT_FALSE(frame);
    PELLAX_MessageExt endless{1, 0, nullptr, nullptr};
    endless.next = &endless;
    PELLAX_MessageExt noData{2, 5, nullptr, nullptr};
    for (PELLAX_MessageExt* ext : {&endless, &noData}) {
        PELLAX_Message message{};
        message.command = 2;
        message.ext = ext;
        EXPECT_EQ(FillMessageHeader(message, &header), -4) << ext->type;
    }
}

// How a wrong control body is answered is checked on the wire; these are the reader's own limits.
TEST(ControlBodies, TheBodyEndsAtItsLengthOrAZeroByteAndDeepNestingIsRefusedWithoutRecursion)
{
    const std::string body = R"({"params":{"a":1}})";
    const struct {
        std::string text;
        const char* params;  // null: not JSON
    } cases[] = {
        {body.substr(0, body.size() - 1), nullptr},
        {body + std::string(1, '\0') + "garbage", R"({"a":1})"},
        {R"({"params":)" + std::string(200000, '[') + std::string(200000, ']') + "}", nullptr},
        {R"({"params":{"s":"[[[[\"[[["}})", R"({"s":"[[[[\"[[["})"},
    };
    for (const auto& c : cases) {
        std::string params;
        EXPECT_EQ(ReadParams(c.text.data(), c.text.size(), &params),
                  c.params ? ControlReadResult::kOk : ControlReadResult::kParseError) << c.text.substr(0, 20);
        EXPECT_TRUE(c.params == nullptr || params == c.params) << params;
    }
}

}  // namespace
