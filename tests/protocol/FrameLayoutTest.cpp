#include <gtest/gtest.h>

#include <vector>

#include "platform/Zot.h"
#include "protocol/FrameCodec.h"
#include "protocol/PellaxMessageHeader.h"
#include "support/WireFrame.h"

using ORV::PELLAX::CPellaxExtMessageHeader;
using ORV::PELLAX::CPellaxMessageHeader;
using ORV::PELLAX::MessageHeaderPtr;

namespace {

uint64_t FixedTick()
{
    return 0x1122334455667788ull;
}

class FrameLayout : public ::testing::Test {
protected:
    void SetUp() override { ZOT_SetTickSource(&FixedTick); }
    void TearDown() override { ZOT_SetTickSource(nullptr); }
};

std::vector<uint8_t> Bytes(const COrvMessageBlock& block)
{
    return std::vector<uint8_t>(block.GetReadPtr(), block.GetReadPtr() + block.GetLength());
}

std::vector<uint8_t> Encode(CPellaxMessageHeader& header)
{
    MessageBlockPtr block = COrvMessageBlock::Create(header.GetHeaderSize());
    EXPECT_EQ(header.Encode(block.Get(), false), 0);
    return Bytes(*block);
}

TEST_F(FrameLayout, APlainHeaderIs156BigEndianBytesStampedAtEncoding)
{
    CPellaxMessageHeader header(0x01020304, 0xA0B0C0D0, 1, 999, 0xAB, 0);
    std::vector<uint8_t> expected(156, 0);
    const uint8_t fixedPart[] = {
        0x01, 0x00, 0x00, 0xAB,                          // version, reserved, reserved, flag
        0x00, 0x00, 0x00, 0x01,                          // sequence
        0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,  // tick at encoding, not 999
        0x01, 0x02, 0x03, 0x04,                          // command
        0xA0, 0xB0, 0xC0, 0xD0,                          // body length
        0x00, 0x00,                                      // extension length
    };
    std::copy(std::begin(fixedPart), std::end(fixedPart), expected.begin());

    EXPECT_EQ(header.GetHeaderSize(), 156u);
    EXPECT_EQ(Encode(header), expected);
    EXPECT_EQ(header.GetTimestamp(), 0u) << "the constructor's timestamp is not kept";
}

TEST_F(FrameLayout, ExtensionEntriesFollowTheFixedPartInListOrder)
{
    CPellaxMessageHeader header(2, 0, 7, 0, 0, 0);
    const uint8_t data[] = {0xDE, 0xAD, 0xBF};
    header.AddExtHeader(CPellaxExtMessageHeader(0x0A0B0C0D, 3, data));
    header.AddExtHeader(CPellaxExtMessageHeader(5, 0, nullptr));

    std::vector<uint8_t> bytes = Encode(header);

    ASSERT_EQ(bytes.size(), 175u);
    EXPECT_EQ(header.GetExtLength(), 19u);
    EXPECT_EQ(bytes[24], 0x00);
    EXPECT_EQ(bytes[25], 19);
    const std::vector<uint8_t> entries = {0x0A, 0x0B, 0x0C, 0x0D, 0, 0, 0, 3, 0xDE, 0xAD, 0xBF,
                                          0x00, 0x00, 0x00, 0x05, 0, 0, 0, 0};
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 156, bytes.end()), entries);
}

TEST_F(FrameLayout, AHandWrittenFrameDecodesWithEntriesInOrderAndTheBodyNext)
{
    pellax_test::WireFrame wire;
    wire.flag = 0x7F;
    wire.sequence = 0x80000005;
    wire.timestamp = 0x0102030405060708ull;
    wire.command = 0x12345679;
    wire.exts = {{9, {1, 2}}, {3, {}}, {1, {7, 7, 7, 7}}};
    wire.SetBody("payload");
    std::vector<uint8_t> bytes = pellax_test::EncodeFrame(wire);
    MessageBlockPtr block = COrvMessageBlock::Create(bytes.data(), bytes.size());

    MessageHeaderPtr header;
    ASSERT_EQ(ORV::PELLAX::DecodeFrame(block.Get(), &header), 0);

    EXPECT_EQ(header->GetFlag(), 0x7F);
    EXPECT_EQ(header->GetSequence(), 0x80000005u);
    EXPECT_EQ(header->GetTimestamp(), 0x0102030405060708ull);
    EXPECT_EQ(header->GetCommand(), 0x12345679u);
    EXPECT_EQ(header->GetBodyLength(), 7u);
    const auto& entries = header->ExtHeaders();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].GetType(), 9u);
    EXPECT_EQ(entries[1].GetType(), 3u);
    EXPECT_EQ(entries[1].GetLength(), 0u);
    EXPECT_EQ(entries[2].GetType(), 1u);
    uint8_t* data = nullptr;
    uint32_t length = 0;
    ASSERT_TRUE(entries[2].GetData(&data, &length));
    EXPECT_EQ(std::vector<uint8_t>(data, data + length), std::vector<uint8_t>({7, 7, 7, 7}));
    delete[] data;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(block->GetReadPtr()), block->GetLength()), "payload");
}

TEST_F(FrameLayout, AHostRecordBecomesAFrameThePeerReadsBack)
{
    uint8_t first[] = {1, 2, 3};
    uint8_t second[] = {9};
    PELLAX_MessageExt tail{22, 1, second, nullptr};
    PELLAX_MessageExt head{11, 3, first, &tail};
    uint8_t body[] = {'h', 'i'};
    PELLAX_Message message{};
    message.command = 1000;
    message.data = body;
    message.dataLength = 2;
    message.ext = &head;
    message.sequence = 42;
    message.flag = 0x1FF;

    MessageHeaderPtr header;
    ASSERT_EQ(ORV::PELLAX::CreateMessageHeader(message, &header), 0);
    MessageBlockPtr frame;
    ASSERT_EQ(ORV::PELLAX::EncodeFrame(header.Get(), body, sizeof(body), false, &frame), 0);

    pellax_test::WireFrame wire;
    ASSERT_TRUE(pellax_test::DecodeFrame(Bytes(*frame), &wire));
    EXPECT_EQ(wire.command, 1000u);
    EXPECT_EQ(wire.sequence, 42u);
    EXPECT_EQ(wire.flag, 0xFF) << "only the low 8 bits of the flag travel";
    EXPECT_EQ(wire.timestamp, FixedTick());
    ASSERT_EQ(wire.exts.size(), 2u);
    EXPECT_EQ(wire.exts[0].type, 11u);
    EXPECT_EQ(wire.exts[0].data, std::vector<uint8_t>({1, 2, 3}));
    EXPECT_EQ(wire.exts[1].type, 22u);
    EXPECT_EQ(wire.BodyText(), "hi");
}

TEST_F(FrameLayout, EncodeFrameRefusesABodyThatDisagreesWithTheHeader)
{
    CPellaxMessageHeader header(2, 5, 1, 0, 0, 0);
    MessageBlockPtr frame;
    EXPECT_EQ(ORV::PELLAX::EncodeFrame(&header, "abc", 3, false, &frame), -4);
    EXPECT_EQ(ORV::PELLAX::EncodeFrame(nullptr, "abc", 3, false, &frame), -4);
    EXPECT_FALSE(frame);
}

}  // namespace
