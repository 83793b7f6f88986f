#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Zot.h"
#include "protocol/ControlMessage.h"
#include "protocol/FrameCodec.h"

using namespace ORV::PELLAX;

namespace {

constexpr uint64_t kTick = 0x1122334455667788ull;

std::vector<uint8_t> Encode(CPellaxMessageHeader& header)
{
    MessageBlockPtr block = COrvMessageBlock::Create(header.GetHeaderSize());
    EXPECT_EQ(header.Encode(block.Get(), false), 0);
    return std::vector<uint8_t>(block->GetReadPtr(), block->GetReadPtr() + block->GetLength());
}

// Every field holds bytes that tell a swapped or shifted field apart; the frame carries the tick of
// its encoding, not the timestamp the header was made with.
TEST(FrameLayout, AHeaderIs156BigEndianBytesThenItsExtensionEntriesInListOrderAndDecodesBack)
{
    ZOT_SetTickSource([] { return kTick; });
    CPellaxMessageHeader header(0x01020304, 0x00010203, 0x80000005, 999, 0xAB, 0);
    const uint8_t data[] = {0xDE, 0xAD, 0xBF};
    header.AddExtHeader(CPellaxExtMessageHeader(0x0A0B0C0D, 3, data));
    header.AddExtHeader(CPellaxExtMessageHeader(5, 0, nullptr));
    std::vector<uint8_t> expected = {
        0x01, 0x00, 0x00, 0xAB,                          // version, reserved, reserved, flag
        0x80, 0x00, 0x00, 0x05,                          // sequence
        0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,  // tick at encoding, not 999
        0x01, 0x02, 0x03, 0x04,                          // command
        0x00, 0x01, 0x02, 0x03,                          // body length
        0x00, 19,                                        // extension length
    };
    expected.resize(156);
    const uint8_t entries[] = {0x0A, 0x0B, 0x0C, 0x0D, 0, 0, 0, 3, 0xDE, 0xAD, 0xBF, 0, 0, 0, 5, 0, 0, 0, 0};
    expected.insert(expected.end(), std::begin(entries), std::end(entries));
    std::vector<uint8_t> bytes = Encode(header);
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(header.GetTimestamp(), 0u) << "the constructor's timestamp is not kept";
    EXPECT_EQ(CPellaxMessageHeader(2, 0, 1, 0, 0, 0).GetHeaderSize(), 156u);

    // Decoded, it encodes to the same bytes and leaves the read position at the body.
    const std::string body(0x00010203, 'p');
    bytes.insert(bytes.end(), body.begin(), body.end());
    MessageBlockPtr block = COrvMessageBlock::Create(bytes.data(), bytes.size());
    MessageHeaderPtr decoded;
    ASSERT_EQ(DecodeFrame(block.Get(), &decoded), 0);
    EXPECT_EQ(decoded->GetTimestamp(), kTick);
    EXPECT_EQ(Encode(*decoded), expected);
    EXPECT_EQ(block->GetLength(), body.size());
    ZOT_SetTickSource(nullptr);
}

// Truncated and lying frames are fed through the wire by the hostile tests, and extension areas at
// and over 65535 bytes by the send tests; what a host record may not hold is checked here.
TEST(FrameLayout, HeadersAndHostRecordsThatCannotBeFramedAreRefused)
{
    CPellaxMessageHeader header(2, 5, 1, 0, 0, 0);
    MessageBlockPtr frame;
    EXPECT_EQ(EncodeFrame(&header, "abc", 3, false, &frame), -4) << "a body other than the header's";
    EXPECT_EQ(EncodeFrame(nullptr, "abc", 3, false, &frame), -4);
    EXPECT_FALSE(frame);

    std::vector<uint8_t> data(40000, 1);
    PELLAX_MessageExt second{2, 40000, data.data(), nullptr};
    PELLAX_MessageExt tooLong{1, 40000, data.data(), &second};  // 80016 extension bytes
    PELLAX_MessageExt endless{1, 0, nullptr, nullptr};          // a list that never ends
    endless.next = &endless;
    PELLAX_MessageExt noData{1, 5, nullptr, nullptr};
    PELLAX_Message message{};
    message.command = 2;
    for (PELLAX_MessageExt* ext : {&tooLong, &endless, &noData}) {
        message.ext = ext;
        EXPECT_EQ(FillMessageHeader(message, &header), -4) << ext->type;
    }
    message.ext = nullptr;
    message.dataLength = -1;
    EXPECT_EQ(FillMessageHeader(message, &header), -4);
}

// How a wrong control body is answered is checked on the wire; these are the reader's own limits.
TEST(ControlBodies, TheBodyEndsAtItsLengthOrAZeroByteAndDeepNestingIsRefusedWithoutRecursion)
{
    const std::string body = R"({"params":{"a":1}})";
    const struct {
        std::string text;
        size_t cut;  // bytes left out at the end
        const char* params;  // null: not JSON
    } cases[] = {
        {body, 1, nullptr},
        {body + std::string(1, '\0') + "garbage", 0, R"({"a":1})"},
        {R"({"params":)" + std::string(200000, '[') + std::string(200000, ']') + "}", 0, nullptr},
        {R"({"params":{"s":"[[[[\"[[["}})", 0, R"({"s":"[[[[\"[[["})"},
    };
    for (const auto& c : cases) {
        std::string params;
        ControlReadResult result = ReadParams(c.text.data(), c.text.size() - c.cut, &params);
        EXPECT_EQ(result, c.params ? ControlReadResult::kOk : ControlReadResult::kParseError) << c.text.substr(0, 20);
        EXPECT_EQ(params, c.params ? c.params : params);
    }
}

}  // namespace
